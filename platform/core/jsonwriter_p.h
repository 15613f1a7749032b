#pragma once
// Internal to the wire library: the JSON writer behind encodePacket,
// encodeVariant and PacketStreamWriter.
//
// Large packets (around 100,000 rows) travel in one answer, so a packet goes
// straight from values to bytes without an intermediate document tree.

#include "errors.h"
#include "packet.h"
#include "wire_p.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace core::codec::detail {

/// An output buffer with the JSON pieces the codec writes: characters,
/// integers, finite doubles and escaped UTF-8 strings.
class Q_DECL_HIDDEN Writer {
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
    void lit(const char (&s)[N])
    {
        put(s, N - 1);
    }

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

/// A packet's opening up to its rows: `{"fields":[...],"rows":[`.
Q_DECL_HIDDEN void writePacketHead(Writer& w, const QList<FieldDef>& fields);
/// Row `r` (from 0), preceded by its comma when it is not the first; throws
/// core::Error naming the row and field when a value does not fit.
Q_DECL_HIDDEN void writeRow(Writer& w, const QList<FieldDef>& fields, const PacketRow& row, int r);
/// A whole packet object.
Q_DECL_HIDDEN void writePacket(Writer& w, const DataPacket& p);
/// A variant in its JSON form, at nesting `depth`.
Q_DECL_HIDDEN void writeVariant(Writer& w, const Variant& v, int depth);

} // namespace core::codec::detail
