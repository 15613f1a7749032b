// Variants to and from Qt's JSON tree.
#include "qtjson.h"

#include "codec.h"
#include "errors.h"
#include "packet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

#include <cmath>

namespace core::codec {
namespace {

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
    case QJsonValue::Double: throw Error(QStringLiteral("Dados recebidos inválidos: número sem tipo"));
    case QJsonValue::Undefined: break;
    }
    throw Error(QStringLiteral("Dados recebidos inválidos: valor indefinido"));
}

} // namespace core::codec
