#pragma once
// The wire's packets and codec, in one include: a data packet is the image
// of a dataset (field definitions, then the rows) that a server returns and
// a client dataset loads whole, or that a screen sends back with the user's
// changes. One wire encoding (JSON, see docs/protocol.md) serves client and
// server. Each part has its own header:
//
//   packet.h              FieldType, FieldDef, PacketRow, DataPacket, valueFitsField
//   codec.h               encode/decode of packets and variants, splitObject/splitArray, DecodeLimits
//   packetstreamwriter.h  PacketStreamWriter: a packet written row by row
//   envelopereader.h      EnvelopeReader: an envelope read as its bytes arrive, withRows
//   qtjson.h              variantToJson / variantFromJson (Qt's JSON tree)

<<<<<<< HEAD
#include "variant.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <limits>
#include <map>
#include <memory>
#include <vector>

class QJsonValue;

namespace core {

enum class FieldType { String, Integer, Float, Boolean, DateTime };

QString fieldTypeName(FieldType t);
/// Parses a wire type name; throws core::Error for an unknown one.
FieldType fieldTypeFromName(const QString& name);

struct FieldDef {
    QString name;
    FieldType type = FieldType::String;
    int size = 0;           ///< characters, for strings; 0 otherwise
    bool fixed = false;     ///< fixed-length string
    bool required = false;  ///< a null value is refused
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
    explicit DataPacket(QList<FieldDef> fields) : fields_(std::move(fields)) {}
    DataPacket(QList<FieldDef> fields, std::shared_ptr<const CompactRows> rows);

    const QList<FieldDef>& fields() const { return fields_; }
    /// Index of a field by name (letter case ignored), -1 when absent.
    int fieldIndex(const QString& name) const;
    const FieldDef& field(int i) const { return fields_.at(i); }

    /// The rows as values. A compact packet turns into values here, all of
    /// them at once: code that reads a large list uses readRow() and cell().
    const std::vector<PacketRow>& rows() const
    {
        if (compact_) materialize();
        return rows_;
    }
    std::vector<PacketRow>& rows()
    {
        if (compact_) materialize();
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
    mutable std::map<int, std::vector<Variant>> written_;  ///< compact only: columns set by setCell
};

/// Wire codec for packets and variants. Decoding is strict: malformed JSON,
/// unknown types, rows of the wrong width or values of the wrong type throw
/// core::Error with a clear message and never yield a half-built value.
namespace codec {
/// Most field definitions a decoded packet may carry; the widest layout of
/// the screens has about twenty.
constexpr int kMaxFields = 256;

QByteArray encodePacket(const DataPacket& p);
DataPacket decodePacket(const QByteArray& json);

QByteArray encodeVariant(const Variant& v);
Variant decodeVariant(const QByteArray& json);

/// Variant to and from the in-memory JSON tree (for embedding in requests).
QJsonValue variantToJson(const Variant& v);
Variant variantFromJson(const QJsonValue& j);

/// One member of a JSON object: its name (unescaped) and the JSON text of
/// its value exactly as written, without surrounding blanks.
struct RawMember {
    QString name;
    QByteArray value;
};

/// The members of one JSON object, in the order written.
struct RawObject {
    std::vector<RawMember> members;
    /// The value text of member `name` (exact, letter case counts), or
    /// nullptr when the object has no such member.
    const QByteArray* find(QStringView name) const;
};

/// Bounds a decoder applies while it reads, so that a hostile text is
/// refused before it is held decoded, at a cost in memory bounded by these
/// figures rather than by the text's size. The defaults bound nothing (what
/// a client reads from its own server).
struct DecodeLimits {
    static constexpr qint64 kNone = std::numeric_limits<qint64>::max() / 4;
    qint64 maxText = kNone;   ///< bytes of one text value as written (quotes left out)
    qint64 maxRows = kNone;   ///< rows of one streamed packet
    qint64 maxCells = kNone;  ///< values of all streamed rows together
    qint64 maxKept = kNone;   ///< bytes of the envelope outside streamed rows
};

/// Split a call envelope into its parts without decoding them, so that each
/// value (possibly a large packet) is read once, by the code that knows what
/// it must be. The whole text is checked as strict JSON, with the same rules
/// and nesting limit (per member or element value) as the decoders above;
/// a repeated member name or anything after the object or array is refused.
/// Failures throw core::Error naming the byte position.
///
/// The value texts are views into the bytes of `json`
/// (QByteArray::fromRawData): they are valid only while those bytes are
/// alive and unchanged; copy one to keep it longer.
RawObject splitObject(const QByteArray& json);
/// The elements of one JSON array, as texts (views, as above), in order.
/// More than `maxElements` elements are refused as soon as the one past the
/// bound starts (the rest is not read).
std::vector<QByteArray> splitArray(const QByteArray& json, qint64 maxElements = DecodeLimits::kNone);

/// Writes a packet while its rows are produced: the field list first, then
/// one row at a time, then the end. Each row is checked as
/// DataPacket::appendRow checks it; the text written is byte for byte what
/// encodePacket writes for the same packet. The caller takes the bytes
/// written so far whenever it wants to send them.
class PacketStreamWriter {
public:
    explicit PacketStreamWriter(QList<FieldDef> fields);
    ~PacketStreamWriter();
    PacketStreamWriter(const PacketStreamWriter&) = delete;
    PacketStreamWriter& operator=(const PacketStreamWriter&) = delete;

    /// Appends one row; throws core::Error naming the row and field when a
    /// value does not fit (nothing of that row is written then).
    void row(const PacketRow& row);
    /// Closes the rows and the packet object.
    void end();
    int rowCount() const;
    /// Bytes written and not yet taken.
    qsizetype pending() const;
    /// The bytes written since the last take.
    QByteArray take();
    /// Appends raw text (envelope parts around the packet).
    void raw(const QByteArray& text);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// Reads a call envelope (an answer, or a request) while its bytes arrive.
/// The rows of a packet found at the answer's `payload` (or at an element of
/// a payload that is a list) or at an element of the request's `args` are decoded as soon as each row is complete and their
/// bytes dropped; everything else is kept as text. When the last byte is in,
/// `envelope()` is the envelope with those rows left out (their lists empty),
/// to be decoded by splitObject and the decoders above, which apply every
/// rule to it; the rows read are then put back with `withRows`. So a packet
/// found malformed halfway is refused whole, as when decoded in one piece.
///
/// feed() and end() throw core::Error at the first malformed streamed row or
/// list separator; other faults show when the envelope is decoded.
class EnvelopeReader {
public:
    /// Which packet the rows were read for: the answer's payload, or the
    /// request's argument at that index (from 0).
    static constexpr int kPayload = -1;
    /// The packet at element `i` of a payload that is a list.
    static constexpr int payloadElement(int i) { return -100 - i; }

    EnvelopeReader();
    ~EnvelopeReader();
    EnvelopeReader(const EnvelopeReader&) = delete;
    EnvelopeReader& operator=(const EnvelopeReader&) = delete;

    /// Set before the first feed(); feed() and end() throw core::Error once
    /// a bound is passed, before the bytes past it are kept.
    void setLimits(const DecodeLimits& limits);
    void feed(const char* data, qsizetype size);
    /// Pieces smaller than `bytes` are gathered before they are read, since
    /// a row cut at the end of a piece costs a second look (32 KB unless
    /// set; 0 reads every piece as it comes, as a test of the cuts wants).
    void setGather(qsizetype bytes);
    /// Reads what feed() still holds (small pieces are gathered first);
    /// throws as feed() does. The getters below call it.
    void end();
    /// Streamed rows are kept compact (see DataPacket::CompactRows); take
    /// them with packetWithRows().
    void setCompactRows(bool compact);
    /// `packet` (decoded from the envelope) with the rows streamed for
    /// `slot` in place, compact or not; throws core::Error when it is not a
    /// packet without rows.
    Variant packetWithRows(int slot, const Variant& packet);
    /// Bytes fed so far.
    qint64 size() const;
    /// The envelope text without the streamed rows.
    const QByteArray& envelope() const;
    /// Whether rows were streamed for that packet.
    bool streamed(int slot) const;
    /// The packet whose rows are being read (kPayload or an argument
    /// index), or -2 outside streamed rows: where a feed() failure was.
    int readingRowsOf() const;
    /// The rows streamed for that packet (moved out).
    std::vector<PacketRow> takeRows(int slot);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// `packet` (a packet variant decoded from an envelope whose rows were
/// streamed, so without rows) with `rows` in place; throws core::Error when
/// it is not a packet without rows.
Variant withRows(const Variant& packet, std::vector<PacketRow>&& rows);
} // namespace codec

} // namespace core
=======
#include "codec.h"
#include "envelopereader.h"
#include "packet.h"
#include "packetstreamwriter.h"
#include "qtjson.h"
>>>>>>> main
