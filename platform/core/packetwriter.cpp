// Writing packets and variants as JSON text.
#include "codec.h"
#include "jsonwriter_p.h"

namespace core::codec {
namespace detail {

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

// Checked against the field as DataPacket::checkValue checks it, so both refuse the
// same values, with the same reason.
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
        if (t == Variant::Type::Null) {
            if (f.required)
                throw Error(rowFieldError(r, f.name, DataPacket::checkValue(f, v)));
            w.lit("null");
            continue;
        }
        if (!valueFitsField(t, f.type) || (f.type == FieldType::String && f.size > 0 && v.stringPtr()->size() > f.size))
            throw Error(rowFieldError(r, f.name, DataPacket::checkValue(f, v)));
        switch (f.type) {
        case FieldType::String: w.putString(*v.stringPtr()); break;
        case FieldType::Integer: w.putInt(v.toInt()); break;
        case FieldType::Float: w.putDouble(v.toDouble()); break;
        case FieldType::Boolean:
            if (v.toBool())
                w.lit("true");
            else
                w.lit("false");
            break;
        case FieldType::DateTime: w.putDouble(v.toDate().days); break;
        }
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

} // namespace detail

QByteArray encodePacket(const DataPacket& p)
{
    detail::Writer w(qsizetype(p.rowCount()) * qsizetype(p.fields().size()) * 8 + 256);
    detail::writePacket(w, p);
    return w.take();
}

QByteArray encodeVariant(const Variant& v)
{
    detail::Writer w;
    detail::writeVariant(w, v, 0);
    return w.take();
}

} // namespace core::codec
