#pragma once
// Data-aware grid over a core::DataSource.
//
// Read-only, no row indicator, one row selected. Sorting is off unless the
// screen turns it on (setSortable): then a title click, after the title-click
// hook ran, orders the rows the grid shows by that column, a second click
// reverses, and the title shows an arrow. The order is the grid's own (a
// permutation of the dataset's positions): the dataset's rows, cursor and
// index stay as they are; the grid's selected row still follows the cursor.
// The rows come from a core::DatasetModel (DBGridModel adds the title fonts
// and the cell hints), which reads only the rows the view asks for
// (DisplayRow and Field::displayText), so 100,000 rows scroll like 100. The selected row
// follows the dataset's cursor and clicking a row moves the cursor
// (ClientDataset::moveTo, which runs the after-scroll event). While the
// dataset's controls are disabled the grid neither paints rows nor follows
// the cursor; it catches up once when they are enabled again.
//
// Hooks (all run through core::dispatch, so an exception never crosses the
// event loop):
//  - onDrawColumnCell: after the standard drawing of every data cell, with
//    the dataset positioned on the drawn row (DisplayRow) and the painter's
//    brush set to the cell's background (selection colour on the selected
//    row, the grid's colour elsewhere);
//  - onCellClick: a click on a data cell (after the cursor moved to its row);
//  - onTitleClick: a click on a column title (every column, sortable or not);
//  - onCellHint: the tooltip of a data cell, with the dataset positioned on
//    the cell's row (DisplayRow); empty for none;
//  - onKeyDown: every key pressed in the grid, as a platform key code
//    (VK_SPACE 32, VK_DELETE 46...); setting it to 0 swallows the key.
//    Space (with or without Ctrl) goes no further than this hook: the grid
//    keeps its one selected row.

#include "client/clientdataset.h"
#include "client/findsearch.h"

#include <QFont>
#include <QMap>
#include <QPointer>
#include <QPixmap>
#include <QTableView>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

namespace core {
class ClientDataset;
class DataSource;
class Field;
} // namespace core

namespace host {

class DBGrid;

/// A grid column bound to a dataset field.
struct Column {
    QString fieldName;
    QString title;                  ///< empty: the field's display label
    int width = -1;                 ///< design pixels (8-point MS Sans Serif, 96 dpi); -1: the grid's default (64)
    std::optional<QFont> titleFont; ///< empty: the grid's header font
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    int index = -1; ///< position in the grid, set by the grid

    /// The bound field of the grid's dataset; null when the dataset lacks it.
    core::Field* field(const DBGrid& grid) const;
};

/// Drawing state of a cell.
enum GridDrawState { gdSelected = 1, gdFocused = 2 };
using GridDrawStates = int;

class DBGridModel;

class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(const QString& objectName, QWidget* parent = nullptr);
    ~DBGrid() override;

    void setDataSource(core::DataSource* ds);
    core::DataSource* dataSource() const { return source_; }
    core::ClientDataset* dataSet() const;

    /// Columns; without any, every visible field of the dataset is shown.
    Column& addColumn(const QString& fieldName, int width = -1, const QString& title = {},
                      Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
    void clearColumns();
    int columnCountBound() const { return int(columns().size()); }
    const std::vector<Column>& columns() const;
    const Column& column(int i) const { return columns().at(size_t(i)); }
    Column& columnRef(int i);
    /// Re-reads column widths, titles and fonts after changing a Column.
    void refreshColumns();

    /// The width a column is shown at: its design width scaled from the font
    /// the screens were laid out for to the grid's font (designScale), at
    /// least wide enough for its title; a width the user dragged wins.
    int shownWidth(const Column& column) const;
    /// Widths the user dragged, by field name (upper case), in pixels.
    QMap<QString, int> userWidths() const { return userWidths_; }
    /// Puts back widths the user dragged earlier (unknown fields are kept for
    /// later column sets); an empty map gives the scaled design widths back.
    void setUserWidths(const QMap<QString, int>& widths);

    /// Background brush of a data cell in a given state.
    QBrush cellBrush(GridDrawStates state) const;

    std::function<void(QPainter& canvas, const QRect& rect, int dataCol, const Column& column, GridDrawStates state)>
        onDrawColumnCell;
    std::function<void(const Column& column)> onCellClick;
    std::function<void(const Column& column)> onTitleClick;
    std::function<void(int& key, Qt::KeyboardModifiers shift)> onKeyDown;
    std::function<QString(const Column& column)> onCellHint;

    // --- sorting by a title click ---------------------------------------------
    /// Turns sorting by title clicks on or off; columns bound to a field in
    /// `exceptFields` (letter case ignored) never sort (their title click is
    /// the hook's alone). Turning it off shows the dataset's order again.
    void setSortable(bool on, const QStringList& exceptFields = {});
    bool sortable() const { return sortable_; }
    /// Orders the shown rows by a column (-1: the dataset's order).
    void sortByColumn(int column, Qt::SortOrder order);
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }
    /// Dataset position shown on a grid row, and the grid row of a dataset
    /// position (identity while unsorted).
    int dataRow(int viewRow) const;
    int viewRow(int dataRow) const;

    /// The columns the find dialog offers for this grid: the shown columns
    /// (not hidden, not a symbol-titled check mark) under their titles.
    QList<core::FindColumn> findColumns() const;
    /// The last search made in this grid (for "find next").
    core::FindSearch& lastSearch() { return lastSearch_; }

    /// Number of times data cells were painted (the hook or not): lets tests
    /// check that a disabled dataset causes no painting.
    qint64 cellPaintCount() const { return cellPaints_; }

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    friend class DBGridDelegate;
    void bindDataSet();
    void followCursor(int row);
    void rowsRefreshed();
    void pushColumns();
    std::vector<Column>& effectiveColumns() const;

    void captureFrame();
    void showSortIndicator();

    QPointer<core::DataSource> source_;
    QPointer<core::ClientDataset> bound_;
    QList<QMetaObject::Connection> conns_;
    DBGridModel* model_;
    QPixmap frame_; ///< the rows as last shown, painted while controls are disabled
    QTimer* frameTimer_;
    bool capturing_ = false;
    std::vector<Column> columns_;
    mutable std::vector<Column> autoColumns_;
    bool syncing_ = false;
    qint64 cellPaints_ = 0;
    QMap<QString, int> userWidths_; ///< dragged widths by field name
    core::FindSearch lastSearch_;
    bool applyingWidths_ = false; ///< resizing sections ourselves, not the user
    bool sortable_ = false;
    QStringList unsortable_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

/// How much wider `font` writes than the font the screens' pixel sizes were
/// laid out for (8-point MS Sans Serif at 96 dpi: digits 6 pixels wide, the
/// 52 letters A-Z a-z 312 pixels), measured with the font's metrics: the
/// larger of the digits' and the letters' ratio. High-DPI scaling that Qt
/// applies to every size alike does not change it; a larger font or a
/// logical dpi above 96 does.
double designScale(const QFont& font);

/// A design width (pixels for that font, text drawn 2 pixels in from either
/// edge) brought to `font`, with the cell margins of the widget's style.
int scaledDesignWidth(int designWidth, const QFont& font, const QWidget* widget);

/// Index of the grid column bound to `fieldName` (letter case ignored), -1
/// when none is.
int IndiceCol(const DBGrid* grid, const QString& fieldName);

} // namespace host
