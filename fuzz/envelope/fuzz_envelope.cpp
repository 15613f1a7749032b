// The envelope reader fed in pieces against the whole-text decoders: an
// envelope read while it arrives, cut at any points, gives the same members
// as the same text split and decoded at once, or both refuse it.
//
// Input: a first byte (low 3 bits: how many cuts; bit 7: rows kept compact),
// then two bytes per cut (the length of each piece before the last), then the
// envelope text.
#include "core/datapacket.h"
#include "core/errors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

using namespace core;

namespace {

using Members = std::vector<std::pair<QString, Variant>>;

// One member's value as the client and the server read it: an argument list
// element by element, anything else as one value. `rows` puts back the rows
// streamed for a packet slot (or leaves the value as it is).
template <typename Rows>
Variant memberValue(const QString& name, const QByteArray& text, Rows rows)
{
    if (name == QLatin1String("args") && text.startsWith('[')) {
        VariantArray out;
        const std::vector<QByteArray> items = codec::splitArray(text);
        for (size_t i = 0; i < items.size(); ++i)
            out.push_back(rows(int(i), codec::decodeVariant(items[i])));
        return Variant(out);
    }
    Variant v = codec::decodeVariant(text);
    if (name != QLatin1String("payload"))
        return v;
    v = rows(codec::EnvelopeReader::kPayload, v);
    if (!v.isArray())
        return v;
    VariantArray out;
    for (int i = 0; i < v.count(); ++i)
        out.push_back(rows(codec::EnvelopeReader::payloadElement(i), v[i]));
    return Variant(out);
}

template <typename Rows>
Members decodeMembers(const QByteArray& envelope, Rows rows)
{
    Members out;
    for (const codec::RawMember& m : codec::splitObject(envelope).members)
        out.emplace_back(m.name, memberValue(m.name, m.value, rows));
    return out;
}

std::optional<Members> whole(const QByteArray& text, QString& why)
{
    try {
        return decodeMembers(text, [](int, const Variant& v) { return v; });
    } catch (const Error& e) {
        why = e.message();
        return std::nullopt;
    }
}

std::optional<Members> inPieces(const QByteArray& text, const std::vector<qsizetype>& pieces, bool compact,
                                QString& why)
{
    try {
        codec::EnvelopeReader reader;
        reader.setGather(0);
        reader.setCompactRows(compact);
        qsizetype at = 0;
        for (qsizetype n : pieces) {
            n = std::min(n, text.size() - at);
            reader.feed(text.constData() + at, n);
            at += n;
        }
        reader.feed(text.constData() + at, text.size() - at);
        reader.end();
        const QByteArray envelope = reader.envelope();
        return decodeMembers(envelope, [&](int slot, const Variant& v) {
            return reader.streamed(slot) ? reader.packetWithRows(slot, v) : v;
        });
    } catch (const Error& e) {
        why = e.message();
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int cuts = data[0] & 7;
    const bool compact = data[0] & 0x80;
    if (size < 1 + 2 * size_t(cuts))
        return 0;
    std::vector<qsizetype> pieces;
    for (int i = 0; i < cuts; ++i)
        pieces.push_back(qsizetype(data[1 + 2 * i]) | qsizetype(data[2 + 2 * i]) << 8);
    const size_t from = 1 + 2 * size_t(cuts);
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(data + from), qsizetype(size - from));

    QString wholeWhy, piecesWhy;
    const std::optional<Members> a = whole(text, wholeWhy);
    const std::optional<Members> b = inPieces(text, pieces, compact, piecesWhy);
    if (a.has_value() != b.has_value()) {
        std::fprintf(stderr, "whole text %s, in pieces %s\n  whole: %s\n  pieces: %s\n", a ? "accepted" : "refused",
                     b ? "accepted" : "refused", qPrintable(wholeWhy), qPrintable(piecesWhy));
        std::abort();
    }
    if (a && *a != *b) {
        std::fprintf(stderr, "whole text and pieces decode to different members\n");
        std::abort();
    }
    return 0;
}
