#pragma once
// Proxy that keeps the rows in which any column's text contains a typed
// needle (letter case ignored); an empty needle keeps every row. The
// pickers narrow their list with it while the user types.

#include <QSortFilterProxyModel>

namespace host {

class AnyColumnFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    /// The text looked for, trimmed.
    void setNeedle(const QString& s);
    const QString& needle() const { return needle_; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    QString needle_;
};

} // namespace host
