#include "datapacket.h"

#include "errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QVariant>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace core {

// --- field types -------------------------------------------------------------------

QString fieldTypeName(FieldType t)
{
    switch (t) {
    case FieldType::String: return QStringLiteral("string");
    case FieldType::Integer: return QStringLiteral("integer");
    case FieldType::Float: return QStringLiteral("float");
    case FieldType::Boolean: return QStringLiteral("boolean");
    case FieldType::DateTime: return QStringLiteral("datetime");
    }
    return QStringLiteral("?");
}

FieldType fieldTypeFromName(const QString& name)
{
    if (name == QLatin1String("string")) return FieldType::String;
    if (name == QLatin1String("integer")) return FieldType::Integer;
    if (name == QLatin1String("float")) return FieldType::Float;
    if (name == QLatin1String("boolean")) return FieldType::Boolean;
    if (name == QLatin1String("datetime")) return FieldType::DateTime;
    throw Error(QStringLiteral("Tipo de campo desconhecido: \"%1\"").arg(name));
}

// --- DataPacket ------------------------------------------------------------------------

int DataPacket::fieldIndex(const QString& name) const
{
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString DataPacket::checkValue(const FieldDef& f, const Variant& v)
{
    using T = Variant::Type;
    const T t = v.type();
    if (t == T::Null)
        return f.required ? QStringLiteral("valor obrigatório ausente") : QString();
    bool fits = false;
    switch (f.type) {
    case FieldType::String: fits = t == T::String; break;
    case FieldType::Integer: fits = t == T::Integer; break;
    case FieldType::Float: fits = t == T::Double || t == T::Integer; break;
    case FieldType::Boolean: fits = t == T::Boolean; break;
    case FieldType::DateTime: fits = t == T::Date; break;
    }
    if (!fits)
        return QStringLiteral("valor do tipo %1 num campo %2").arg(Variant::typeName(t), fieldTypeName(f.type));
    if (f.type == FieldType::String && f.size > 0) {
        const qsizetype n = v.toString().size();
        if (n > f.size)
            return QStringLiteral("texto de %1 caracteres excede o tamanho %2").arg(n).arg(f.size);
    }
    if (f.type == FieldType::Float && t == T::Double && !std::isfinite(v.toDouble()))
        return QStringLiteral("número não finito");
    return {};
}

namespace {
QString rowFieldError(int row, const QString& field, const QString& why)
{
    return QStringLiteral("Pacote de dados recusado: linha %1, campo %2: %3").arg(row + 1).arg(field, why);
}
} // namespace

// --- compact rows --------------------------------------------------------------
//
// Each value is a tag byte and its bytes: texts of Latin-1 characters as one
// byte a character, others as UTF-16; integers as zigzag varints; doubles and
// dates as their 8 bytes. Rows lie whole in blocks of about 1 MB, so the
// storage grows without ever copying what it holds.

struct DataPacket::CompactRows {
    enum Tag : char { Null, Latin1, Utf16, Int, Double, False, True, Date };
    static constexpr size_t kBlock = 1u << 20;
    std::vector<std::unique_ptr<char[]>> blocks;
    size_t used = 0;   // of the last block
    size_t room = 0;   // size of the last block
    std::vector<const char*> starts;  // row r starts here
    std::string scratch;

    int count() const { return int(starts.size()); }

    static void varint(std::string& out, quint64 v)
    {
        while (v >= 0x80) {
            out += char(v | 0x80);
            v >>= 7;
        }
        out += char(v);
    }
    static quint64 readVarint(const char*& p)
    {
        quint64 v = 0;
        for (int shift = 0;; shift += 7) {
            const unsigned char b = static_cast<unsigned char>(*p++);
            v |= quint64(b & 0x7f) << shift;
            if (!(b & 0x80))
                return v;
        }
    }
    static void put8(std::string& out, double d)
    {
        char b[8];
        std::memcpy(b, &d, 8);
        out.append(b, 8);
    }

    void append(const PacketRow& row)
    {
        scratch.clear();
        for (const Variant& v : row) {
            switch (v.type()) {
            case Variant::Type::Null: scratch += char(Null); break;
            case Variant::Type::String: {
                const QString& t = *v.stringPtr();
                bool latin1 = true;
                for (QChar c : t)
                    if (c.unicode() > 0xff) {
                        latin1 = false;
                        break;
                    }
                scratch += char(latin1 ? Latin1 : Utf16);
                varint(scratch, quint64(t.size()));
                if (latin1)
                    for (QChar c : t) scratch += char(c.unicode());
                else
                    scratch.append(reinterpret_cast<const char*>(t.utf16()), size_t(t.size()) * 2);
                break;
            }
            case Variant::Type::Integer: {
                const qint64 i = v.toInt();
                scratch += char(Int);
                varint(scratch, (quint64(i) << 1) ^ quint64(i >> 63));
                break;
            }
            case Variant::Type::Double: scratch += char(Double); put8(scratch, v.toDouble()); break;
            case Variant::Type::Boolean: scratch += char(v.toBool() ? True : False); break;
            case Variant::Type::Date: scratch += char(Date); put8(scratch, v.toDate().days); break;
            default: throw Error(QStringLiteral("Dados recebidos inválidos: valor composto dentro de uma linha"));
            }
        }
        if (used + scratch.size() > room) {
            room = std::max(kBlock, scratch.size());
            blocks.push_back(std::make_unique<char[]>(room));
            used = 0;
        }
        char* at = blocks.back().get() + used;
        std::memcpy(at, scratch.data(), scratch.size());
        used += scratch.size();
        starts.push_back(at);
    }

    static const char* read(const char* p, Variant& out)
    {
        const char tag = *p++;
        switch (tag) {
        case Null: out = Variant(); return p;
        case Latin1: {
            const qsizetype n = qsizetype(readVarint(p));
            out = Variant(QString::fromLatin1(p, n));
            return p + n;
        }
        case Utf16: {
            const qsizetype n = qsizetype(readVarint(p));
            QString t(n, Qt::Uninitialized);
            std::memcpy(t.data(), p, size_t(n) * 2);
            out = Variant(std::move(t));
            return p + 2 * n;
        }
        case Int: {
            const quint64 z = readVarint(p);
            out = Variant(qint64((z >> 1) ^ (~(z & 1) + 1)));
            return p;
        }
        case Double:
        case Date: {
            double d = 0;
            std::memcpy(&d, p, 8);
            out = tag == Double ? Variant(d) : Variant(core::Date{d});
            return p + 8;
        }
        case False: out = Variant(false); return p;
        default: out = Variant(true); return p;
        }
    }
    static const char* skip(const char* p)
    {
        const char tag = *p++;
        switch (tag) {
        case Latin1: { const qsizetype n = qsizetype(readVarint(p)); return p + n; }
        case Utf16: { const qsizetype n = qsizetype(readVarint(p)); return p + 2 * n; }
        case Int: readVarint(p); return p;
        case Double:
        case Date: return p + 8;
        default: return p;
        }
    }
};

DataPacket::DataPacket(QList<FieldDef> fields, std::shared_ptr<const CompactRows> rows)
    : fields_(std::move(fields)), compact_(std::move(rows))
{
}

int DataPacket::rowCount() const
{
    return compact_ ? compact_->count() : int(rows_.size());
}

void DataPacket::readRow(int r, PacketRow& out) const
{
    if (!compact_) {
        out = rows_.at(size_t(r));
        return;
    }
    const size_t nf = size_t(fields_.size());
    out.resize(nf);
    const char* p = compact_->starts.at(size_t(r));
    for (size_t f = 0; f < nf; ++f)
        p = CompactRows::read(p, out[f]);
    for (const auto& [col, values] : written_)
        out[size_t(col)] = values[size_t(r)];
}

Variant DataPacket::cell(int r, int f) const
{
    if (!compact_)
        return rows_.at(size_t(r)).at(size_t(f));
    if (f < 0 || f >= fields_.size())
        throw Error(QStringLiteral("Campo %1 fora do pacote de dados").arg(f));
    if (auto w = written_.find(f); w != written_.end())
        return w->second.at(size_t(r));
    const char* p = compact_->starts.at(size_t(r));
    for (int i = 0; i < f; ++i)
        p = CompactRows::skip(p);
    Variant v;
    CompactRows::read(p, v);
    return v;
}

void DataPacket::setCell(int r, int f, Variant v)
{
    if (!compact_) {
        rows_.at(size_t(r)).at(size_t(f)) = std::move(v);
        return;
    }
    auto w = written_.find(f);
    if (w == written_.end()) {
        std::vector<Variant> column;
        column.reserve(size_t(rowCount()));
        for (int i = 0; i < rowCount(); ++i) column.push_back(cell(i, f));
        w = written_.emplace(f, std::move(column)).first;
    }
    w->second.at(size_t(r)) = std::move(v);
}

void DataPacket::materialize() const
{
    std::vector<PacketRow> rows(size_t(compact_->count()));
    for (int r = 0; r < compact_->count(); ++r)
        readRow(r, rows[size_t(r)]);
    rows_ = std::move(rows);
    compact_.reset();
    written_.clear();
}

void DataPacket::appendRow(PacketRow row)
{
    if (compact_)
        materialize();
    if (int(row.size()) != fields_.size())
        throw Error(QStringLiteral("Pacote de dados recusado: linha %1 com %2 valores para %3 campos")
                        .arg(rowCount() + 1)
                        .arg(row.size())
                        .arg(fields_.size()));
    for (int i = 0; i < fields_.size(); ++i) {
        const QString why = checkValue(fields_[i], row[size_t(i)]);
        if (!why.isEmpty())
            throw Error(rowFieldError(rowCount(), fields_[i].name, why));
    }
    // Float fields hold doubles, whatever number the caller gave.
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_[i].type == FieldType::Float && row[size_t(i)].type() == Variant::Type::Integer)
            row[size_t(i)] = Variant(row[size_t(i)].toDouble());
    rows_.push_back(std::move(row));
}

const Variant& DataPacket::value(int row, const QString& field) const
{
    const int f = fieldIndex(field);
    if (f < 0)
        throw Error(QStringLiteral("Campo \"%1\" não existe no pacote de dados").arg(field));
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("Linha %1 fora do pacote de dados (%2 linhas)").arg(row).arg(rowCount()));
    return rows()[size_t(row)][size_t(f)];
}

void DataPacket::validate() const
{
    if (compact_)
        materialize();
    for (int r = 0; r < rowCount(); ++r) {
        const PacketRow& row = rows_[size_t(r)];
        if (int(row.size()) != fields_.size())
            throw Error(QStringLiteral("Pacote de dados recusado: linha %1 com %2 valores para %3 campos")
                            .arg(r + 1)
                            .arg(row.size())
                            .arg(fields_.size()));
        for (int i = 0; i < fields_.size(); ++i) {
            const QString why = checkValue(fields_[i], row[size_t(i)]);
            if (!why.isEmpty())
                throw Error(rowFieldError(r, fields_[i].name, why));
        }
    }
}

bool DataPacket::operator==(const DataPacket& o) const
{
    return fields_ == o.fields_ && rows() == o.rows();
}

// --- codec -------------------------------------------------------------------------------
//
// Hand-written JSON writer and reader. Large packets (around 100,000 rows)
// travel in one answer, so the packet goes straight from bytes to rows and
// back without an intermediate document tree.

namespace codec {
namespace {

constexpr int kMaxDepth = 64;

class Writer {
public:
    explicit Writer(qsizetype expected = 256) { grow(expected); }

    void put(char c)
    {
        need(1);
        d_[len_++] = c;
    }
    void put(const char* s, qsizetype n)
    {
        need(n);
        std::memcpy(d_ + len_, s, size_t(n));
        len_ += n;
    }
    template <qsizetype N>
    void lit(const char (&s)[N]) { put(s, N - 1); }

    void putInt(qint64 v)
    {
        need(24);
        auto r = std::to_chars(d_ + len_, d_ + len_ + 24, v);
        len_ = r.ptr - d_;
    }

    void putDouble(double v)
    {
        if (!std::isfinite(v))
            throw Error(QStringLiteral("Número não finito não pode ser transmitido"));
        need(32);
        auto r = std::to_chars(d_ + len_, d_ + len_ + 32, v);
        len_ = r.ptr - d_;
    }

    void putString(const QString& s)
    {
        const qsizetype n = s.size();
        need(n * 6 + 2);
        char* o = d_ + len_;
        *o++ = '"';
        const char16_t* u = reinterpret_cast<const char16_t*>(s.utf16());
        for (qsizetype i = 0; i < n; ++i) {
            char32_t c = u[i];
            if (c < 0x80) {
                if (c >= 0x20 && c != '"' && c != '\\') {
                    *o++ = char(c);
                    continue;
                }
                *o++ = '\\';
                switch (c) {
                case '"': *o++ = '"'; break;
                case '\\': *o++ = '\\'; break;
                case '\n': *o++ = 'n'; break;
                case '\r': *o++ = 'r'; break;
                case '\t': *o++ = 't'; break;
                case '\b': *o++ = 'b'; break;
                case '\f': *o++ = 'f'; break;
                default: {
                    static const char hex[] = "0123456789abcdef";
                    *o++ = 'u';
                    *o++ = '0';
                    *o++ = '0';
                    *o++ = hex[(c >> 4) & 0xF];
                    *o++ = hex[c & 0xF];
                }
                }
                continue;
            }
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD; // a lone surrogate has no UTF-8 form
            }
            if (c < 0x800) {
                *o++ = char(0xC0 | (c >> 6));
                *o++ = char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                *o++ = char(0xE0 | (c >> 12));
                *o++ = char(0x80 | ((c >> 6) & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            } else {
                *o++ = char(0xF0 | (c >> 18));
                *o++ = char(0x80 | ((c >> 12) & 0x3F));
                *o++ = char(0x80 | ((c >> 6) & 0x3F));
                *o++ = char(0x80 | (c & 0x3F));
            }
        }
        *o++ = '"';
        len_ = o - d_;
    }

    QByteArray take()
    {
        buf_.resize(len_);
        return std::move(buf_);
    }

    qsizetype size() const { return len_; }
    /// Drops what was written after `len` bytes.
    void truncate(qsizetype len) { len_ = std::min(len_, len); }

private:
    void need(qsizetype n)
    {
        if (len_ + n > cap_)
            grow(std::max(cap_ * 2, len_ + n));
    }
    void grow(qsizetype cap)
    {
        buf_.resize(cap);
        cap_ = cap;
        d_ = buf_.data();
    }

    QByteArray buf_;
    char* d_ = nullptr;
    qsizetype len_ = 0;
    qsizetype cap_ = 0;
};

void writeVariant(Writer& w, const Variant& v, int depth);

void writePacketHead(Writer& w, const QList<FieldDef>& fields)
{
    const int nf = int(fields.size());
    w.lit("{\"fields\":[");
    for (int i = 0; i < nf; ++i) {
        const FieldDef& f = fields[i];
        if (i)
            w.put(',');
        w.lit("{\"name\":");
        w.putString(f.name);
        w.lit(",\"type\":\"");
        const QByteArray tn = fieldTypeName(f.type).toLatin1();
        w.put(tn.constData(), tn.size());
        w.put('"');
        if (f.size != 0 || f.type == FieldType::String) {
            w.lit(",\"size\":");
            w.putInt(f.size);
        }
        if (f.fixed)
            w.lit(",\"fixed\":true");
        if (f.required)
            w.lit(",\"required\":true");
        w.put('}');
    }
    w.lit("],\"rows\":[");
}

// Row `r` (from 0), preceded by its comma when it is not the first.
void writeRow(Writer& w, const QList<FieldDef>& fields, const PacketRow& row, int r)
{
    const int nf = int(fields.size());
    if (int(row.size()) != nf)
        throw Error(QStringLiteral("Pacote de dados recusado: linha %1 com %2 valores para %3 campos")
                        .arg(r + 1)
                        .arg(row.size())
                        .arg(nf));
    if (r)
        w.put(',');
    w.put('[');
    for (int i = 0; i < nf; ++i) {
        if (i)
            w.put(',');
        const Variant& v = row[size_t(i)];
        const FieldDef& f = fields[i];
        const Variant::Type t = v.type();
        bool ok = true;
        if (t == Variant::Type::Null) {
            ok = !f.required;
            w.lit("null");
        } else {
            switch (f.type) {
            case FieldType::String:
                ok = t == Variant::Type::String && (f.size <= 0 || v.stringPtr()->size() <= f.size);
                if (ok)
                    w.putString(*v.stringPtr());
                break;
            case FieldType::Integer:
                ok = t == Variant::Type::Integer;
                if (ok)
                    w.putInt(v.toInt());
                break;
            case FieldType::Float:
                ok = t == Variant::Type::Double || t == Variant::Type::Integer;
                if (ok)
                    w.putDouble(v.toDouble());
                break;
            case FieldType::Boolean:
                ok = t == Variant::Type::Boolean;
                if (ok) {
                    if (v.toBool())
                        w.lit("true");
                    else
                        w.lit("false");
                }
                break;
            case FieldType::DateTime:
                ok = t == Variant::Type::Date;
                if (ok)
                    w.putDouble(v.toDate().days);
                break;
            }
        }
        if (!ok)
            throw Error(rowFieldError(r, f.name, DataPacket::checkValue(f, v)));
    }
    w.put(']');
}

void writePacket(Writer& w, const DataPacket& p)
{
    writePacketHead(w, p.fields());
    int r = 0;
    for (const PacketRow& row : p.rows())
        writeRow(w, p.fields(), row, r++);
    w.lit("]}");
}

void writeVariant(Writer& w, const Variant& v, int depth)
{
    if (depth > kMaxDepth)
        throw Error(QStringLiteral("Valor aninhado em mais de %1 níveis").arg(kMaxDepth));
    switch (v.type()) {
    case Variant::Type::Null: w.lit("null"); break;
    case Variant::Type::String: w.putString(v.toString()); break;
    case Variant::Type::Boolean:
        if (v.toBool())
            w.lit("true");
        else
            w.lit("false");
        break;
    case Variant::Type::Integer:
        w.lit("{\"int\":");
        w.putInt(v.toInt());
        w.put('}');
        break;
    case Variant::Type::Double:
        w.lit("{\"float\":");
        w.putDouble(v.toDouble());
        w.put('}');
        break;
    case Variant::Type::Date:
        w.lit("{\"date\":");
        w.putDouble(v.toDate().days);
        w.put('}');
        break;
    case Variant::Type::Packet:
        w.lit("{\"packet\":");
        writePacket(w, v.packet());
        w.put('}');
        break;
    case Variant::Type::Array: {
        w.put('[');
        bool firstItem = true;
        for (const Variant& e : v.elements()) {
            if (!firstItem)
                w.put(',');
            firstItem = false;
            writeVariant(w, e, depth + 1);
        }
        w.put(']');
        break;
    }
    }
}

// A JSON number as read: its text, and whether it has neither fraction nor exponent.
struct Number {
    const char* begin;
    const char* end;
    bool integral;
};

class Reader {
public:
    explicit Reader(const QByteArray& json)
        : begin_(json.constData()), p_(begin_), end_(begin_ + json.size())
    {
    }
    Reader() : begin_(nullptr), p_(nullptr), end_(nullptr) {}

    /// Longest text value (bytes as written) read before it is refused.
    void setMaxText(qint64 n) { maxText_ = n; }

    /// Reads from [b, e) next; positions in messages count from `base`.
    void reset(const char* b, const char* e, qint64 base)
    {
        begin_ = p_ = b;
        end_ = e;
        base_ = base;
    }

    /// One packet row at the start of the input, which may go on after it.
    PacketRow rowPrefix(const QList<FieldDef>& fields, int r) { return row(fields, r); }
    const char* position() const { return p_; }

    /// One packet row, alone in the input: "[" values "]".
    PacketRow rowDocument(const QList<FieldDef>& fields, int r)
    {
        PacketRow out = row(fields, r);
        finish();
        return out;
    }

    /// A field list, alone in the input.
    QList<FieldDef> fieldsDocument()
    {
        QList<FieldDef> f = fieldList();
        finish();
        return f;
    }

    DataPacket packetDocument()
    {
        ws();
        expect('{', "início do pacote");
        DataPacket p = packetBody();
        finish();
        return p;
    }

    Variant variantDocument()
    {
        ws();
        Variant v = variant(0);
        finish();
        return v;
    }

    RawObject objectDocument()
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

    std::vector<QByteArray> arrayDocument(qint64 maxElements)
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

private:
    // Checks one value and gives its text as a view into the input. The
    // nesting limit counts from the value itself, as when it is decoded alone.
    QByteArray rawValue()
    {
        ws();
        const char* s = p_;
        skip(0);
        return QByteArray::fromRawData(s, p_ - s);
    }

    [[noreturn]] void fail(const QString& what) const
    {
        throw Error(QStringLiteral("Dados recebidos inválidos (posição %1): %2").arg(base_ + (p_ - begin_)).arg(what));
    }
    [[noreturn]] void failRow(int row, const FieldDef& f, const QString& why) const
    {
        throw Error(rowFieldError(row, f.name, why));
    }

    void ws()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
            ++p_;
    }
    char peek()
    {
        ws();
        if (p_ >= end_)
            fail(QStringLiteral("fim inesperado dos dados"));
        return *p_;
    }
    void expect(char c, const char* where)
    {
        if (peek() != c)
            fail(QStringLiteral("esperado '%1' em %2").arg(QChar::fromLatin1(c)).arg(QString::fromUtf8(where)));
        ++p_;
    }
    void finish()
    {
        ws();
        if (p_ != end_)
            fail(QStringLiteral("dados a mais após o fim do valor"));
    }
    void literal(const char* word)
    {
        const size_t n = std::strlen(word);
        if (size_t(end_ - p_) < n || std::memcmp(p_, word, n) != 0)
            fail(QStringLiteral("valor desconhecido"));
        p_ += n;
    }

    Number number()
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

    double toDouble(const Number& n)
    {
        double d = 0;
        auto r = std::from_chars(n.begin, n.end, d);
        if (r.ec != std::errc() || r.ptr != n.end || !std::isfinite(d))
            fail(QStringLiteral("número fora do intervalo"));
        return d;
    }
    bool toInt(const Number& n, qint64& out)
    {
        if (!n.integral)
            return false;
        auto r = std::from_chars(n.begin, n.end, out);
        return r.ec == std::errc() && r.ptr == n.end;
    }

    static bool isCont(unsigned char c) { return (c & 0xC0) == 0x80; }

    unsigned hex4()
    {
        if (end_ - p_ < 4)
            fail(QStringLiteral("escape \\u incompleto"));
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            v <<= 4;
            if (c >= '0' && c <= '9') v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= unsigned(c - 'A' + 10);
            else fail(QStringLiteral("escape \\u malformado"));
        }
        return v;
    }

    // Short ASCII strings (flags "S"/"N", branch codes, series) repeat on
    // every row: they are shared through a small direct-mapped cache instead
    // of being allocated once per value.
    QString shortString(const char* s, qsizetype n)
    {
        quint64 key = quint64(n);
        for (qsizetype i = 0; i < n; ++i)
            key |= quint64(static_cast<unsigned char>(s[i])) << (8 * (i + 1));
        if (shortCache_.empty()) {
            // A small call's reader meets a handful of short strings: the
            // cache pays off only from the rows of a packet on.
            if (++uncachedShort_ <= kUncachedShort) return QString::fromLatin1(s, n);
            shortCache_.resize(512);
        }
        ShortEntry& e = shortCache_[size_t((key * 0x9E3779B97F4A7C15ull) >> 55)];
        if (e.key != key || e.text.isNull()) {
            e.key = key;
            e.text = QString::fromLatin1(s, n);
        }
        return e.text;
    }

    // Reads a string at '"'. Plain ASCII (the common case) is copied in one
    // step; escapes and multi-byte UTF-8 go through a checked decoder.
    // Longer ASCII strings of a packet column (client names and codes,
    // shipment numbers) repeat from row to row too: each string column has a
    // direct-mapped cache that shares them. A column whose values hardly
    // repeat (document numbers, keys) stops using it after a while.
    // `value` is the decoded text of the raw string text [s, s + n), which
    // is what is hashed.
    template <class Text>
    QString columnString(int col, const char* s, qsizetype n, Text value)
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
        h ^= h >> 31;  // mixed, so the last characters reach the slot bits too
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

    /// A string at '"'; `col` is the packet column it is read for, or -1.
    QString string(int col = -1)
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
                continue;
            }
            if (c < 0x80) {
                buf_.push_back(char16_t(c));
                ++p_;
                continue;
            }
            // Multi-byte UTF-8, checked: no overlong forms, no surrogates, at most U+10FFFF.
            const unsigned char* q = reinterpret_cast<const unsigned char*>(p_);
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
    }

    // Skips any JSON value, checking its syntax.
    void skip(int depth)
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
    void elements(F&& onElement)
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
    void members(F&& onMember)
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

    FieldDef fieldDef()
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

    QList<FieldDef> fieldList()
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

    Variant cell(const FieldDef& f, int row, int col)
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
                    failRow(row, f, QStringLiteral("número não inteiro ou fora do intervalo: %1")
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

    PacketRow row(const QList<FieldDef>& fields, int r)
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

    void rowList(const QList<FieldDef>& fields, std::vector<PacketRow>& rows)
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
    DataPacket packetBody()
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

    Variant variant(int depth)
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
        case '{': {
            ++p_;
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
        default:
            if (c == '-' || (c >= '0' && c <= '9'))
                fail(QStringLiteral("número sem tipo; use {\"int\": n}, {\"float\": n} ou {\"date\": n}"));
            fail(QStringLiteral("valor desconhecido"));
        }
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    qint64 base_ = 0;
    qint64 maxText_ = DecodeLimits::kNone;
    std::u16string buf_;
    struct ShortEntry {
        quint64 key = 0;
        QString text;
    };
    struct ColumnCache {
        std::vector<ShortEntry> table;
        int lookups = 0;
        int hits = 0;
        bool off = false;
    };
    std::vector<ShortEntry> shortCache_;
    static constexpr int kUncachedShort = 16;
    int uncachedShort_ = 0;
    std::vector<ColumnCache> columnCaches_;
};

QJsonObject packetToJson(const DataPacket& p)
{
    QJsonArray fields;
    for (const FieldDef& f : p.fields()) {
        QJsonObject o{{QStringLiteral("name"), f.name}, {QStringLiteral("type"), fieldTypeName(f.type)}};
        if (f.size != 0 || f.type == FieldType::String)
            o.insert(QStringLiteral("size"), f.size);
        if (f.fixed)
            o.insert(QStringLiteral("fixed"), true);
        if (f.required)
            o.insert(QStringLiteral("required"), true);
        fields.append(o);
    }
    p.validate();
    QJsonArray rows;
    for (const PacketRow& row : p.rows()) {
        QJsonArray r;
        for (const Variant& v : row) {
            switch (v.type()) {
            case Variant::Type::Null: r.append(QJsonValue::Null); break;
            case Variant::Type::String: r.append(v.toString()); break;
            case Variant::Type::Integer: r.append(v.toInt()); break;
            case Variant::Type::Double: r.append(v.toDouble()); break;
            case Variant::Type::Boolean: r.append(v.toBool()); break;
            case Variant::Type::Date: r.append(v.toDate().days); break;
            default: break; // refused by validate()
            }
        }
        rows.append(r);
    }
    return QJsonObject{{QStringLiteral("fields"), fields}, {QStringLiteral("rows"), rows}};
}

} // namespace

QByteArray encodePacket(const DataPacket& p)
{
    Writer w(qsizetype(p.rowCount()) * qsizetype(p.fields().size()) * 8 + 256);
    writePacket(w, p);
    return w.take();
}

DataPacket decodePacket(const QByteArray& json)
{
    return Reader(json).packetDocument();
}

QByteArray encodeVariant(const Variant& v)
{
    Writer w;
    writeVariant(w, v, 0);
    return w.take();
}

Variant decodeVariant(const QByteArray& json)
{
    return Reader(json).variantDocument();
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
    return Reader(json).objectDocument();
}

std::vector<QByteArray> splitArray(const QByteArray& json, qint64 maxElements)
{
    return Reader(json).arrayDocument(maxElements);
}

// --- streaming ---------------------------------------------------------------

struct PacketStreamWriter::Impl {
    QList<FieldDef> fields;
    Writer w{1 << 16};
    int rows = 0;
};

PacketStreamWriter::PacketStreamWriter(QList<FieldDef> fields)
    : d(std::make_unique<Impl>())
{
    d->fields = std::move(fields);
    writePacketHead(d->w, d->fields);
}

PacketStreamWriter::~PacketStreamWriter() = default;

void PacketStreamWriter::row(const PacketRow& row)
{
    const qsizetype mark = d->w.size();
    try {
        writeRow(d->w, d->fields, row, d->rows);
    } catch (...) {
        d->w.truncate(mark);
        throw;
    }
    ++d->rows;
}

void PacketStreamWriter::end()
{
    d->w.lit("]}");
}

int PacketStreamWriter::rowCount() const
{
    return d->rows;
}

qsizetype PacketStreamWriter::pending() const
{
    return d->w.size();
}

QByteArray PacketStreamWriter::take()
{
    QByteArray out = d->w.take();
    d->w = Writer(1 << 16);
    return out;
}

void PacketStreamWriter::raw(const QByteArray& text)
{
    d->w.put(text.constData(), text.size());
}

namespace {
// Deeper than any envelope the decoders accept (the envelope, the argument
// list, then 65 levels of one value): refused at once instead of growing.
constexpr size_t kMaxScanDepth = kMaxDepth + 16;
} // namespace

// A structural scanner: it follows strings, objects and lists only far
// enough to know where it is (member names of the first levels, list
// indexes), keeps every byte except the rows of a streamed packet, and hands
// each complete row to the strict row reader. Validation of everything kept
// is left to the decoders that read the envelope afterwards.
struct EnvelopeReader::Impl {
    struct Level {
        char kind = '{';
        bool expectKey = true;  // object: the next string is a member name
        int index = 0;          // list: index of the current element
        QByteArray key;         // object: current member name, plain (kept on the first levels only)
        qsizetype fieldsFrom = -1;  // a packet's "fields" list: where its text starts in `kept`
        std::shared_ptr<const QList<FieldDef>> fields;  // packet object: its fields, once read
    };
    enum class Rows { Off, FirstOrEnd, Next, In, After };

    std::vector<Level> stack;
    QByteArray kept;
    qint64 fed = 0;
    bool inString = false, escape = false;
    bool keyString = false, keyPlain = true;
    QByteArray keyBuf;

    Rows rows = Rows::Off;
    int slot = -2;
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
    qint64 rowAt = 0;  // position of the row's first byte in the whole input
    Reader rowReader;
    std::map<int, std::vector<PacketRow>> streamed;
    std::string held;  // bytes fed and not read yet
    DecodeLimits limits;
    qint64 cells = 0;  // values of the rows streamed so far
    qsizetype gather = 32 * 1024;  // pieces smaller than this are gathered first

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

    // The packet slot of the object at stack index `d`, or -2 when it is not
    // a packet whose rows are streamed.
    int slotOf(size_t d) const
    {
        if (d == 2 && stack[0].kind == '{' && stack[0].key == "payload" && stack[1].kind == '{'
            && stack[1].key == "packet")
            return kPayload;
        if (d == 3 && stack[0].kind == '{' && stack[0].key == "args" && stack[1].kind == '['
            && stack[2].kind == '{' && stack[2].key == "packet")
            return stack[1].index;
        if (d == 3 && stack[0].kind == '{' && stack[0].key == "payload" && stack[1].kind == '['
            && stack[2].kind == '{' && stack[2].key == "packet")
            return payloadElement(stack[1].index);
        return -2;
    }

    // Whether the row starting at `p` ends before `end`: a ']' outside strings.
    static bool rowEnds(const char* p, const char* end)
    {
        bool str = false, esc = false;
        for (++p; p < end; ++p) {
            const char c = *p;
            if (str) {
                if (esc) esc = false;
                else if (c == '\\') esc = true;
                else if (c == '"') str = false;
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
                        throw;  // whole, and malformed
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
                slot = -2;
                return p;  // the ']' is kept: the list stays, empty
            }
            if (c == ',' && rows == Rows::After) {
                rows = Rows::Next;
                ++p;
                continue;
            }
            fail(fed + (p - chunkStart), rows == Rows::After ? QStringLiteral("esperado ',' ou ']' na lista de linhas")
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
                    keepFrom = p;  // from the list's ']' on
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
                        if (keyBuf.size() < 64) keyBuf.append(c);
                        else keyPlain = false;
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
                    && stack.back().key == "rows" && stack.back().fields && slotOf(d - 1) != -2) {
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
                    fail(fed + (p - 1 - data), QStringLiteral("aninhamento acima de %1 níveis").arg(kMaxDepth));
                Level l;
                l.kind = c;
                if (c == '[' && (d == 3 || d == 4) && stack.back().kind == '{' && !stack.back().expectKey
                    && stack.back().key == "fields" && slotOf(d - 1) != -2)
                    l.fieldsFrom = kept.size() + ((p - 1) - keepFrom);
                stack.push_back(std::move(l));
                break;
            }
            case ']':
            case '}': {
                if (stack.empty())
                    break;  // text after the envelope: the envelope's decoder refuses it
                const qsizetype fieldsFrom = stack.back().fieldsFrom;
                stack.pop_back();
                if (fieldsFrom >= 0 && !stack.empty()) {
                    flush(p);
                    try {
                        Reader r;
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

EnvelopeReader::EnvelopeReader()
    : d(std::make_unique<Impl>())
{
}

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

const QByteArray& EnvelopeReader::envelope() const
{
    const_cast<EnvelopeReader*>(this)->end();
    return d->kept;
}

bool EnvelopeReader::streamed(int slot) const
{
    const_cast<EnvelopeReader*>(this)->end();
    return d->streamed.count(slot) > 0;
}

int EnvelopeReader::readingRowsOf() const
{
    return d->rows == Impl::Rows::Off ? -2 : d->slot;
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

QJsonValue variantToJson(const Variant& v)
{
    switch (v.type()) {
    case Variant::Type::Null: return QJsonValue(QJsonValue::Null);
    case Variant::Type::String: return v.toString();
    case Variant::Type::Boolean: return v.toBool();
    case Variant::Type::Integer: return QJsonObject{{QStringLiteral("int"), v.toInt()}};
    case Variant::Type::Double: {
        if (!std::isfinite(v.toDouble()))
            throw Error(QStringLiteral("Número não finito não pode ser transmitido"));
        return QJsonObject{{QStringLiteral("float"), v.toDouble()}};
    }
    case Variant::Type::Date: return QJsonObject{{QStringLiteral("date"), v.toDate().days}};
    case Variant::Type::Packet: return QJsonObject{{QStringLiteral("packet"), packetToJson(v.packet())}};
    case Variant::Type::Array: {
        QJsonArray a;
        for (const Variant& e : v.elements())
            a.append(variantToJson(e));
        return a;
    }
    }
    return QJsonValue(QJsonValue::Null);
}

Variant variantFromJson(const QJsonValue& j)
{
    switch (j.type()) {
    case QJsonValue::Null: return Variant();
    case QJsonValue::Bool: return Variant(j.toBool());
    case QJsonValue::String: return Variant(j.toString());
    case QJsonValue::Array: {
        VariantArray items;
        for (const QJsonValue& e : j.toArray())
            items.append(variantFromJson(e));
        return Variant(items);
    }
    case QJsonValue::Object: {
        const QJsonObject o = j.toObject();
        if (o.size() != 1)
            throw Error(QStringLiteral("Dados recebidos inválidos: objeto de valor deve ter um único membro"));
        const QString key = o.begin().key();
        const QJsonValue x = o.begin().value();
        if (key == QLatin1String("packet")) {
            if (!x.isObject())
                throw Error(QStringLiteral("Dados recebidos inválidos: \"packet\" deve ser objeto"));
            // One decoder for packets: the strict streaming one.
            return Variant(decodePacket(QJsonDocument(x.toObject()).toJson(QJsonDocument::Compact)));
        }
        if (!x.isDouble())
            throw Error(QStringLiteral("Dados recebidos inválidos: \"%1\" deve ser número").arg(key));
        if (key == QLatin1String("int")) {
            const QVariant qv = x.toVariant();
            if (qv.typeId() != QMetaType::LongLong && qv.typeId() != QMetaType::Int)
                throw Error(QStringLiteral("Dados recebidos inválidos: \"int\" não inteiro"));
            return Variant(qv.toLongLong());
        }
        if (key == QLatin1String("float"))
            return Variant(x.toDouble());
        if (key == QLatin1String("date"))
            return Variant(Date{x.toDouble()});
        throw Error(QStringLiteral("Dados recebidos inválidos: tipo de valor desconhecido \"%1\"").arg(key));
    }
    case QJsonValue::Double:
        throw Error(QStringLiteral("Dados recebidos inválidos: número sem tipo"));
    case QJsonValue::Undefined: break;
    }
    throw Error(QStringLiteral("Dados recebidos inválidos: valor indefinido"));
}

} // namespace codec
} // namespace core
