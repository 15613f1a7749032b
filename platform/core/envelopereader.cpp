// Reading a call envelope while its bytes arrive.
#include "envelopereader.h"

#include "compactrows_p.h"
#include "jsonreader_p.h"

#include <map>
#include <string>

namespace core::codec {

namespace {
// Deeper than any envelope the decoders accept (the envelope, the argument
// list, then 65 levels of one value): refused at once instead of growing.
constexpr size_t kMaxScanDepth = detail::kMaxDepth + 16;
} // namespace

// A structural scanner: it follows strings, objects and lists only far
// enough to know where it is (member names of the first levels, list
// indexes), keeps every byte except the rows of a streamed packet, and hands
// each complete row to the strict row reader. Validation of everything kept
// is left to the decoders that read the envelope afterwards.
struct Q_DECL_HIDDEN EnvelopeReader::Impl {
    struct Level {
        char kind = '{';
        bool expectKey = true;     // object: the next string is a member name
        int index = 0;             // list: index of the current element
        QByteArray key;            // object: current member name, plain (kept on the first levels only)
        qsizetype fieldsFrom = -1; // a packet's "fields" list: where its text starts in `kept`
        std::shared_ptr<const QList<FieldDef>> fields; // packet object: its fields, once read
    };
    enum class Rows { Off, FirstOrEnd, Next, In, After };

    std::vector<Level> stack;
    QByteArray kept;
    qint64 fed = 0;
    bool inString = false, escape = false;
    bool keyString = false, keyPlain = true;
    QByteArray keyBuf;

    Rows rows = Rows::Off;
    int slot = kNoSlot;
    std::shared_ptr<const QList<FieldDef>> rowFields;
    std::vector<PacketRow>* target = nullptr;
    bool compact = false;
    std::map<int, std::shared_ptr<DataPacket::CompactRows>> compactStreamed;
    DataPacket::CompactRows* compactTarget = nullptr;

    int rowsHere() const { return compact ? compactTarget->count() : int(target->size()); }
    void keep(PacketRow&& row)
    {
        if (compact)
            compactTarget->append(row);
        else
            target->push_back(std::move(row));
    }
    int rowDepth = 0;
    bool rowString = false, rowEscape = false;
    std::string rowPart;
    qint64 rowAt = 0; // position of the row's first byte in the whole input
    detail::Reader rowReader;
    std::map<int, std::vector<PacketRow>> streamed;
    std::string held; // bytes fed and not read yet
    DecodeLimits limits;
    qint64 cells = 0;             // values of the rows streamed so far
    qsizetype gather = 32 * 1024; // pieces smaller than this are gathered first

    // Before a row is read: the bounds on rows and values.
    void countRow(qint64 at)
    {
        if (qint64(rowsHere()) >= limits.maxRows)
            fail(at, QStringLiteral("pacote com mais de %1 linhas").arg(limits.maxRows));
        cells += rowFields->size();
        if (cells > limits.maxCells)
            fail(at, QStringLiteral("linhas com mais de %1 valores ao todo").arg(limits.maxCells));
    }

    [[noreturn]] void fail(qint64 at, const QString& what) const
    {
        throw Error(QStringLiteral("Dados recebidos inválidos (posição %1): %2").arg(at).arg(what));
    }

    // The packet slot of the object at stack index `d`, or kNoSlot when it is not
    // a packet whose rows are streamed.
    int slotOf(size_t d) const
    {
        if (d == 2 && stack[0].kind == '{' && stack[0].key == "payload" && stack[1].kind == '{'
            && stack[1].key == "packet")
            return kPayload;
        if (d == 3 && stack[0].kind == '{' && stack[0].key == "args" && stack[1].kind == '[' && stack[2].kind == '{'
            && stack[2].key == "packet")
            return stack[1].index;
        if (d == 3 && stack[0].kind == '{' && stack[0].key == "payload" && stack[1].kind == '[' && stack[2].kind == '{'
            && stack[2].key == "packet")
            return payloadElement(stack[1].index);
        return kNoSlot;
    }

    // Whether the row starting at `p` ends before `end`: a ']' outside strings.
    static bool rowEnds(const char* p, const char* end)
    {
        bool str = false, esc = false;
        for (++p; p < end; ++p) {
            const char c = *p;
            if (str) {
                if (esc)
                    esc = false;
                else if (c == '\\')
                    esc = true;
                else if (c == '"')
                    str = false;
            } else if (c == '"') {
                str = true;
            } else if (c == ']') {
                return true;
            }
        }
        return false;
    }

    void decodeRow(const char* b, const char* e)
    {
        countRow(rowAt);
        rowReader.reset(b, e, rowAt);
        keep(rowReader.rowDocument(*rowFields, rowsHere()));
    }

    // Bytes inside a streamed row list; returns where the list ended (just
    // after its ']'), or `end` when it goes on.
    const char* scanRows(const char* p, const char* end)
    {
        const char* rowStart = rows == Rows::In ? p : nullptr;
        while (p < end) {
            if (rows == Rows::In) {
                const char c = *p;
                if (rowString) {
                    if (rowEscape)
                        rowEscape = false;
                    else if (c == '\\')
                        rowEscape = true;
                    else if (c == '"')
                        rowString = false;
                    ++p;
                    continue;
                }
                ++p;
                if (c == '"') {
                    rowString = true;
                } else if (c == '[' || c == '{') {
                    ++rowDepth;
                } else if (c == ']' || c == '}') {
                    if (--rowDepth == 0) {
                        if (rowPart.empty()) {
                            decodeRow(rowStart, p);
                        } else {
                            rowPart.append(rowStart, size_t(p - rowStart));
                            decodeRow(rowPart.data(), rowPart.data() + rowPart.size());
                            rowPart.clear();
                        }
                        rows = Rows::After;
                    }
                }
                if (rowDepth > 1) {
                    // A row holds plain values only: the row reader names the fault.
                    rowPart.append(rowStart, size_t(p - rowStart));
                    decodeRow(rowPart.data(), rowPart.data() + rowPart.size());
                    fail(fed + (p - 1 - chunkStart), QStringLiteral("valor composto dentro de uma linha"));
                }
                continue;
            }
            const char c = *p;
            if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                ++p;
                continue;
            }
            if (c == '[' && (rows == Rows::FirstOrEnd || rows == Rows::Next)) {
                rowAt = fed + (p - chunkStart);
                // Most rows are whole in the bytes at hand: read at once.
                countRow(rowAt);
                rowReader.reset(p, end, rowAt);
                try {
                    keep(rowReader.rowPrefix(*rowFields, rowsHere()));
                    p = rowReader.position();
                    rows = Rows::After;
                    continue;
                } catch (const Error&) {
                    if (rowEnds(p, end))
                        throw; // whole, and malformed
                }
                // Cut off by the end of these bytes: kept until its end
                // arrives (and counted again then).
                cells -= rowFields->size();
                rows = Rows::In;
                rowDepth = 1;
                rowString = rowEscape = false;
                rowStart = p;
                ++p;
                continue;
            }
            if (c == ']' && (rows == Rows::FirstOrEnd || rows == Rows::After)) {
                rows = Rows::Off;
                slot = kNoSlot;
                return p; // the ']' is kept: the list stays, empty
            }
            if (c == ',' && rows == Rows::After) {
                rows = Rows::Next;
                ++p;
                continue;
            }
            fail(fed + (p - chunkStart),
                 rows == Rows::After ? QStringLiteral("esperado ',' ou ']' na lista de linhas")
                                     : QStringLiteral("esperado '[' em linha"));
        }
        if (rows == Rows::In) {
            if (qint64(rowPart.size()) + (end - rowStart) > limits.maxKept)
                fail(rowAt, QStringLiteral("linha com mais de %1 bytes").arg(limits.maxKept));
            rowPart.append(rowStart, size_t(end - rowStart));
        }
        return end;
    }

    const char* chunkStart = nullptr;

    void feed(const char* data, qsizetype n)
    {
        chunkStart = data;
        const char* p = data;
        const char* end = data + n;
        const char* keepFrom = rows == Rows::Off ? p : nullptr;
        auto flush = [&](const char* upTo) {
            if (keepFrom && upTo > keepFrom) {
                if (kept.size() + (upTo - keepFrom) > limits.maxKept)
                    fail(fed + (upTo - data), QStringLiteral("mais de %1 bytes fora das linhas").arg(limits.maxKept));
                kept.append(keepFrom, upTo - keepFrom);
            }
            keepFrom = upTo;
        };
        while (p < end) {
            if (rows != Rows::Off) {
                p = scanRows(p, end);
                if (rows == Rows::Off) {
                    keepFrom = p; // from the list's ']' on
                    ++p;
                    stack.back().expectKey = false;
                }
                continue;
            }
            if (inString) {
                while (p < end) {
                    const char c = *p++;
                    if (escape) {
                        escape = false;
                    } else if (c == '\\') {
                        escape = true;
                        keyPlain = false;
                    } else if (c == '"') {
                        inString = false;
                        if (keyString) {
                            stack.back().key = keyPlain ? keyBuf : QByteArray("\\");
                            keyString = false;
                        }
                        break;
                    } else if (keyString) {
                        // Only short names matter here ("args", "packet", ...).
                        if (keyBuf.size() < 64)
                            keyBuf.append(c);
                        else
                            keyPlain = false;
                    }
                }
                continue;
            }
            const char c = *p++;
            switch (c) {
            case '"':
                inString = true;
                escape = false;
                if (!stack.empty() && stack.back().kind == '{' && stack.back().expectKey && stack.size() <= 4) {
                    keyString = true;
                    keyPlain = true;
                    keyBuf.clear();
                }
                break;
            case ':':
                if (!stack.empty() && stack.back().kind == '{')
                    stack.back().expectKey = false;
                break;
            case ',':
                if (!stack.empty()) {
                    Level& top = stack.back();
                    if (top.kind == '{') {
                        top.expectKey = true;
                        top.key.clear();
                    } else {
                        ++top.index;
                    }
                }
                break;
            case '[':
            case '{': {
                const size_t d = stack.size();
                if (c == '[' && (d == 3 || d == 4) && stack.back().kind == '{' && !stack.back().expectKey
                    && stack.back().key == "rows" && stack.back().fields && slotOf(d - 1) != kNoSlot) {
                    flush(p);
                    keepFrom = nullptr;
                    rowFields = stack.back().fields;
                    slot = slotOf(d - 1);
                    target = &streamed[slot];
                    if (compact) {
                        auto& c = compactStreamed[slot];
                        if (!c)
                            c = std::make_shared<DataPacket::CompactRows>();
                        compactTarget = c.get();
                    }
                    rows = Rows::FirstOrEnd;
                    break;
                }
                if (d >= kMaxScanDepth)
                    fail(fed + (p - 1 - data), QStringLiteral("aninhamento acima de %1 níveis").arg(detail::kMaxDepth));
                Level l;
                l.kind = c;
                if (c == '[' && (d == 3 || d == 4) && stack.back().kind == '{' && !stack.back().expectKey
                    && stack.back().key == "fields" && slotOf(d - 1) != kNoSlot)
                    l.fieldsFrom = kept.size() + ((p - 1) - keepFrom);
                stack.push_back(std::move(l));
                break;
            }
            case ']':
            case '}': {
                if (stack.empty())
                    break; // text after the envelope: the envelope's decoder refuses it
                const qsizetype fieldsFrom = stack.back().fieldsFrom;
                stack.pop_back();
                if (fieldsFrom >= 0 && !stack.empty()) {
                    flush(p);
                    try {
                        detail::Reader r;
                        r.reset(kept.constData() + fieldsFrom, kept.constData() + kept.size(), 0);
                        stack.back().fields = std::make_shared<const QList<FieldDef>>(r.fieldsDocument());
                    } catch (const Error&) {
                        // Not streamed: the packet's decoder reports the fault.
                        stack.back().fields.reset();
                    }
                }
                break;
            }
            default: break;
            }
        }
        if (rows == Rows::Off)
            flush(end);
        fed += n;
    }
};

EnvelopeReader::EnvelopeReader() : d(std::make_unique<Impl>()) { }

EnvelopeReader::~EnvelopeReader() = default;

// Small pieces (a socket read gives a few KB) are gathered first: a row cut
// at the end of a piece costs a second look, so fewer ends are cheaper.
void EnvelopeReader::setGather(qsizetype bytes)
{
    d->gather = bytes;
}

void EnvelopeReader::setLimits(const DecodeLimits& limits)
{
    d->limits = limits;
    d->rowReader.setMaxText(limits.maxText);
}

void EnvelopeReader::feed(const char* data, qsizetype size)
{
    if (size <= 0)
        return;
    if (d->held.empty() && size >= d->gather) {
        d->feed(data, size);
        return;
    }
    d->held.append(data, size_t(size));
    if (qsizetype(d->held.size()) >= d->gather)
        end();
}

void EnvelopeReader::end()
{
    if (d->held.empty())
        return;
    std::string piece;
    piece.swap(d->held);
    d->feed(piece.data(), qsizetype(piece.size()));
}

void EnvelopeReader::setCompactRows(bool compact)
{
    d->compact = compact;
}

Variant EnvelopeReader::packetWithRows(int slot, const Variant& packet)
{
    end();
    auto it = d->compactStreamed.find(slot);
    if (it == d->compactStreamed.end())
        return withRows(packet, takeRows(slot));
    if (!packet.isPacket() || !packet.packet().isEmpty())
        throw Error(QStringLiteral("Dados recebidos inválidos: linhas lidas fora de um pacote"));
    Variant out(DataPacket(packet.packet().fields(), std::move(it->second)));
    d->compactStreamed.erase(it);
    d->streamed.erase(slot);
    return out;
}

qint64 EnvelopeReader::size() const
{
    return d->fed + qint64(d->held.size());
}

const QByteArray& EnvelopeReader::envelope()
{
    end();
    return d->kept;
}

bool EnvelopeReader::streamed(int slot)
{
    end();
    return d->streamed.count(slot) > 0;
}

int EnvelopeReader::readingRowsOf() const
{
    return d->rows == Impl::Rows::Off ? kNoSlot : d->slot;
}

std::vector<PacketRow> EnvelopeReader::takeRows(int slot)
{
    end();
    auto it = d->streamed.find(slot);
    if (it == d->streamed.end())
        return {};
    std::vector<PacketRow> out = std::move(it->second);
    d->streamed.erase(it);
    return out;
}

Variant withRows(const Variant& packet, std::vector<PacketRow>&& rows)
{
    if (!packet.isPacket() || !packet.packet().isEmpty())
        throw Error(QStringLiteral("Dados recebidos inválidos: linhas lidas fora de um pacote"));
    DataPacket p(packet.packet().fields());
    p.rows() = std::move(rows);
    return Variant(std::move(p));
}

} // namespace core::codec
