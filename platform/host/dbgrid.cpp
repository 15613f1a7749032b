#include "dbgrid.h"

#include "dbgridmodel.h"
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

core::Field* Column::field(const DBGrid& grid) const
{
    core::ClientDataset* ds = grid.dataSet();
    return ds ? ds->findField(fieldName) : nullptr;
}

// --- delegate: standard drawing, then the grid's hook ---------------------------

class DBGridDelegate : public QStyledItemDelegate {
public:
    explicit DBGridDelegate(DBGrid* grid) : QStyledItemDelegate(grid), grid_(grid) { }

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
    connect(model_, &core::DatasetModel::refreshed, this, &DBGrid::rowsRefreshed);
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
        if (sortable_ && section < int(now.size())
            && !unsortable_.contains(now[size_t(section)].fieldName, Qt::CaseInsensitive))
            sortByColumn(section,
                         section == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
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
    autoColumns_.clear();
    pushColumns();
    // The model follows the dataset first; the grid looks at the cursor once
    // the model has caught up (refreshed).
    model_->setDataSet(bound_);
    if (bound_) {
        conns_ << connect(bound_, &core::ClientDataset::currentChanged, this, &DBGrid::followCursor);
        conns_ << connect(bound_, &QObject::destroyed, this, [this] {
            bound_ = nullptr;
            autoColumns_.clear();
            pushColumns();
            refreshColumns();
        });
    }
    refreshColumns();
    followCursor(bound_ ? bound_->recNo() : -1);
}

void DBGrid::pushColumns()
{
    std::vector<core::DatasetModel::Column> cols;
    for (const Column& c : effectiveColumns())
        cols.push_back({c.fieldName, c.title, c.alignment});
    model_->setColumns(std::move(cols));
}

std::vector<Column>& DBGrid::effectiveColumns() const
{
    if (!columns_.empty())
        return const_cast<std::vector<Column>&>(columns_);
    if (autoColumns_.empty() && bound_) {
        for (const auto& mc : core::DatasetModel::visibleColumns(*bound_)) {
            Column c;
            c.fieldName = mc.fieldName;
            c.alignment = mc.alignment;
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
    columns_.push_back(c);
    autoColumns_.clear();
    pushColumns();
    refreshColumns();
    followCursor(bound_ ? bound_->recNo() : -1);
    return columns_.back();
}

void DBGrid::clearColumns()
{
    sortColumn_ = -1;
    model_->setRowOrder({});
    showSortIndicator();
    columns_.clear();
    autoColumns_.clear();
    pushColumns();
    refreshColumns();
}

Column& DBGrid::columnRef(int i)
{
    return effectiveColumns().at(size_t(i));
}

void DBGrid::refreshColumns()
{
    pushColumns();
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
    const double letters =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 312.0;
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

QBrush DBGrid::cellBrush(GridDrawStates state) const
{
    const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
        : isActiveWindow()                          ? QPalette::Active
                                                    : QPalette::Inactive;
    if (state & gdSelected)
        return palette().brush(group, QPalette::Highlight);
    return palette().brush(group, QPalette::Base);
}

void DBGrid::rowsRefreshed()
{
    // Fields declared after the grid was bound give it its automatic columns now.
    if (effectiveColumns().size() != model_->columns().size()) {
        pushColumns();
        refreshColumns();
    }
    viewport()->update();
    followCursor(bound_ ? bound_->recNo() : -1);
}

void DBGrid::followCursor(int row)
{
    if (bound_ && bound_->controlsDisabled())
        return;
    syncing_ = true;
    if (row < 0 || row >= model_->rowCount()) {
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
    core::DatasetModel::RowOrder rowOrder;
    if (sortColumn_ >= 0)
        rowOrder = [field = effectiveColumns()[size_t(sortColumn_)].fieldName, order](const core::ClientDataset& ds) {
            const core::Field* f = ds.findField(field);
            return f ? sortedPositions(ds, f->index(), order) : std::vector<int>();
        };
    // Applied at once, or when the rows are shown again.
    model_->setRowOrder(std::move(rowOrder));
    showSortIndicator();
    if (!bound_ || bound_->controlsDisabled())
        return;
    viewport()->update();
    followCursor(bound_->recNo());
}

void DBGrid::showSortIndicator()
{
    horizontalHeader()->setSortIndicator(sortColumn_, sortOrder_);
}

int DBGrid::dataRow(int viewRow) const
{
    return model_->dataRow(viewRow);
}

int DBGrid::viewRow(int dataRow) const
{
    return model_->viewRow(dataRow);
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
