#pragma once
// Wire codec for packets and variants: one JSON encoding (see
// docs/protocol.md) serves client and server. Decoding is strict: malformed
// JSON, unknown types, rows of the wrong width or values of the wrong type
// throw core::Error with a clear message and never yield a half-built value.

#include "packet.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <limits>
#include <vector>

namespace core::codec {

/// Most field definitions a decoded packet may carry; the widest layout of
/// the screens has about twenty.
constexpr int kMaxFields = 256;

QByteArray encodePacket(const DataPacket& p);
DataPacket decodePacket(const QByteArray& json);

QByteArray encodeVariant(const Variant& v);
Variant decodeVariant(const QByteArray& json);

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
    qint64 maxText = kNone;  ///< bytes of one text value as written (quotes left out)
    qint64 maxRows = kNone;  ///< rows of one streamed packet
    qint64 maxCells = kNone; ///< values of all streamed rows together
    qint64 maxKept = kNone;  ///< bytes of the envelope outside streamed rows
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

} // namespace core::codec
