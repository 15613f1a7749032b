#pragma once
// A data packet: the image of a dataset (field definitions, then the rows)
// that a server returns and a client dataset loads whole, or that a screen
// sends back with the user's changes.

#include "variant.h"

#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace core {

enum class FieldType { String, Integer, Float, Boolean, DateTime };

QString fieldTypeName(FieldType t);
/// Parses a wire type name; throws core::Error for an unknown one.
FieldType fieldTypeFromName(const QString& name);

/// Whether a value of type `value` may stand in a field of type `field`:
/// the same kind, or an integer in a Float field. Null fits every field
/// (whether the field may be null is its `required` flag's business);
/// packets and arrays fit none. Every place that checks a value against a
/// field asks this one function.
constexpr bool valueFitsField(Variant::Type value, FieldType field)
{
    using T = Variant::Type;
    if (value == T::Null)
        return true;
    switch (field) {
    case FieldType::String: return value == T::String;
    case FieldType::Integer: return value == T::Integer;
    case FieldType::Float: return value == T::Double || value == T::Integer;
    case FieldType::Boolean: return value == T::Boolean;
    case FieldType::DateTime: return value == T::Date;
    }
    return false;
}

struct FieldDef {
    QString name;
    FieldType type = FieldType::String;
    int size = 0;          ///< characters, for strings; 0 otherwise
    bool fixed = false;    ///< fixed-length string
    bool required = false; ///< a null value is refused
    bool operator==(const FieldDef&) const = default;
};

/// One row: one value per field, in field order. String fields hold
/// Variant strings, Integer qint64, Float double, Boolean bool, DateTime
/// Date; any field may hold Null unless it is required.
using PacketRow = std::vector<Variant>;

class DataPacket {
public:
    /// Rows kept as compact bytes (a few bytes a value, as written on the
    /// wire) rather than as values: how a server holds a large list it was
    /// sent. Made by the codec; immutable and shared by copies of a packet.
    struct CompactRows;

    DataPacket() = default;
    explicit DataPacket(QList<FieldDef> fields) : fields_(std::move(fields)) { }
    DataPacket(QList<FieldDef> fields, std::shared_ptr<const CompactRows> rows);

    const QList<FieldDef>& fields() const { return fields_; }
    /// Index of a field by name (letter case ignored), -1 when absent.
    int fieldIndex(const QString& name) const;
    const FieldDef& field(int i) const { return fields_.at(i); }

    /// The rows as values. A compact packet turns into values here, all of
    /// them at once: code that reads a large list uses readRow() and cell().
    const std::vector<PacketRow>& rows() const
    {
        if (compact_)
            materialize();
        return rows_;
    }
    std::vector<PacketRow>& rows()
    {
        if (compact_)
            materialize();
        return rows_;
    }
    int rowCount() const;
    bool isEmpty() const { return rowCount() == 0; }
    bool isCompact() const { return bool(compact_); }
    /// Row `r`'s values into `out`, compact or not.
    void readRow(int r, PacketRow& out) const;
    /// One value, compact or not.
    Variant cell(int r, int f) const;
    /// Sets one value (unchecked, as a write through rows()); a compact
    /// packet keeps a column written this way beside its bytes.
    void setCell(int r, int f, Variant v);

    /// Appends a row; throws core::Error when it does not fit the fields
    /// (count, types, required, string size).
    void appendRow(PacketRow row);
    /// Value by row and field name; throws core::Error for an unknown field.
    const Variant& value(int row, const QString& field) const;

    /// Checks every row against the field definitions; throws core::Error
    /// naming the first offending row and field.
    void validate() const;
    /// Checks one value against one field definition; empty when it fits,
    /// else the reason.
    static QString checkValue(const FieldDef& f, const Variant& v);

    bool operator==(const DataPacket& o) const;

private:
    void materialize() const;
    QList<FieldDef> fields_;
    mutable std::vector<PacketRow> rows_;
    mutable std::shared_ptr<const CompactRows> compact_;
    mutable std::map<int, std::vector<Variant>> written_; ///< compact only: columns set by setCell
};

} // namespace core
