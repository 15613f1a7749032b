#include "dbgrid.h"

#include "hostglobals.h"
#include "rowsort.h"

#include "client/hostapi.h"

#include <QApplication>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyleOptionHeader>

#include <cmath>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace host {

namespace {

// Symbol fonts of the original platform have no equivalent here: titles
// written in them are mapped to the Unicode dingbats they stand for.
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

} // namespace

core::Field* Column::field(const DBGrid& grid) const
{
    core::ClientDataset* ds = grid.dataSet();
    return ds ? ds->findField(fieldName) : nullptr;
}

// --- model -----------------------------------------------------------------

DBGridModel::DBGridModel(DBGrid* grid) : QAbstractTableModel(grid), grid_(grid) {}

int DBGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : grid_->rows_;
}

int DBGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(grid_->effectiveColumns().size());
}

QVariant DBGridModel::data(const QModelIndex& index, int role) const
{
    const auto& cols = grid_->effectiveColumns();
    if (!index.isValid() || index.column() >= int(cols.size()))
        return {};
    const Column& col = cols[size_t(index.column())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(col.alignment);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    core::ClientDataset* ds = grid_->dataSet();
    core::Field* f = size_t(index.column()) < grid_->fields_.size() ? grid_->fields_[size_t(index.column())] : nullptr;
    const int row = grid_->dataRow(index.row());
    if (!ds || !f || !ds->active() || ds->controlsDisabled() || row >= ds->recordCount())
        return {};
    try {
        core::ClientDataset::DisplayRow shown(*ds, row);
        if (role == Qt::ToolTipRole) {
            if (!grid_->onCellHint)
                return {};
            const QString hint = grid_->onCellHint(col);
            return hint.isEmpty() ? QVariant() : QVariant(hint);
        }
        return f->displayText();
    } catch (...) {
        return QStringLiteral("?"); // a text handler failed: the cell shows it, painting goes on
    }
}

QVariant DBGridModel::headerData(int section, Qt::Orientation o, int role) const
{
    const auto& cols = grid_->effectiveColumns();
    if (o != Qt::Horizontal || section < 0 || section >= int(cols.size()))
        return {};
    const Column& col = cols[size_t(section)];
    const bool dingbat = col.titleFont && isDingbatFont(*col.titleFont);
    switch (role) {
    case Qt::DisplayRole: {
        QString t = col.title;
        if (t.isEmpty()) {
            core::Field* f = col.field(*grid_);
            t = f ? f->displayLabel() : col.fieldName;
        }
        return dingbat ? dingbatText(t) : t;
    }
    case Qt::FontRole:
        if (col.titleFont && !dingbat)
            return *col.titleFont;
        return {};
    case Qt::InitialSortOrderRole:
        return int(Qt::AscendingOrder);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(dingbat ? Qt::Alignment(Qt::AlignCenter)
                                           : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

Qt::ItemFlags DBGridModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void DBGridModel::reset()
{
    beginResetModel();
    endResetModel();
}

// --- delegate: standard drawing, then the grid's hook ---------------------------

class DBGridDelegate : public QStyledItemDelegate {
public:
    explicit DBGridDelegate(DBGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override
    {
        core::ClientDataset* ds = grid_->dataSet();
        if (ds && ds->controlsDisabled())
            return;
        ++grid_->cellPaints_;
        QStyledItemDelegate::paint(p, opt, index);
        const int row = grid_->dataRow(index.row());
        if (!grid_->onDrawColumnCell || !ds || !ds->active() || row >= ds->recordCount())
            return;
        const auto& cols = grid_->effectiveColumns();
        if (index.column() >= int(cols.size()))
            return;
        GridDrawStates state = 0;
        if (opt.state & QStyle::State_Selected)
            state |= gdSelected;
        if ((opt.state & QStyle::State_HasFocus) || index == grid_->currentIndex())
            state |= gdFocused;
        p->save();
        p->setBrush(grid_->cellBrush(state));
        p->setPen(Qt::NoPen);
        {
            core::ClientDataset::DisplayRow shown(*ds, row);
            const Column& col = cols[size_t(index.column())];
            core::dispatch([&] { grid_->onDrawColumnCell(*p, opt.rect, index.column(), col, state); });
        }
        p->restore();
    }

private:
    DBGrid* grid_;
};

// --- grid --------------------------------------------------------------------

DBGrid::DBGrid(const QString& objectName, QWidget* parent)
    : QTableView(parent), model_(new DBGridModel(this)), frameTimer_(new QTimer(this))
{
    // Once painting settles, the shown rows are kept as an image: while the
    // dataset's controls are disabled (a handler walking or changing rows)
    // the grid shows that image instead of reading rows in flux.
    frameTimer_->setSingleShot(true);
    frameTimer_->setInterval(150);
    connect(frameTimer_, &QTimer::timeout, this, &DBGrid::captureFrame);
    setObjectName(objectName);
    setModel(model_);
    setItemDelegate(new DBGridDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setAlternatingRowColors(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + Px(5));
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultSectionSize(Px(64));
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);

    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        const auto& cols = effectiveColumns();
        if (applyingWidths_ || section < 0 || section >= int(cols.size()))
            return;
        userWidths_[cols[size_t(section)].fieldName.toUpper()] = size;
    });
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        const auto& cols = effectiveColumns();
        if (section < 0 || section >= int(cols.size()))
            return;
        const Column col = cols[size_t(section)];
        if (onTitleClick)
            core::dispatch([&] { onTitleClick(col); });
        // The title hook may have reloaded or rebuilt the columns.
        const auto& now = effectiveColumns();
        if (sortable_ && section < int(now.size()) && !unsortable_.contains(now[size_t(section)].fieldName, Qt::CaseInsensitive))
            sortByColumn(section, section == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                              : Qt::AscendingOrder);
        else
            showSortIndicator(); // the header flips its arrow on any click: put the real one back
    });
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        const auto& cols = effectiveColumns();
        if (!index.isValid() || index.column() >= int(cols.size()) || !onCellClick)
            return;
        const Column col = cols[size_t(index.column())];
        core::dispatch([&] { onCellClick(col); });
    });
}

DBGrid::~DBGrid()
{
    for (const auto& c : conns_)
        disconnect(c);
}

void DBGrid::setDataSource(core::DataSource* ds)
{
    if (source_)
        disconnect(source_, nullptr, this, nullptr);
    source_ = ds;
    if (ds)
        connect(ds, &core::DataSource::dataSetChanged, this, &DBGrid::bindDataSet);
    bindDataSet();
}

core::ClientDataset* DBGrid::dataSet() const
{
    return source_ ? source_->dataSet() : nullptr;
}

void DBGrid::bindDataSet()
{
    for (const auto& c : conns_)
        disconnect(c);
    conns_.clear();
    bound_ = dataSet();
    if (bound_) {
        conns_ << connect(bound_, &core::ClientDataset::dataChanged, this, &DBGrid::onDataChanged);
        conns_ << connect(bound_, &core::ClientDataset::stateChanged, this, &DBGrid::onDataChanged);
        conns_ << connect(bound_, &core::ClientDataset::currentChanged, this, &DBGrid::followCursor);
        conns_ << connect(bound_, &QObject::destroyed, this, [this] {
            bound_ = nullptr;
            rebuild();
        });
    }
    rebuild();
}

void DBGrid::rebuild()
{
    autoColumns_.clear();
    model_->reset();
    rows_ = 0;
    onDataChanged();
    refreshColumns();
}

std::vector<Column>& DBGrid::effectiveColumns() const
{
    if (!columns_.empty())
        return const_cast<std::vector<Column>&>(columns_);
    if (autoColumns_.empty() && bound_) {
        for (int i = 0; i < bound_->fieldCount(); ++i) {
            const core::Field& f = bound_->field(i);
            if (!f.visible())
                continue;
            Column c;
            c.fieldName = f.fieldName();
            if (f.dataType() == core::FieldType::Float || f.dataType() == core::FieldType::Integer)
                c.alignment = Qt::AlignRight | Qt::AlignVCenter;
            c.index = int(autoColumns_.size());
            autoColumns_.push_back(c);
        }
    }
    return autoColumns_;
}

const std::vector<Column>& DBGrid::columns() const
{
    return effectiveColumns();
}

Column& DBGrid::addColumn(const QString& fieldName, int width, const QString& title, Qt::Alignment alignment)
{
    Column c;
    c.fieldName = fieldName;
    c.width = width;
    c.title = title;
    c.alignment = alignment;
    c.index = int(columns_.size());
    // The first explicit column replaces the automatic ones: the column set
    // changes as a whole, so the model is reset rather than extended.
    model_->beginResetModel();
    columns_.push_back(c);
    autoColumns_.clear();
    refreshFields();
    model_->endResetModel();
    refreshColumns();
    followCursor(bound_ ? bound_->recNo() : -1);
    return columns_.back();
}

void DBGrid::clearColumns()
{
    sortColumn_ = -1;
    viewToData_.clear();
    dataToView_.clear();
    showSortIndicator();
    model_->beginResetModel();
    columns_.clear();
    autoColumns_.clear();
    refreshFields();
    model_->endResetModel();
    refreshColumns();
}

Column& DBGrid::columnRef(int i)
{
    return effectiveColumns().at(size_t(i));
}

void DBGrid::refreshColumns()
{
    refreshFields();
    const auto& cols = effectiveColumns();
    {
        const QScopedValueRollback<bool> own(applyingWidths_, true);
        for (size_t i = 0; i < cols.size(); ++i)
            horizontalHeader()->resizeSection(int(i), shownWidth(cols[i]));
    }
    model_->headerDataChanged(Qt::Horizontal, 0, std::max(0, int(cols.size()) - 1));
    viewport()->update();
}

int DBGrid::shownWidth(const Column& col) const
{
    const auto dragged = userWidths_.constFind(col.fieldName.toUpper());
    if (dragged != userWidths_.constEnd() && *dragged > 0)
        return *dragged;
    int w = scaledDesignWidth(col.width < 0 ? 64 : col.width, font(), this);
    // The title shows whole too, unless it is a symbol (the check mark).
    const int section = col.index >= 0 ? col.index : 0;
    const QVariant title = model_->headerData(section, Qt::Horizontal, Qt::DisplayRole);
    const bool symbol = col.titleFont && isDingbatFont(*col.titleFont);
    if (!symbol && section < model_->columnCount()) {
        QHeaderView* h = horizontalHeader();
        // A header without a font of its own writes in the grid's (which it
        // may not have received yet while the grid's font changes).
        const QFont tf = col.titleFont ? *col.titleFont : h->testAttribute(Qt::WA_SetFont) ? h->font() : font();
        // The style's label margins, measured on a wide section; the header
        // elides 4 pixels before the label's edge.
        QStyleOptionHeader opt;
        opt.initFrom(h);
        opt.rect = QRect(0, 0, 1000, h->height());
        const int margins = 1000 - h->style()->subElementRect(QStyle::SE_HeaderLabel, &opt, h).width() + 4;
        w = std::max(w, QFontMetrics(tf).horizontalAdvance(title.toString()) + margins + 1);
    }
    return w;
}

QList<core::FindColumn> DBGrid::findColumns() const
{
    QList<core::FindColumn> out;
    const auto& cols = effectiveColumns();
    for (size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        if (isColumnHidden(int(i)) || (c.titleFont && isDingbatFont(*c.titleFont)))
            continue;
        const QString title = model_->headerData(int(i), Qt::Horizontal, Qt::DisplayRole).toString();
        out.append({c.fieldName, title.isEmpty() ? c.fieldName : title});
    }
    return out;
}

void DBGrid::setUserWidths(const QMap<QString, int>& widths)
{
    userWidths_.clear();
    for (auto it = widths.begin(); it != widths.end(); ++it)
        if (it.value() > 0)
            userWidths_.insert(it.key().toUpper(), it.value());
    refreshColumns();
}

double designScale(const QFont& font)
{
    const QFontMetricsF fm(font);
    const double digits = fm.horizontalAdvance(QStringLiteral("0123456789")) / 60.0;
    const double letters
        = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 312.0;
    return std::max(digits, letters);
}

int scaledDesignWidth(int designWidth, const QFont& font, const QWidget* widget)
{
    // The design drew a cell's text 2 pixels in from either edge; this
    // style's item views draw it (focus frame margin + 1) in, and the grid
    // line takes one more pixel.
    QStyle* st = widget ? widget->style() : QApplication::style();
    const int textMargin = st->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int room = std::max(0, designWidth - 4);
    return int(std::ceil(room * designScale(font))) + 2 * textMargin + 1;
}

void DBGrid::refreshFields()
{
    fields_.clear();
    for (const Column& c : effectiveColumns())
        fields_.push_back(bound_ ? bound_->findField(c.fieldName) : nullptr);
}

QBrush DBGrid::cellBrush(GridDrawStates state) const
{
    const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
                                       : isActiveWindow() ? QPalette::Active
                                                          : QPalette::Inactive;
    if (state & gdSelected)
        return palette().brush(group, QPalette::Highlight);
    return palette().brush(group, QPalette::Base);
}

void DBGrid::onDataChanged()
{
    // While the controls are disabled nothing is read: the dataset sends one
    // catch-up signal when they are enabled again.
    if (bound_ && bound_->controlsDisabled())
        return;
    const int now = (bound_ && bound_->active()) ? bound_->recordCount() : 0;
    refreshFields();
    if (sortColumn_ >= 0 && bound_ && (bound_->rowsVersion() != sortedVersion_ || int(viewToData_.size()) != now))
        applySort(); // new rows: shown in the chosen order again
    if (now > rows_) {
        model_->beginInsertRows({}, rows_, now - 1);
        rows_ = now;
        model_->endInsertRows();
    } else if (now < rows_) {
        model_->beginRemoveRows({}, now, rows_ - 1);
        rows_ = now;
        model_->endRemoveRows();
    }
    if (rows_ > 0)
        emit model_->dataChanged(model_->index(0, 0),
                                 model_->index(rows_ - 1, std::max(0, model_->columnCount() - 1)));
    viewport()->update();
    followCursor(bound_ ? bound_->recNo() : -1);
}

void DBGrid::followCursor(int row)
{
    if (bound_ && bound_->controlsDisabled())
        return;
    syncing_ = true;
    if (row < 0 || row >= rows_) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    } else {
        const int col = std::max(0, currentIndex().column());
        const QModelIndex idx = model_->index(viewRow(row), std::min(col, std::max(0, model_->columnCount() - 1)));
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(idx);
    }
    syncing_ = false;
}

void DBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (syncing_ || !current.isValid() || !bound_ || !bound_->active())
        return;
    const int row = dataRow(current.row());
    if (row == bound_->recNo())
        return;
    core::dispatch([&] { bound_->moveTo(row); });
    // The after-scroll event may have moved elsewhere or failed: show where
    // the dataset really is.
    if (bound_ && bound_->recNo() != row)
        followCursor(bound_->recNo());
}

void DBGrid::keyPressEvent(QKeyEvent* e)
{
    const int vk = vkFromQtKey(e->key());
    if (vk != 0 && onKeyDown) {
        int key = vk;
        const Qt::KeyboardModifiers mods = e->modifiers();
        core::dispatch([&] { onKeyDown(key, mods); });
        if (key == 0) {
            e->accept();
            return;
        }
        if (key != vk) {
            const int qt = qtKeyFromVk(key);
            if (qt == 0) {
                e->accept();
                return;
            }
            QKeyEvent changed(e->type(), qt, mods, e->text());
            QTableView::keyPressEvent(&changed);
            return;
        }
    }
    if (e->key() == Qt::Key_Space) {
        // A read-only grid with one row always selected: Space (with or
        // without Ctrl) only reaches the key hook; the view would otherwise
        // toggle the row's selection off.
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

void DBGrid::paintEvent(QPaintEvent* e)
{
    if (!capturing_ && bound_ && bound_->controlsDisabled()) {
        QPainter p(viewport());
        if (!frame_.isNull() && frame_.deviceIndependentSize().toSize() == viewport()->size())
            p.drawPixmap(0, 0, frame_);
        else
            p.fillRect(viewport()->rect(), viewport()->palette().brush(viewport()->backgroundRole()));
        return;
    }
    QTableView::paintEvent(e);
    if (!capturing_)
        frameTimer_->start();
}

void DBGrid::changeEvent(QEvent* e)
{
    QTableView::changeEvent(e);
    // Widths follow the font (and the style's margins) they are shown in.
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + Px(5));
        refreshColumns();
    }
}

void DBGrid::captureFrame()
{
    if (capturing_ || !isVisible() || (bound_ && bound_->controlsDisabled()))
        return;
    capturing_ = true;
    const qint64 paints = cellPaints_;
    frame_ = viewport()->grab();
    cellPaints_ = paints; // an image for later, not a repaint
    capturing_ = false;
}

void DBGrid::mouseReleaseEvent(QMouseEvent* e)
{
    QTableView::mouseReleaseEvent(e);
}

// --- sorting -----------------------------------------------------------------------

void DBGrid::setSortable(bool on, const QStringList& exceptFields)
{
    sortable_ = on;
    unsortable_ = exceptFields;
    horizontalHeader()->setSortIndicatorShown(on);
    if (!on)
        sortByColumn(-1, Qt::AscendingOrder);
    showSortIndicator();
}

void DBGrid::sortByColumn(int column, Qt::SortOrder order)
{
    sortColumn_ = column >= 0 && column < int(effectiveColumns().size()) ? column : -1;
    sortOrder_ = order;
    if (!bound_ || bound_->controlsDisabled()) {
        // Applied when the rows are shown again.
        sortedVersion_ = ~quint64(0);
        viewToData_.clear();
        dataToView_.clear();
        showSortIndicator();
        return;
    }
    applySort();
    showSortIndicator();
    if (rows_ > 0)
        emit model_->dataChanged(model_->index(0, 0),
                                 model_->index(rows_ - 1, std::max(0, model_->columnCount() - 1)));
    viewport()->update();
    followCursor(bound_->recNo());
}

void DBGrid::applySort()
{
    viewToData_.clear();
    dataToView_.clear();
    if (!bound_ || sortColumn_ < 0)
        return;
    sortedVersion_ = bound_->rowsVersion();
    core::Field* f = columns().at(size_t(sortColumn_)).field(*this);
    if (!f || !bound_->active())
        return;
    viewToData_ = sortedPositions(*bound_, f->index(), sortOrder_);
    dataToView_.assign(viewToData_.size(), 0);
    for (size_t v = 0; v < viewToData_.size(); ++v)
        dataToView_[size_t(viewToData_[v])] = int(v);
}

void DBGrid::showSortIndicator()
{
    horizontalHeader()->setSortIndicator(sortColumn_, sortOrder_);
}

int DBGrid::dataRow(int viewRow) const
{
    return viewRow >= 0 && size_t(viewRow) < viewToData_.size() && int(viewToData_.size()) == rows_
               ? viewToData_[size_t(viewRow)]
               : viewRow;
}

int DBGrid::viewRow(int dataRow) const
{
    return dataRow >= 0 && size_t(dataRow) < dataToView_.size() && int(dataToView_.size()) == rows_
               ? dataToView_[size_t(dataRow)]
               : dataRow;
}

int IndiceCol(const DBGrid* grid, const QString& fieldName)
{
    if (!grid)
        return -1;
    const auto& cols = grid->columns();
    for (size_t i = 0; i < cols.size(); ++i)
        if (cols[i].fieldName.compare(fieldName.trimmed(), Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

} // namespace host
