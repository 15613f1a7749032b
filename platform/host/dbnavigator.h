#pragma once
// Data-aware navigator buttons.

#include "client/clientdataset.h"

#include <QPointer>
#include <QToolButton>
#include <QWidget>

namespace host {

/// Navigator: first, prior, next and last over a data source's dataset.
/// Buttons are named "btnFirst", "btnPrior", "btnNext", "btnLast".
class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit TDBNavigator(const QString& objectName, QWidget* parent = nullptr);
    void setDataSource(core::DataSource* ds);
    core::DataSource* dataSource() const { return source_; }
    QToolButton* btnFirst;
    QToolButton* btnPrior;
    QToolButton* btnNext;
    QToolButton* btnLast;
    void refresh();

private:
    void bind();
    void move(int how);
    QPointer<core::DataSource> source_;
    QPointer<core::ClientDataset> bound_;
    QList<QMetaObject::Connection> conns_;
};

} // namespace host
