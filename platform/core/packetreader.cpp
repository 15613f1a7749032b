// Reading JSON text: packets, variants, and envelopes split into their
// members, strictly (see codec.h).
#include "codec.h"
#include "jsonreader_p.h"

#include <QSet>

#include <charconv>
#include <cmath>

namespace core::codec {
namespace detail {

// --- numbers -----------------------------------------------------------------

Number Reader::number()
{
    const char* s = p_;
    bool integral = true;
    if (p_ < end_ && *p_ == '-')
        ++p_;
    if (p_ >= end_)
        fail(QStringLiteral("número incompleto"));
    if (*p_ == '0') {
        ++p_;
    } else if (*p_ >= '1' && *p_ <= '9') {
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9')
            ++p_;
    } else {
        fail(QStringLiteral("número malformado"));
    }
    if (p_ < end_ && *p_ == '.') {
        integral = false;
        ++p_;
        const char* d = p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9')
            ++p_;
        if (p_ == d)
            fail(QStringLiteral("número malformado"));
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
        integral = false;
        ++p_;
        if (p_ < end_ && (*p_ == '+' || *p_ == '-'))
            ++p_;
        const char* d = p_;
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9')
            ++p_;
        if (p_ == d)
            fail(QStringLiteral("número malformado"));
    }
    return {s, p_, integral};
}

double Reader::toDouble(const Number& n)
{
    double d = 0;
    auto r = std::from_chars(n.begin, n.end, d);
    if (r.ec != std::errc() || r.ptr != n.end || !std::isfinite(d))
        fail(QStringLiteral("número fora do intervalo"));
    return d;
}

bool Reader::toInt(const Number& n, qint64& out)
{
    if (!n.integral)
        return false;
    auto r = std::from_chars(n.begin, n.end, out);
    return r.ec == std::errc() && r.ptr == n.end;
}

// --- strings -----------------------------------------------------------------

unsigned Reader::hex4()
{
    if (end_ - p_ < 4)
        fail(QStringLiteral("escape \\u incompleto"));
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = *p_++;
        v <<= 4;
        if (c >= '0' && c <= '9')
            v |= unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            v |= unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            v |= unsigned(c - 'A' + 10);
        else
            fail(QStringLiteral("escape \\u malformado"));
    }
    return v;
}

// Short ASCII strings (flags "S"/"N", branch codes, series) repeat on
// every row: they are shared through a small direct-mapped cache instead
// of being allocated once per value.
QString Reader::shortString(const char* s, qsizetype n)
{
    quint64 key = quint64(n);
    for (qsizetype i = 0; i < n; ++i)
        key |= quint64(static_cast<unsigned char>(s[i])) << (8 * (i + 1));
    if (shortCache_.empty()) {
        // A small call's reader meets a handful of short strings: the
        // cache pays off only from the rows of a packet on.
        if (++uncachedShort_ <= kUncachedShort)
            return QString::fromLatin1(s, n);
        shortCache_.resize(512);
    }
    ShortEntry& e = shortCache_[size_t((key * 0x9E3779B97F4A7C15ull) >> 55)];
    if (e.key != key || e.text.isNull()) {
        e.key = key;
        e.text = QString::fromLatin1(s, n);
    }
    return e.text;
}

// Longer ASCII strings of a packet column (client names and codes,
// shipment numbers) repeat from row to row too: each string column has a
// direct-mapped cache that shares them. A column whose values hardly
// repeat (document numbers, keys) stops using it after a while.
// `value` is the decoded text of the raw string text [s, s + n), which
// is what is hashed.
template <class Text>
QString Reader::columnString(int col, const char* s, qsizetype n, Text value)
{
    if (size_t(col) >= columnCaches_.size())
        columnCaches_.resize(size_t(col) + 1);
    ColumnCache& cc = columnCaches_[size_t(col)];
    if (cc.off)
        return value.toString();
    if (cc.table.empty())
        cc.table.resize(1024);
    quint64 h = 1469598103934665603ull;
    for (qsizetype i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ull;
    h ^= h >> 31; // mixed, so the last characters reach the slot bits too
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 29;
    ShortEntry& e = cc.table[size_t(h >> 54)];
    ++cc.lookups;
    if (e.key == h && e.text.size() == value.size() && value == e.text) {
        ++cc.hits;
        return e.text;
    }
    if (cc.lookups == 2048 && cc.hits < cc.lookups / 8) {
        cc.off = true;
        cc.table = {};
        return value.toString();
    }
    e.key = h;
    e.text = value.toString();
    return e.text;
}

// A string at '"'; `col` is the packet column it is read for, or -1.
// Plain ASCII (the common case) is copied in one step.
QString Reader::string(int col)
{
    ++p_; // opening quote
    const char* s = p_;
    while (p_ < end_) {
        const unsigned char c = static_cast<unsigned char>(*p_);
        if (c == '"') {
            const qsizetype n = p_ - s;
            if (n > maxText_)
                fail(QStringLiteral("texto com mais de %1 caracteres").arg(maxText_));
            ++p_;
            if (n <= 7)
                return shortString(s, n);
            if (col >= 0 && n <= 64)
                return columnString(col, s, n, QLatin1StringView(s, n));
            return QString::fromLatin1(s, n);
        }
        if (c == '\\' || c < 0x20 || c >= 0x80)
            break;
        ++p_;
    }
    return escapedString(s, col);
}

// The rest of a string that starts at `s` and whose plain ASCII start was
// passed over: escapes and multi-byte UTF-8 go through a checked decoder
// into buf_.
QString Reader::escapedString(const char* s, int col)
{
    buf_.clear();
    for (const char* q = s; q < p_; ++q)
        buf_.push_back(char16_t(static_cast<unsigned char>(*q)));
    for (;;) {
        if (p_ >= end_)
            fail(QStringLiteral("texto sem aspas de fechamento"));
        if (qint64(buf_.size()) > maxText_)
            fail(QStringLiteral("texto com mais de %1 caracteres").arg(maxText_));
        const unsigned char c = static_cast<unsigned char>(*p_);
        if (c == '"') {
            ++p_;
            const QStringView text(buf_.data(), qsizetype(buf_.size()));
            if (col >= 0 && text.size() <= 64)
                return columnString(col, s, (p_ - 1) - s, text);
            return text.toString();
        }
        if (c < 0x20)
            fail(QStringLiteral("caractere de controle dentro de texto"));
        if (c == '\\') {
            escape();
        } else if (c < 0x80) {
            buf_.push_back(char16_t(c));
            ++p_;
        } else {
            utf8Char();
        }
    }
}

// An escape at its backslash, its character appended to buf_.
void Reader::escape()
{
    ++p_;
    if (p_ >= end_)
        fail(QStringLiteral("escape incompleto"));
    const char e = *p_++;
    switch (e) {
    case '"': buf_.push_back(u'"'); break;
    case '\\': buf_.push_back(u'\\'); break;
    case '/': buf_.push_back(u'/'); break;
    case 'b': buf_.push_back(u'\b'); break;
    case 'f': buf_.push_back(u'\f'); break;
    case 'n': buf_.push_back(u'\n'); break;
    case 'r': buf_.push_back(u'\r'); break;
    case 't': buf_.push_back(u'\t'); break;
    case 'u': {
        const unsigned u = hex4();
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                fail(QStringLiteral("surrogate UTF-16 sem par"));
            p_ += 2;
            const unsigned lo = hex4();
            if (lo < 0xDC00 || lo > 0xDFFF)
                fail(QStringLiteral("surrogate UTF-16 sem par"));
            buf_.push_back(char16_t(u));
            buf_.push_back(char16_t(lo));
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            fail(QStringLiteral("surrogate UTF-16 sem par"));
        } else {
            buf_.push_back(char16_t(u));
        }
        break;
    }
    default: fail(QStringLiteral("escape desconhecido"));
    }
}

// One multi-byte UTF-8 character, checked (no overlong forms, no
// surrogates, at most U+10FFFF) and appended to buf_ as UTF-16.
void Reader::utf8Char()
{
    const unsigned char* q = reinterpret_cast<const unsigned char*>(p_);
    const unsigned char c = q[0];
    const qsizetype left = end_ - p_;
    char32_t cp = 0;
    int len = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        if (left < 2 || !isCont(q[1]))
            fail(QStringLiteral("UTF-8 inválido"));
        cp = char32_t((c & 0x1F) << 6 | (q[1] & 0x3F));
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !isCont(q[1]) || !isCont(q[2]) || (c == 0xE0 && q[1] < 0xA0) || (c == 0xED && q[1] >= 0xA0))
            fail(QStringLiteral("UTF-8 inválido"));
        cp = char32_t((c & 0x0F) << 12 | (q[1] & 0x3F) << 6 | (q[2] & 0x3F));
        len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !isCont(q[1]) || !isCont(q[2]) || !isCont(q[3]) || (c == 0xF0 && q[1] < 0x90)
            || (c == 0xF4 && q[1] >= 0x90))
            fail(QStringLiteral("UTF-8 inválido"));
        cp = char32_t((c & 0x07) << 18 | (q[1] & 0x3F) << 12 | (q[2] & 0x3F) << 6 | (q[3] & 0x3F));
        len = 4;
    } else {
        fail(QStringLiteral("UTF-8 inválido"));
    }
    p_ += len;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        buf_.push_back(char16_t(0xD800 + (cp >> 10)));
        buf_.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
        buf_.push_back(char16_t(cp));
    }
}

// --- any value ---------------------------------------------------------------

// Checks one value and gives its text as a view into the input. The
// nesting limit counts from the value itself, as when it is decoded alone.
QByteArray Reader::rawValue()
{
    ws();
    const char* s = p_;
    skip(0);
    return QByteArray::fromRawData(s, p_ - s);
}

// Skips any JSON value, checking its syntax.
void Reader::skip(int depth)
{
    if (depth > kMaxDepth)
        fail(QStringLiteral("aninhamento acima de %1 níveis").arg(kMaxDepth));
    const char c = peek();
    switch (c) {
    case '"': string(); return;
    case 't': literal("true"); return;
    case 'f': literal("false"); return;
    case 'n': literal("null"); return;
    case '[':
        ++p_;
        elements([&] { skip(depth + 1); });
        return;
    case '{':
        ++p_;
        members([&](const QString&) { skip(depth + 1); });
        return;
    default:
        if (c == '-' || (c >= '0' && c <= '9')) {
            number();
            return;
        }
        fail(QStringLiteral("valor desconhecido"));
    }
}

// Iterates the elements of an array whose '[' was consumed.
template <class F>
void Reader::elements(F&& onElement)
{
    if (peek() == ']') {
        ++p_;
        return;
    }
    for (;;) {
        onElement();
        const char d = peek();
        ++p_;
        if (d == ']')
            return;
        if (d != ',')
            fail(QStringLiteral("esperado ',' ou ']'"));
    }
}

// Iterates the members of an object whose '{' was consumed.
template <class F>
void Reader::members(F&& onMember)
{
    if (peek() == '}') {
        ++p_;
        return;
    }
    for (;;) {
        if (peek() != '"')
            fail(QStringLiteral("esperado nome de membro"));
        const QString key = string();
        expect(':', "objeto");
        onMember(key);
        const char d = peek();
        ++p_;
        if (d == '}')
            return;
        if (d != ',')
            fail(QStringLiteral("esperado ',' ou '}'"));
    }
}

// --- packets -----------------------------------------------------------------

FieldDef Reader::fieldDef()
{
    expect('{', "definição de campo");
    FieldDef f;
    bool hasName = false, hasType = false, hasSize = false, hasFixed = false, hasRequired = false;
    auto once = [this](bool& seen, const QString& key) {
        if (seen)
            fail(QStringLiteral("membro \"%1\" repetido").arg(key));
        seen = true;
    };
    members([&](const QString& key) {
        if (key == QLatin1String("name")) {
            once(hasName, key);
            if (peek() != '"')
                fail(QStringLiteral("nome de campo deve ser texto"));
            f.name = string();
            if (f.name.trimmed().isEmpty())
                fail(QStringLiteral("nome de campo vazio"));
        } else if (key == QLatin1String("type")) {
            once(hasType, key);
            if (peek() != '"')
                fail(QStringLiteral("tipo de campo deve ser texto"));
            const QString t = string();
            try {
                f.type = fieldTypeFromName(t);
            } catch (const Error& e) {
                fail(e.message());
            }
        } else if (key == QLatin1String("size")) {
            once(hasSize, key);
            const char c = peek();
            if (c != '-' && (c < '0' || c > '9'))
                fail(QStringLiteral("tamanho de campo deve ser número"));
            qint64 n = 0;
            if (!toInt(number(), n) || n < 0 || n > 1 << 24)
                fail(QStringLiteral("tamanho de campo inválido"));
            f.size = int(n);
        } else if (key == QLatin1String("fixed") || key == QLatin1String("required")) {
            bool& flag = key == QLatin1String("fixed") ? f.fixed : f.required;
            once(key == QLatin1String("fixed") ? hasFixed : hasRequired, key);
            const char c = peek();
            if (c == 't') {
                literal("true");
                flag = true;
            } else if (c == 'f') {
                literal("false");
                flag = false;
            } else {
                fail(QStringLiteral("\"%1\" deve ser true ou false").arg(key));
            }
        } else {
            fail(QStringLiteral("membro desconhecido \"%1\" em definição de campo").arg(key));
        }
    });
    if (!hasName || !hasType)
        fail(QStringLiteral("definição de campo sem \"name\" ou \"type\""));
    return f;
}

QList<FieldDef> Reader::fieldList()
{
    QList<FieldDef> fields;
    expect('[', "lista de campos");
    if (peek() == ']') {
        ++p_;
        return fields;
    }
    QSet<QString> names; // case-folded: one lookup per field, never a pairwise comparison
    for (;;) {
        if (fields.size() >= codec::kMaxFields)
            fail(QStringLiteral("mais de %1 campos").arg(codec::kMaxFields));
        FieldDef f = fieldDef();
        const QString folded = f.name.toCaseFolded();
        if (names.contains(folded))
            fail(QStringLiteral("campo \"%1\" repetido").arg(f.name));
        names.insert(folded);
        fields.append(std::move(f));
        const char d = peek();
        ++p_;
        if (d == ']')
            return fields;
        if (d != ',')
            fail(QStringLiteral("esperado ',' ou ']' na lista de campos"));
    }
}

Variant Reader::cell(const FieldDef& f, int row, int col)
{
    const char c = peek();
    if (c == 'n') {
        literal("null");
        if (f.required)
            failRow(row, f, QStringLiteral("valor obrigatório ausente"));
        return Variant();
    }
    switch (f.type) {
    case FieldType::String:
        if (c == '"') {
            QString s = string(col);
            if (f.size > 0 && s.size() > f.size)
                failRow(row, f, QStringLiteral("texto de %1 caracteres excede o tamanho %2").arg(s.size()).arg(f.size));
            return Variant(std::move(s));
        }
        break;
    case FieldType::Integer:
        if (c == '-' || (c >= '0' && c <= '9')) {
            qint64 i = 0;
            const Number n = number();
            if (!toInt(n, i))
                failRow(row, f,
                        QStringLiteral("número não inteiro ou fora do intervalo: %1")
                            .arg(QString::fromLatin1(n.begin, std::min<qsizetype>(n.end - n.begin, 30))));
            return Variant(i);
        }
        break;
    case FieldType::Float:
        if (c == '-' || (c >= '0' && c <= '9'))
            return Variant(toDouble(number()));
        break;
    case FieldType::DateTime:
        if (c == '-' || (c >= '0' && c <= '9'))
            return Variant(Date{toDouble(number())});
        break;
    case FieldType::Boolean:
        if (c == 't') {
            literal("true");
            return Variant(true);
        }
        if (c == 'f') {
            literal("false");
            return Variant(false);
        }
        break;
    }
    failRow(row, f, QStringLiteral("valor de tipo errado para um campo %1").arg(fieldTypeName(f.type)));
}

PacketRow Reader::row(const QList<FieldDef>& fields, int r)
{
    const int nf = int(fields.size());
    expect('[', "linha");
    PacketRow row;
    row.reserve(size_t(nf));
    if (peek() == ']') {
        ++p_;
    } else {
        for (;;) {
            if (int(row.size()) >= nf)
                fail(QStringLiteral("linha %1 com mais valores que os %2 campos").arg(r + 1).arg(nf));
            row.push_back(cell(fields[int(row.size())], r, int(row.size())));
            const char d = peek();
            ++p_;
            if (d == ']')
                break;
            if (d != ',')
                fail(QStringLiteral("esperado ',' ou ']' na linha %1").arg(r + 1));
        }
    }
    if (int(row.size()) != nf)
        fail(QStringLiteral("linha %1 com %2 valores para %3 campos").arg(r + 1).arg(row.size()).arg(nf));
    return row;
}

void Reader::rowList(const QList<FieldDef>& fields, std::vector<PacketRow>& rows)
{
    expect('[', "lista de linhas");
    if (peek() == ']') {
        ++p_;
        return;
    }
    for (;;) {
        rows.push_back(row(fields, int(rows.size())));
        const char d = peek();
        ++p_;
        if (d == ']')
            return;
        if (d != ',')
            fail(QStringLiteral("esperado ',' ou ']' na lista de linhas"));
    }
}

// The members of a packet object whose '{' was consumed. "rows" may come
// before "fields": it is then skipped and read again once the fields are known.
DataPacket Reader::packetBody()
{
    QList<FieldDef> fields;
    std::vector<PacketRow> rows;
    bool hasFields = false, hasRows = false;
    const char* deferredRows = nullptr;
    members([&](const QString& key) {
        if (key == QLatin1String("fields")) {
            if (hasFields)
                fail(QStringLiteral("membro \"fields\" repetido"));
            hasFields = true;
            fields = fieldList();
        } else if (key == QLatin1String("rows")) {
            if (hasRows)
                fail(QStringLiteral("membro \"rows\" repetido"));
            hasRows = true;
            if (hasFields) {
                rowList(fields, rows);
            } else {
                ws();
                deferredRows = p_;
                skip(1);
            }
        } else {
            fail(QStringLiteral("membro desconhecido \"%1\" no pacote").arg(key));
        }
    });
    if (!hasFields || !hasRows)
        fail(QStringLiteral("pacote sem \"fields\" ou \"rows\""));
    if (deferredRows) {
        const char* after = p_;
        p_ = deferredRows;
        rowList(fields, rows);
        p_ = after;
    }
    DataPacket p(std::move(fields));
    p.rows() = std::move(rows);
    return p;
}

// --- variants ----------------------------------------------------------------

Variant Reader::variant(int depth)
{
    if (depth > kMaxDepth)
        fail(QStringLiteral("aninhamento acima de %1 níveis").arg(kMaxDepth));
    const char c = peek();
    switch (c) {
    case 'n': literal("null"); return Variant();
    case 't': literal("true"); return Variant(true);
    case 'f': literal("false"); return Variant(false);
    case '"': return Variant(string());
    case '[': {
        ++p_;
        VariantArray items;
        elements([&] { items.append(variant(depth + 1)); });
        return Variant(items);
    }
    case '{': ++p_; return typedValue();
    default:
        if (c == '-' || (c >= '0' && c <= '9'))
            fail(QStringLiteral("número sem tipo; use {\"int\": n}, {\"float\": n} ou {\"date\": n}"));
        fail(QStringLiteral("valor desconhecido"));
    }
}

// A typed value, {"int": n}, {"float": n}, {"date": n} or {"packet": {...}},
// whose '{' was consumed.
Variant Reader::typedValue()
{
    if (peek() != '"')
        fail(QStringLiteral("objeto de valor deve ter um membro \"int\", \"float\", \"date\" ou \"packet\""));
    const QString key = string();
    expect(':', "objeto");
    Variant v;
    if (key == QLatin1String("packet")) {
        expect('{', "pacote");
        v = Variant(packetBody());
    } else if (key == QLatin1String("int") || key == QLatin1String("float") || key == QLatin1String("date")) {
        const char d = peek();
        if (d != '-' && (d < '0' || d > '9'))
            fail(QStringLiteral("\"%1\" deve ser número").arg(key));
        const Number n = number();
        if (key == QLatin1String("int")) {
            qint64 i = 0;
            if (!toInt(n, i))
                fail(QStringLiteral("\"int\" não inteiro ou fora do intervalo"));
            v = Variant(i);
        } else if (key == QLatin1String("float")) {
            v = Variant(toDouble(n));
        } else {
            v = Variant(Date{toDouble(n)});
        }
    } else {
        fail(QStringLiteral("tipo de valor desconhecido \"%1\"").arg(key));
    }
    expect('}', "objeto de valor (um único membro)");
    return v;
}

// --- whole documents ---------------------------------------------------------

PacketRow Reader::rowDocument(const QList<FieldDef>& fields, int r)
{
    PacketRow out = row(fields, r);
    finish();
    return out;
}

QList<FieldDef> Reader::fieldsDocument()
{
    QList<FieldDef> f = fieldList();
    finish();
    return f;
}

DataPacket Reader::packetDocument()
{
    ws();
    expect('{', "início do pacote");
    DataPacket p = packetBody();
    finish();
    return p;
}

Variant Reader::variantDocument()
{
    ws();
    Variant v = variant(0);
    finish();
    return v;
}

RawObject Reader::objectDocument()
{
    if (peek() != '{')
        fail(QStringLiteral("esperado um objeto JSON"));
    ++p_;
    RawObject out;
    QSet<QString> seen;
    members([&](const QString& key) {
        if (seen.contains(key))
            fail(QStringLiteral("membro \"%1\" repetido").arg(key));
        seen.insert(key);
        out.members.push_back({key, rawValue()});
    });
    finish();
    return out;
}

std::vector<QByteArray> Reader::arrayDocument(qint64 maxElements)
{
    if (peek() != '[')
        fail(QStringLiteral("esperado uma lista JSON"));
    ++p_;
    std::vector<QByteArray> out;
    elements([&] {
        if (qint64(out.size()) >= maxElements)
            fail(QStringLiteral("lista com mais de %1 elementos").arg(maxElements));
        out.push_back(rawValue());
    });
    finish();
    return out;
}

} // namespace detail

DataPacket decodePacket(const QByteArray& json)
{
    return detail::Reader(json).packetDocument();
}

Variant decodeVariant(const QByteArray& json)
{
    return detail::Reader(json).variantDocument();
}

const QByteArray* RawObject::find(QStringView name) const
{
    for (const RawMember& m : members)
        if (m.name == name)
            return &m.value;
    return nullptr;
}

RawObject splitObject(const QByteArray& json)
{
    return detail::Reader(json).objectDocument();
}

std::vector<QByteArray> splitArray(const QByteArray& json, qint64 maxElements)
{
    return detail::Reader(json).arrayDocument(maxElements);
}

} // namespace core::codec
