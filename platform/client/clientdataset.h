#pragma once
// In-memory client dataset: declared fields, rows loaded whole from a data
// packet, a cursor, an optional index, edit/post, and notification of the
// data sources (grids, labels) bound to it.

#include <core/datapacket.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace core {

class ClientDataset;
class DataSource;

enum class DatasetState { Inactive, Browse, Edit };

/// A declared field of a client dataset. Values are read from the dataset's
/// current row (or from the row a grid is drawing, see DisplayRow).
class Field {
public:
    using GetTextHandler = std::function<void(Field& sender, QString& text, bool displayText)>;

    Field(ClientDataset* owner, FieldDef def);

    const QString& fieldName() const { return def_.name; }
    FieldType dataType() const { return def_.type; }
    int size() const { return def_.size; }
    bool fixedLength() const { return def_.fixed; }
    bool required() const { return def_.required; }
    const FieldDef& def() const { return def_; }
    ClientDataset* dataSet() const { return owner_; }
    int index() const;

    QString displayLabel() const { return label_.isEmpty() ? def_.name : label_; }
    void setDisplayLabel(const QString& l) { label_ = l; }
    bool visible() const { return visible_; }
    void setVisible(bool v) { visible_ = v; }
    /// "#,##0.00" style format for Float fields, rendered with pt-BR separators.
    const QString& displayFormat() const { return displayFormat_; }
    void setDisplayFormat(const QString& f) { displayFormat_ = f; }
    const QString& editMask() const { return editMask_; }
    void setEditMask(const QString& m) { editMask_ = m; }
    void setOnGetText(GetTextHandler h) { onGetText_ = std::move(h); }
    bool hasOnGetText() const { return bool(onGetText_); }

    /// Value of the current (or displayed) row; Null when the dataset is empty.
    /// A copy: rows are stored by type, not as variants (a string copy shares
    /// its text).
    Variant value() const;
    bool isNull() const { return value().isNull(); }
    QString asString() const;
    double asFloat() const;
    qint64 asInteger() const;
    Date asDateTime() const;
    /// Sets the value in the current row; only in Edit state (throws core::Error otherwise).
    void setValue(const Variant& v);
    void setAsString(const QString& s) { setValue(Variant(s)); }

    /// Text shown to the user: OnGetText when set, else the value formatted
    /// by type, display format and edit mask (dates dd/mm/yyyy).
    /// Floats use the display format with pt-BR separators ("1.234,50"), or
    /// the shortest form with a decimal comma when there is none. An edit mask
    /// that is a pure digit picture ('9' and '0' take a digit, punctuation is
    /// literal, e.g. "99.999.9999") formats a string value made of exactly as
    /// many digits ("123456789" shows "12.345.6789"); any other value or mask
    /// shows the value as stored.
    QString displayText() const;

private:
    friend class ClientDataset;
    ClientDataset* owner_;
    int index_ = -1;
    FieldDef def_;
    QString label_;
    bool visible_ = true;
    QString displayFormat_;
    QString editMask_;
    GetTextHandler onGetText_;
};

class ClientDataset : public QObject {
    Q_OBJECT
public:
    explicit ClientDataset(const QString& name = {}, QObject* parent = nullptr);
    ~ClientDataset() override;

    // --- field declaration -------------------------------------------------
    Field& addField(const FieldDef& def, const QString& label = {}, bool visible = true);
    Field& addString(const QString& name, int size, const QString& label = {}, bool visible = true, bool fixed = false);
    Field& addFloat(const QString& name, const QString& label = {}, bool visible = true,
                    const QString& displayFormat = {});
    Field& addDateTime(const QString& name, const QString& label = {}, bool visible = true);
    Field& addInteger(const QString& name, const QString& label = {}, bool visible = true);
    int fieldCount() const { return int(fields_.size()); }
    Field& field(int i) const { return *fields_.at(size_t(i)); }
    /// Throws core::Error naming the dataset and field when it is not declared.
    Field& fieldByName(const QString& name) const;
    Field* findField(const QString& name) const;

    // --- state -------------------------------------------------------------
    DatasetState state() const { return state_; }
    bool active() const { return state_ != DatasetState::Inactive; }
    /// True when closed or without rows.
    bool isEmpty() const;
    int recordCount() const;
    /// 0-based index of the current row, -1 when empty or closed.
    int recNo() const;

    /// Opens with no rows, the declared fields only.
    void createDataSet();
    void close();
    /// Removes every row, keeps the dataset open.
    void emptyDataSet();

    /// Loads a packet whole, replacing the rows; fields matched by name (letter
    /// case ignored; extra packet fields ignored). A packet that lacks a declared
    /// field or holds a value of the wrong type is refused with core::Error and
    /// the dataset stays as it was. Opens the dataset and moves to the first row.
    /// Integer values are accepted (and widened) for Float fields; string sizes
    /// and required flags are not re-checked here. Data sources are told of the
    /// (re)opening even when the dataset was already open.
    void loadFromPacket(const DataPacket& p);
    void setData(const Variant& v);
    /// The rows as a packet of the declared fields, in load order, with the
    /// user's changes (an unposted edit is included as if posted; the dataset
    /// itself stays in edit state).
    DataPacket toPacket() const;
    Variant data() const;

    // --- index -------------------------------------------------------------
    /// "A; B; C": rows kept ordered by these fields (stable); empty keeps load order.
    void setIndexFieldNames(const QString& names);
    const QString& indexFieldNames() const { return indexFieldNames_; }
    /// Changes whenever the rows are replaced, emptied or reordered (load,
    /// create, close, empty, index, a posted index key); a posted edit that
    /// keeps every row in place leaves it. Views that keep their own row
    /// order rebuild it when this changes.
    quint64 rowsVersion() const { return rowsVersion_; }

    // --- cursor ------------------------------------------------------------
    void first();
    void last();
    void next();
    void prior();
    /// Moves to a 0-based row; clamps to the rows present.
    void moveTo(int row);
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    /// Moves to the first row whose field equals the value; returns false and
    /// stays put when none does.
    bool locate(const QString& fieldName, const Variant& value, bool caseInsensitive = false);

    // --- editing -----------------------------------------------------------
    void edit();
    void post();
    void cancel();

    // --- controls and events ----------------------------------------------
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disableCount_ > 0; }

    /// After-scroll event: runs after first/last (always, when there are
    /// rows), after next/prior/moveTo that land on another row, after a
    /// successful locate, and on the first row after a load with rows. It
    /// fires whether or not controls are disabled; handlers that must not run
    /// detach it. An exception it throws reaches the caller of the move.
    using Event = std::function<void(ClientDataset&)>;
    void setAfterScroll(Event e) { afterScroll_ = std::move(e); }
    const Event& afterScroll() const { return afterScroll_; }

    /// Raw row access for views (no cursor move, no events); a copy, as for
    /// Field::value.
    Variant rawValue(int row, int field) const;

    /// While alive, field reads see `row` instead of the current row; used by
    /// grids while drawing a row. No event fires.
    class DisplayRow {
    public:
        DisplayRow(const ClientDataset& ds, int row);
        ~DisplayRow();
        DisplayRow(const DisplayRow&) = delete;
        DisplayRow& operator=(const DisplayRow&) = delete;

    private:
        const ClientDataset& ds_;
        int saved_;
    };

signals:
    /// State changed (opened, closed, edit, post), for views. Like the two
    /// signals below it is held back while controls are disabled and emitted
    /// once on the last enableControls; the data sources' state-change
    /// handlers are called directly in every case (see DataSource).
    void stateChanged();
    /// Rows or values changed (load, post, empty, index): views refresh.
    void dataChanged();
    /// The current row moved (not emitted while controls are disabled;
    /// emitted once on enableControls when it moved meanwhile).
    void currentChanged(int row);

private:
    friend class Field;
    friend class DataSource;
    void setState(DatasetState s);
    void notifyState();
    void notifyData();
    void notifyMove();
    void fireAfterScroll();
    void checkActive(const char* what) const;
    void postIfEditing();
    int physical(int pos) const { return order_.empty() ? pos : order_[size_t(pos)]; }
    bool rowLess(int a, int b) const;
    int positionOf(int phys) const;
    void sortRows();
    void afterMove(bool moved);
    Variant currentValue(int field) const;
    PacketRow rowValues(int phys) const;
    void storeRow(int phys, const PacketRow& row);
    int compareCells(int field, int a, int b) const;

    /// One field's values for every row, in load order, stored by type: a
    /// string as an index into the column's distinct texts (a text repeated
    /// by many rows is held once), integers, floats and dates (days) unboxed,
    /// Booleans as bits, and a null flag per row for the non-string types.
    struct Column {
        static constexpr quint32 kNullText = 0xFFFFFFFFu;
        FieldType type = FieldType::String;
        std::vector<quint32> text;  ///< String: index into texts, kNullText when null
        std::vector<QString> texts; ///< String: the distinct texts
        std::vector<qint64> ints;   ///< Integer
        std::vector<double> nums;   ///< Float; DateTime as days
        std::vector<bool> bits;     ///< Boolean
        std::vector<bool> nulls;    ///< every type but String: the row's value is null

        bool isNull(size_t row) const;
        Variant get(size_t row) const;
        /// Replaces a row's value (of the column's type, or null); a text
        /// already held is reused when it is found cheaply.
        void set(size_t row, const Variant& v);
        void reserve(size_t n);
        void clear();
    };

    std::vector<std::unique_ptr<Field>> fields_;
    std::vector<Column> columns_; ///< one per field; rows in load order
    int rowCount_ = 0;
    std::vector<int> order_;           ///< view position -> row in rows_; empty without an index
    std::vector<DataSource*> sources_; ///< bound data sources, told of state changes directly
    DatasetState state_ = DatasetState::Inactive;
    int cur_ = -1;
    mutable int displayRow_ = -1;
    bool eof_ = true;
    bool bof_ = true;
    QString indexFieldNames_;
    std::vector<int> indexFields_;
    quint64 rowsVersion_ = 0;
    int disableCount_ = 0;
    bool pendingDataChange_ = false;
    bool pendingMove_ = false;
    bool pendingState_ = false;
    std::optional<PacketRow> editBuffer_;
    Event afterScroll_;
};

/// Links a dataset to the controls that show it; relays state changes to a
/// handler (the screen's `dtsXxxStateChange`). The handler is called directly
/// by the dataset on every state change (open, load, close, edit, post,
/// cancel), also while controls are disabled, before the call that changed
/// the state returns; an exception it throws (core::Abort) reaches that
/// caller, after the change itself is complete.
class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(const QString& name = {}, QObject* parent = nullptr);
    ~DataSource() override;
    void setDataSet(ClientDataset* ds);
    ClientDataset* dataSet() const { return ds_; }
    using Handler = std::function<void(DataSource&)>;
    void setOnStateChange(Handler h) { onStateChange_ = std::move(h); }

signals:
    void dataSetChanged();

private:
    friend class ClientDataset;
    ClientDataset* ds_ = nullptr;
    QMetaObject::Connection conn_;
    Handler onStateChange_;
};

/// Formats a number with a "#,##0.00" style mask using pt-BR separators.
QString formatFloat(double v, const QString& mask);

} // namespace core
