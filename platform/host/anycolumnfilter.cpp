#include "anycolumnfilter.h"

namespace host {

void AnyColumnFilter::setNeedle(const QString& s)
{
    needle_ = s.trimmed();
    invalidateFilter();
}

bool AnyColumnFilter::filterAcceptsRow(int row, const QModelIndex& parent) const
{
    if (needle_.isEmpty())
        return true;
    const QAbstractItemModel* m = sourceModel();
    // A column without text (the check column) never matches.
    for (int c = 0; c < m->columnCount(parent); ++c)
        if (m->index(row, c, parent).data(Qt::DisplayRole).toString().contains(needle_, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace host
