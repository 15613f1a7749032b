#pragma once
// Table model over a client dataset, for any item view (the data-aware grid,
// the pickers). It knows no widget: one row per dataset position, one column
// per chosen field, and optionally a leading check column whose marks belong
// to the model.
//
// The model follows its dataset by itself: a load, a reload with fewer rows,
// a close or a posted edit becomes rows inserted or removed at the end and
// the changed cells, never a silent change of the row count. While the
// dataset's controls are disabled nothing is read (cells answer nothing) and
// the row count stays; the dataset's catch-up signal on enableControls brings
// the model up to date. A dataset destroyed under the model leaves it empty.
//
// Cell texts are Field::displayText read with the dataset positioned on the
// cell's row (ClientDataset::DisplayRow), only for the cells a view asks for;
// a text handler that throws shows "?".
//
// Row order: by default the dataset's own. A row-order function (a sort by a
// column the view chose) gives the dataset positions in the order shown; it
// runs whenever the rows are replaced (rowsVersion) and when it is set, never
// while controls are disabled. The dataset's rows and cursor are not moved.
//
// Marks (the check column): one per dataset position, sized with the rows;
// replaced or reordered rows start unmarked.

#include "client/clientdataset.h"

#include <QAbstractTableModel>
#include <QPointer>

#include <functional>
#include <vector>

namespace core {

class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    /// A shown column: a field of the dataset by name.
    struct Column {
        QString fieldName;
        QString title; ///< empty: the field's display label (its name when the dataset lacks it)
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
        bool operator==(const Column&) const = default;
    };
    /// Dataset positions in the order shown (a permutation of 0 .. recordCount-1);
    /// anything else is ignored and the dataset's order shown.
    using RowOrder = std::function<std::vector<int>(const ClientDataset&)>;

    explicit DatasetModel(QObject* parent = nullptr);

    /// Binds the model to a dataset (null: none); a model reset.
    void setDataSet(ClientDataset* ds);
    ClientDataset* dataSet() const { return ds_; }

    /// The columns shown. The same fields in the same number change in place
    /// (titles, alignment); another number is a model reset.
    void setColumns(std::vector<Column> columns);
    const std::vector<Column>& columns() const { return columns_; }
    /// Every visible field of a dataset, in declaration order, numbers
    /// aligned right: the columns of a view that chose none.
    static std::vector<Column> visibleColumns(const ClientDataset& ds);

    /// A leading check column (Qt::CheckStateRole, user-checkable); a model reset.
    void setMarkColumn(bool on);
    bool hasMarkColumn() const { return mark_; }
    /// Marks by dataset position; out-of-range positions are ignored.
    bool marked(int dataRow) const;
    void setMarked(int dataRow, bool on);
    void toggleMark(int dataRow);
    /// Marked dataset positions, ascending.
    std::vector<int> markedRows() const;

    /// Sets (or, empty, removes) the row order; applied at once when the
    /// rows can be read, else when they next can.
    void setRowOrder(RowOrder order);
    bool hasRowOrder() const { return bool(orderFn_); }
    /// Dataset position shown on a model row, and the model row of a dataset
    /// position (identity in the dataset's order).
    int dataRow(int viewRow) const;
    int viewRow(int dataRow) const;

    /// Column of the model showing `fieldName` (letter case ignored), -1 when none does.
    int columnOf(const QString& fieldName) const;
    /// The dataset column shown in a model column, -1 for the check column.
    int fieldColumn(int modelColumn) const { return modelColumn - (mark_ ? 1 : 0); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    /// The model caught up with a change of its dataset (rows, values or
    /// state): views that follow the cursor look at it again now.
    void refreshed();

protected:
    /// Runs `read` with the dataset positioned on the row of `index` and the
    /// cell's field, when that row can be read (dataset open, controls
    /// enabled, a field column whose field exists); an exception shows "?".
    QVariant readCell(const QModelIndex& index, const std::function<QVariant(const Field&)>& read) const;
    /// True when the rows can be read now.
    bool readable() const;

private:
    void sync();
    void resolveFields();
    void applyOrder();
    void reorder(std::vector<int> order);

    QPointer<ClientDataset> ds_;
    QList<QMetaObject::Connection> conns_;
    std::vector<Column> columns_;
    std::vector<const Field*> fields_; ///< per column; null when the dataset lacks the field
    bool mark_ = false;
    int rows_ = 0;             ///< rows shown (changes only with the model's signals)
    std::vector<bool> marks_;  ///< by dataset position
    quint64 marksVersion_ = 0; ///< rowsVersion the marks belong to
    RowOrder orderFn_;
    std::vector<int> order_;   ///< model row -> dataset position; empty: identity
    std::vector<int> inverse_; ///< dataset position -> model row
    quint64 orderVersion_ = 0; ///< rowsVersion the order was built for
    bool orderStale_ = false;
};

} // namespace core
