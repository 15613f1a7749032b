#pragma once
// Data-aware label.

#include "client/clientdataset.h"

#include <QLabel>
#include <QPointer>

namespace host {

/// Label showing one field of a data source's current row.
class TDBText : public QLabel {
    Q_OBJECT
public:
    explicit TDBText(const QString& objectName, QWidget* parent = nullptr);
    void setDataSource(core::DataSource* ds, const QString& fieldName);
    core::DataSource* dataSource() const { return source_; }
    const QString& dataField() const { return field_; }
    /// Re-reads the field (also done on every move, load and state change).
    void refresh();

private:
    void bind();
    QPointer<core::DataSource> source_;
    QPointer<core::ClientDataset> bound_;
    QList<QMetaObject::Connection> conns_;
    QString field_;
};

} // namespace host
