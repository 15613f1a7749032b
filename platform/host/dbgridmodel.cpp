#include "dbgridmodel.h"

#include "dbgrid.h"

namespace host {

bool isDingbatFont(const QFont& f)
{
    const QString fam = f.family().toLower();
    return fam.contains(QLatin1String("monotype sorts")) || fam.contains(QLatin1String("zapf dingbats"))
        || fam.contains(QLatin1String("zapfdingbats"));
}

QString dingbatText(const QString& text)
{
    // Monotype Sorts follows the ITC Zapf Dingbats layout: 0x21..0x7E map
    // onto U+2701..U+275E ("4" is U+2714, the heavy check mark).
    QString out;
    for (QChar c : text) {
        const ushort u = c.unicode();
        out += (u >= 0x21 && u <= 0x7E) ? QChar(ushort(0x2700 + (u - 0x20))) : c;
    }
    return out;
}

DBGridModel::DBGridModel(DBGrid* grid) : core::DatasetModel(grid), grid_(grid) { }

QVariant DBGridModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::ToolTipRole)
        return core::DatasetModel::data(index, role);
    const auto& cols = grid_->columns();
    if (!grid_->onCellHint || !index.isValid() || index.column() >= int(cols.size()))
        return {};
    const host::Column& col = cols[size_t(index.column())];
    return readCell(index, [&](const core::Field&) {
        const QString hint = grid_->onCellHint(col);
        return hint.isEmpty() ? QVariant() : QVariant(hint);
    });
}

QVariant DBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    const auto& cols = grid_->columns();
    if (orientation != Qt::Horizontal || section < 0 || section >= int(cols.size()))
        return {};
    const host::Column& col = cols[size_t(section)];
    const bool dingbat = col.titleFont && isDingbatFont(*col.titleFont);
    switch (role) {
    case Qt::DisplayRole: {
        const QString t = core::DatasetModel::headerData(section, orientation, role).toString();
        return dingbat ? dingbatText(t) : t;
    }
    case Qt::FontRole:
        if (col.titleFont && !dingbat)
            return *col.titleFont;
        return {};
    case Qt::InitialSortOrderRole: return int(Qt::AscendingOrder);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(dingbat ? Qt::Alignment(Qt::AlignCenter)
                                           : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default: return {};
    }
}

} // namespace host
