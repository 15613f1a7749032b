#pragma once
// Internal to the wire library: the compact form of a packet's rows.
//
// Each value is a tag byte and its bytes: texts of Latin-1 characters as one
// byte a character, others as UTF-16; integers as zigzag varints; doubles and
// dates as their 8 bytes. Rows lie whole in blocks of about 1 MB, so the
// storage grows without ever copying what it holds.

#include "errors.h"
#include "packet.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace core {

struct DataPacket::CompactRows {
    enum Tag : char { Null, Latin1, Utf16, Int, Double, False, True, Date };
    static constexpr size_t kBlock = 1u << 20;
    std::vector<std::unique_ptr<char[]>> blocks;
    size_t used = 0;                 // of the last block
    size_t room = 0;                 // size of the last block
    std::vector<const char*> starts; // row r starts here
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
                    for (QChar c : t)
                        scratch += char(c.unicode());
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
            case Variant::Type::Double:
                scratch += char(Double);
                put8(scratch, v.toDouble());
                break;
            case Variant::Type::Boolean: scratch += char(v.toBool() ? True : False); break;
            case Variant::Type::Date:
                scratch += char(Date);
                put8(scratch, v.toDate().days);
                break;
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
        case Latin1: {
            const qsizetype n = qsizetype(readVarint(p));
            return p + n;
        }
        case Utf16: {
            const qsizetype n = qsizetype(readVarint(p));
            return p + 2 * n;
        }
        case Int: readVarint(p); return p;
        case Double:
        case Date: return p + 8;
        default: return p;
        }
    }
};

} // namespace core
