#pragma once
// Internal to the wire library: the strict JSON reader behind the decoders,
// splitObject/splitArray and the row reading of EnvelopeReader.
//
// Large packets (around 100,000 rows) travel in one answer, so a packet goes
// straight from bytes to rows without an intermediate document tree. The
// reader has one function per element of the grammar; each throws
// core::Error naming the byte position at the first fault.

#include "codec.h"
#include "errors.h"
#include "packet.h"
#include "wire_p.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstring>
#include <string>
#include <vector>

namespace core::codec::detail {

/// A JSON number as read: its text, and whether it has neither fraction nor exponent.
struct Number {
    const char* begin;
    const char* end;
    bool integral;
};

class Q_DECL_HIDDEN Reader {
public:
    explicit Reader(const QByteArray& json) : begin_(json.constData()), p_(begin_), end_(begin_ + json.size()) { }
    Reader() : begin_(nullptr), p_(nullptr), end_(nullptr) { }

    /// Longest text value (bytes as written) read before it is refused.
    void setMaxText(qint64 n) { maxText_ = n; }

    /// Reads from [b, e) next; positions in messages count from `base`.
    void reset(const char* b, const char* e, qint64 base)
    {
        begin_ = p_ = b;
        end_ = e;
        base_ = base;
    }

    // Whole documents: each reads its value and refuses anything after it.

    /// One packet row at the start of the input, which may go on after it.
    PacketRow rowPrefix(const QList<FieldDef>& fields, int r) { return row(fields, r); }
    const char* position() const { return p_; }
    /// One packet row, alone in the input: "[" values "]".
    PacketRow rowDocument(const QList<FieldDef>& fields, int r);
    /// A field list, alone in the input.
    QList<FieldDef> fieldsDocument();
    DataPacket packetDocument();
    Variant variantDocument();
    RawObject objectDocument();
    std::vector<QByteArray> arrayDocument(qint64 maxElements);

private:
    // --- tokens
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
    static bool isCont(unsigned char c) { return (c & 0xC0) == 0x80; }

    // --- numbers
    Number number();
    double toDouble(const Number& n);
    bool toInt(const Number& n, qint64& out);

    // --- strings
    QString string(int col = -1);
    QString escapedString(const char* s, int col);
    void escape();
    void utf8Char();
    unsigned hex4();
    QString shortString(const char* s, qsizetype n);
    template <class Text>
    QString columnString(int col, const char* s, qsizetype n, Text value);

    // --- any value, unchecked against a shape
    QByteArray rawValue();
    void skip(int depth);
    template <class F>
    void elements(F&& onElement);
    template <class F>
    void members(F&& onMember);

    // --- packets
    FieldDef fieldDef();
    QList<FieldDef> fieldList();
    Variant cell(const FieldDef& f, int row, int col);
    PacketRow row(const QList<FieldDef>& fields, int r);
    void rowList(const QList<FieldDef>& fields, std::vector<PacketRow>& rows);
    DataPacket packetBody();

    // --- variants
    Variant variant(int depth);
    Variant typedValue();

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

} // namespace core::codec::detail
