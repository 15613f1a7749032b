#include "datasetmodel.h"

namespace core {

DatasetModel::DatasetModel(QObject* parent) : QAbstractTableModel(parent) { }

bool DatasetModel::readable() const
{
    return ds_ && ds_->active() && !ds_->controlsDisabled();
}

// --- binding -------------------------------------------------------------------------

void DatasetModel::setDataSet(ClientDataset* ds)
{
    for (const auto& c : conns_)
        disconnect(c);
    conns_.clear();
    beginResetModel();
    ds_ = ds;
    rows_ = readable() ? ds_->recordCount() : 0;
    resolveFields();
    marks_.assign(size_t(rows_), false);
    marksVersion_ = ds_ ? ds_->rowsVersion() : 0;
    order_.clear();
    inverse_.clear();
    if (readable())
        applyOrder();
    else
        orderStale_ = true;
    endResetModel();
    if (ds_) {
        conns_ << connect(ds_, &ClientDataset::dataChanged, this, &DatasetModel::sync);
        conns_ << connect(ds_, &ClientDataset::stateChanged, this, &DatasetModel::sync);
        // By the time this runs the dataset is half destroyed (ds_ reads null):
        // nothing of it is read, the model just empties.
        conns_ << connect(ds_, &QObject::destroyed, this, [this] { setDataSet(nullptr); });
    }
}

void DatasetModel::resolveFields()
{
    fields_.clear();
    for (const Column& c : columns_)
        fields_.push_back(ds_ ? ds_->findField(c.fieldName) : nullptr);
}

void DatasetModel::sync()
{
    // While the controls are disabled nothing is read: the dataset sends one
    // catch-up signal when they are enabled again.
    if (ds_ && ds_->controlsDisabled())
        return;
    resolveFields();
    const int now = readable() ? ds_->recordCount() : 0;
    // The count changes at the end, with the order the rows had: positions
    // that stay keep answering as before until the cells are declared changed below.
    if (now > rows_) {
        beginInsertRows({}, rows_, now - 1);
        rows_ = now;
        marks_.resize(size_t(now), false);
        endInsertRows();
    } else if (now < rows_) {
        beginRemoveRows({}, now, rows_ - 1);
        rows_ = now;
        marks_.resize(size_t(now));
        endRemoveRows();
    }
    const quint64 version = ds_ ? ds_->rowsVersion() : 0;
    if (version != marksVersion_) {
        marks_.assign(size_t(rows_), false);
        marksVersion_ = version;
    }
    const bool orderOutdated =
        orderFn_ ? orderStale_ || version != orderVersion_ || order_.size() != size_t(rows_) : !order_.empty();
    if (orderOutdated)
        applyOrder();
    if (rows_ > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
    emit refreshed();
}

// --- columns -------------------------------------------------------------------------

std::vector<DatasetModel::Column> DatasetModel::visibleColumns(const ClientDataset& ds)
{
    std::vector<Column> out;
    for (int i = 0; i < ds.fieldCount(); ++i) {
        const Field& f = ds.field(i);
        if (!f.visible())
            continue;
        Column c;
        c.fieldName = f.fieldName();
        if (f.dataType() == FieldType::Float || f.dataType() == FieldType::Integer)
            c.alignment = Qt::AlignRight | Qt::AlignVCenter;
        out.push_back(c);
    }
    return out;
}

void DatasetModel::setColumns(std::vector<Column> columns)
{
    if (columns == columns_)
        return;
    if (columns.size() == columns_.size()) {
        columns_ = std::move(columns);
        resolveFields();
        if (columnCount() > 0) {
            emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
            if (rows_ > 0)
                emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
        }
        return;
    }
    beginResetModel();
    columns_ = std::move(columns);
    resolveFields();
    endResetModel();
}

void DatasetModel::setMarkColumn(bool on)
{
    if (on == mark_)
        return;
    beginResetModel();
    mark_ = on;
    endResetModel();
}

int DatasetModel::columnOf(const QString& fieldName) const
{
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].fieldName.compare(fieldName.trimmed(), Qt::CaseInsensitive) == 0)
            return int(i) + (mark_ ? 1 : 0);
    return -1;
}

// --- marks ---------------------------------------------------------------------------

bool DatasetModel::marked(int dataRow) const
{
    return dataRow >= 0 && size_t(dataRow) < marks_.size() && marks_[size_t(dataRow)];
}

void DatasetModel::setMarked(int dataRow, bool on)
{
    if (dataRow < 0 || size_t(dataRow) >= marks_.size() || marks_[size_t(dataRow)] == on)
        return;
    marks_[size_t(dataRow)] = on;
    const int row = viewRow(dataRow);
    if (mark_ && row < rows_)
        emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void DatasetModel::toggleMark(int dataRow)
{
    setMarked(dataRow, !marked(dataRow));
}

std::vector<int> DatasetModel::markedRows() const
{
    std::vector<int> out;
    for (size_t r = 0; r < marks_.size(); ++r)
        if (marks_[r])
            out.push_back(int(r));
    return out;
}

// --- row order -----------------------------------------------------------------------

void DatasetModel::setRowOrder(RowOrder order)
{
    orderFn_ = std::move(order);
    if (!readable()) {
        orderStale_ = true; // built when the rows can be read again
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indexes (a view's current row, its selection) stay on
    // their dataset position.
    const QModelIndexList before = persistentIndexList();
    std::vector<int> positions;
    positions.reserve(size_t(before.size()));
    for (const QModelIndex& i : before)
        positions.push_back(dataRow(i.row()));
    applyOrder();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype k = 0; k < before.size(); ++k) {
        const int row = viewRow(positions[size_t(k)]);
        after << (row >= 0 && row < rows_ ? index(row, before[k].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DatasetModel::applyOrder()
{
    std::vector<int> order;
    if (orderFn_ && readable()) {
        order = orderFn_(*ds_);
        // Only a permutation of the rows shown is taken.
        std::vector<bool> seen(size_t(rows_), false);
        bool ok = order.size() == size_t(rows_);
        for (size_t i = 0; ok && i < order.size(); ++i) {
            const int d = order[i];
            ok = d >= 0 && d < rows_ && !seen[size_t(d)];
            if (ok)
                seen[size_t(d)] = true;
        }
        if (!ok)
            order.clear();
    }
    order_ = std::move(order);
    inverse_.assign(order_.size(), 0);
    for (size_t v = 0; v < order_.size(); ++v)
        inverse_[size_t(order_[v])] = int(v);
    orderVersion_ = ds_ ? ds_->rowsVersion() : 0;
    orderStale_ = false;
}

int DatasetModel::dataRow(int viewRow) const
{
    return viewRow >= 0 && size_t(viewRow) < order_.size() ? order_[size_t(viewRow)] : viewRow;
}

int DatasetModel::viewRow(int dataRow) const
{
    return dataRow >= 0 && size_t(dataRow) < inverse_.size() ? inverse_[size_t(dataRow)] : dataRow;
}

// --- the model interface -------------------------------------------------------------

int DatasetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int DatasetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size()) + (mark_ ? 1 : 0);
}

QVariant DatasetModel::readCell(const QModelIndex& index, const std::function<QVariant(const Field&)>& read) const
{
    if (!readable() || !index.isValid())
        return {};
    const int fc = fieldColumn(index.column());
    const Field* f = fc >= 0 && size_t(fc) < fields_.size() ? fields_[size_t(fc)] : nullptr;
    const int row = dataRow(index.row());
    if (!f || row < 0 || row >= ds_->recordCount())
        return {};
    try {
        ClientDataset::DisplayRow shown(*ds_, row);
        return read(*f);
    } catch (...) {
        return QStringLiteral("?"); // a text handler failed: the cell shows it, the view goes on
    }
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_ || index.column() >= columnCount())
        return {};
    const int fc = fieldColumn(index.column());
    if (fc < 0)
        return role == Qt::CheckStateRole ? QVariant(int(marked(dataRow(index.row())) ? Qt::Checked : Qt::Unchecked))
                                          : QVariant();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columns_[size_t(fc)].alignment);
    if (role != Qt::DisplayRole)
        return {};
    return readCell(index, [](const Field& f) { return QVariant(f.displayText()); });
}

bool DatasetModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || fieldColumn(index.column()) >= 0 || role != Qt::CheckStateRole || index.row() >= rows_)
        return false;
    const int d = dataRow(index.row());
    if (d < 0 || size_t(d) >= marks_.size())
        return false;
    marks_[size_t(d)] = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    const int fc = fieldColumn(section);
    if (fc < 0)
        return QString();
    const Column& c = columns_[size_t(fc)];
    if (!c.title.isEmpty())
        return c.title;
    const Field* f = fields_[size_t(fc)];
    return f ? f->displayLabel() : c.fieldName;
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags fl = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (fieldColumn(index.column()) < 0)
        fl |= Qt::ItemIsUserCheckable;
    return fl;
}

} // namespace core
