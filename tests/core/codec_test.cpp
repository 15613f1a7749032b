// Packet and variant wire codec: round trips and strict refusals.
#include "client/clientdataset.h"
#include "core/datapacket.h"
#include "core/errors.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace core;

namespace {

DataPacket everyType()
{
    DataPacket p({{"IDCHECK", FieldType::String, 1, true, false},
                  {"NRLANCTONF", FieldType::String, 10, false, true},
                  {"QTITEM", FieldType::Integer},
                  {"VRUNIT", FieldType::Float},
                  {"BOATIVO", FieldType::Boolean},
                  {"DTENTRSAID", FieldType::DateTime}});
    p.appendRow({"S", "0000000001", qint64(12), 1234.5, true, Date{45000}});
    p.appendRow({Variant(), "0000000002", Variant(), Variant(), false, Date{45000.5}});
    p.appendRow({"N", "0000000003", std::numeric_limits<qint64>::min(), -0.1, Variant(), Date{-3}});
    p.appendRow({"N", "0000000004", std::numeric_limits<qint64>::max(), 1e-300, true, Variant()});
    return p;
}

void expectRefused(const QByteArray& json, const char* fragment = nullptr)
{
    try {
        codec::decodePacket(json);
        ADD_FAILURE() << "accepted: " << json.constData();
    } catch (const Error& e) {
        if (fragment) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(fragment)))
                << json.constData() << " -> " << e.message().toStdString();
        }
    }
}

const QByteArray kFields =
    R"("fields":[{"name":"A","type":"string","size":3},{"name":"N","type":"integer","required":true},{"name":"F","type":"float"}])";

QByteArray packetJson(const QByteArray& rows)
{
    return "{" + kFields + ",\"rows\":" + rows + "}";
}

} // namespace

TEST(CodecTest, EveryTypeRoundTrips)
{
    const DataPacket p = everyType();
    const QByteArray json = codec::encodePacket(p);
    const DataPacket q = codec::decodePacket(json);
    EXPECT_EQ(q, p);
    EXPECT_EQ(q.fields(), p.fields());
    EXPECT_EQ(q.value(1, "dtentrsaid").toDate().days, 45000.5);
    EXPECT_TRUE(q.value(1, "QTITEM").isNull());
    EXPECT_EQ(q.value(3, "VRUNIT").toDouble(), 1e-300);
    // What we write is plain JSON any parser reads.
    QJsonParseError err;
    QJsonDocument::fromJson(json, &err);
    EXPECT_EQ(err.error, QJsonParseError::NoError);
}

TEST(CodecTest, StringsWithUnicodeQuotesAndControlCharactersRoundTrip)
{
    DataPacket p({{"T", FieldType::String, 0}});
    const QStringList texts = {QString::fromUtf8("Lançamentos de Expedição"),
                               "aspas \" e \\ barra / fim",
                               QString("controle \x01\x1f\t\n\r\b\f"),
                               QString::fromUtf8("emoji 😀 e 中文"),
                               "",
                               " ",
                               QString(QChar(0)) + "nulo"};
    for (const QString& t : texts)
        p.appendRow({t});
    const QByteArray json = codec::encodePacket(p);
    EXPECT_FALSE(json.contains('\n')) << "control characters must be escaped";
    EXPECT_EQ(codec::decodePacket(json), p);
    // Escapes written by others are read too, including surrogate pairs.
    const DataPacket q =
        codec::decodePacket(R"({"fields":[{"name":"T","type":"string"}],"rows":[["\u00e7\ud83d\ude00\/\""]]})");
    EXPECT_EQ(q.value(0, "T").toString(), QString::fromUtf8("ç😀/\""));
}

TEST(CodecTest, EmptyPacketsRoundTrip)
{
    EXPECT_EQ(codec::decodePacket(codec::encodePacket(DataPacket())), DataPacket());
    DataPacket noRows({{"A", FieldType::String, 5}});
    const DataPacket back = codec::decodePacket(codec::encodePacket(noRows));
    EXPECT_EQ(back.fields(), noRows.fields());
    EXPECT_TRUE(back.isEmpty());
}

TEST(CodecTest, RowsBeforeFieldsAndIntegersInFloatFieldsAreRead)
{
    const DataPacket p = codec::decodePacket(
        R"( { "rows" : [ ["ab", 1, 2] , [null, -5, 2.5e1] ], "fields":[{"name":"A","type":"string","size":3},{"name":"N","type":"integer"},{"name":"F","type":"float"}] } )");
    ASSERT_EQ(p.rowCount(), 2);
    EXPECT_EQ(p.value(0, "F").type(), Variant::Type::Double);
    EXPECT_EQ(p.value(1, "F").toDouble(), 25.0);
    EXPECT_EQ(p.value(1, "N").toInt(), -5);
}

TEST(CodecTest, MalformedJsonIsRefused)
{
    expectRefused("");
    expectRefused("nada");
    expectRefused(packetJson("[[\"a\",1,2],]")); // trailing comma
    expectRefused(packetJson("[[\"a\",01,2]]")); // leading zero
    expectRefused(packetJson("[[\"a\",1,2]]") + "x", "a mais");
    expectRefused(packetJson("[[\"a\",1,.5]]"));
    expectRefused(packetJson("[[\"a\",1,1e]]"));
    expectRefused(packetJson("[[\"a\\q\",1,2]]"), "escape");
    expectRefused(packetJson("[[\"a\x01\",1,2]]"), "controle");
    expectRefused(packetJson("[[\"\xc3\x28\",1,2]]"), "UTF-8"); // bad continuation
    expectRefused(packetJson("[[\"\xc0\xaf\",1,2]]"), "UTF-8"); // overlong
    expectRefused(packetJson("[[\"\\ud800\",1,2]]"), "surrogate");
    expectRefused(packetJson("[[\"a\",1,1e999]]"), "intervalo");
}

TEST(CodecTest, TruncatedPacketsAreRefusedAtEveryLength)
{
    const QByteArray json = codec::encodePacket(everyType());
    for (int n = 0; n < json.size(); ++n)
        EXPECT_THROW(codec::decodePacket(json.left(n)), Error) << n;
}

TEST(CodecTest, PacketsThatDoNotFitTheirFieldsAreRefused)
{
    expectRefused(packetJson("[[\"a\",1]]"), "linha 1");                            // too narrow
    expectRefused(packetJson("[[\"a\",1,2,3]]"), "mais valores");                   // too wide
    expectRefused(packetJson("[[\"a\",1,2],[\"b\",\"2\",3]]"), "linha 2, campo N"); // text in integer
    expectRefused(packetJson("[[\"a\",1.5,2]]"), "campo N");                        // fraction in integer
    expectRefused(packetJson("[[\"a\",1,\"2\"]]"), "campo F");                      // text in float
    expectRefused(packetJson("[[1,1,2]]"), "campo A");                              // number in string
    expectRefused(packetJson("[[\"a\",null,2]]"), "obrigatório");                   // null in required
    expectRefused(packetJson("[[\"abcd\",1,2]]"), "excede");                        // oversized string
    expectRefused(packetJson("[[\"a\",99999999999999999999,2]]"), "campo N");
    expectRefused(packetJson("[\"a\",1,2]")); // row not an array
    expectRefused(R"({"fields":[{"name":"A","type":"money"}],"rows":[]})", "money");
    expectRefused(R"({"fields":[{"name":"A"}],"rows":[]})", "type");
    expectRefused(R"({"fields":[{"name":"A","type":"string","size":-1}],"rows":[]})", "tamanho");
    expectRefused(R"({"fields":[{"name":"A","type":"string"},{"name":"a","type":"string"}],"rows":[]})", "repetido");
    expectRefused(R"({"fields":[{"name":"A","type":"string","cor":1}],"rows":[]})", "cor");
    expectRefused(R"({"fields":[],"rows":[],"rows":[]})", "repetido");
    expectRefused(R"({"fields":[]})", "rows");
    expectRefused(R"({"rows":[]})", "fields");
    expectRefused(R"([])");
}

TEST(CodecTest, DeepNestingIsRefusedWithoutCrashing)
{
    const int depth = 100000;
    const QByteArray deep = QByteArray(depth, '[') + QByteArray(depth, ']');
    EXPECT_THROW(codec::decodeVariant(deep), Error);
    // Also inside a packet's rows read out of order (skipped first, read later).
    EXPECT_THROW(codec::decodePacket("{\"rows\":" + deep + ",\"fields\":[]}"), Error);
    // Moderate nesting is fine.
    const QByteArray ok = QByteArray(30, '[') + QByteArray(30, ']');
    EXPECT_TRUE(codec::decodeVariant(ok).isArray());
}

TEST(CodecTest, VariantsRoundTripInTheirDocumentedForms)
{
    DataPacket inner({{"A", FieldType::String, 2}});
    inner.appendRow({"x"});
    const Variant v = Variant::array({Variant(), "t", 42, 1.5, true, Date{45000}, Variant(inner), Variant::array({}),
                                      Variant::array({Variant::array({7})})});
    const QByteArray json = codec::encodeVariant(v);
    EXPECT_TRUE(json.startsWith(R"([null,"t",{"int":42},{"float":1.5},true,{"date":45000},{"packet":)"))
        << json.constData();
    EXPECT_EQ(codec::decodeVariant(json), v);
    // The same through the JSON tree used inside requests.
    const QJsonValue tree = codec::variantToJson(v);
    EXPECT_EQ(codec::variantFromJson(tree), v);
    const QByteArray treeText = QJsonDocument(tree.toArray()).toJson(QJsonDocument::Compact);
    EXPECT_EQ(codec::decodeVariant(treeText), v);
    EXPECT_EQ(codec::decodeVariant(json).elements().at(2).type(), Variant::Type::Integer);
}

TEST(CodecTest, StrayVariantFormsAreRefused)
{
    EXPECT_THROW(codec::decodeVariant("42"), Error); // number without its kind
    EXPECT_THROW(codec::decodeVariant(R"({"int":1.5})"), Error);
    EXPECT_THROW(codec::decodeVariant(R"({"int":1,"float":2})"), Error);
    EXPECT_THROW(codec::decodeVariant(R"({"money":1})"), Error);
    EXPECT_THROW(codec::decodeVariant(R"({})"), Error);
    EXPECT_THROW(codec::decodeVariant(R"({"packet":[]})"), Error);
    EXPECT_THROW(codec::decodeVariant("[1 2]"), Error);
    EXPECT_THROW(codec::variantFromJson(QJsonValue(3)), Error);
    EXPECT_THROW(codec::variantFromJson(QJsonObject{{"int", 1.5}}), Error);
    EXPECT_THROW(codec::encodeVariant(Variant(std::nan(""))), Error);
}

TEST(CodecTest, EncoderRefusesRowsThatDoNotFit)
{
    DataPacket p({{"N", FieldType::Integer}});
    p.rows().push_back({Variant("texto")}); // bypasses appendRow's check
    EXPECT_THROW(codec::encodePacket(p), Error);
    DataPacket w({{"N", FieldType::Integer}});
    w.rows().push_back({});
    EXPECT_THROW(codec::encodePacket(w), Error);
}

TEST(DataPacketTest, AppendRowChecksAndWidensIntegersInFloatFields)
{
    DataPacket p({{"S", FieldType::String, 2, false, true}, {"F", FieldType::Float}});
    EXPECT_THROW(p.appendRow({"abc", 1.0}), Error);
    EXPECT_THROW(p.appendRow({Variant(), 1.0}), Error);
    EXPECT_THROW(p.appendRow({"a"}), Error);
    EXPECT_THROW(p.appendRow({"a", "1"}), Error);
    EXPECT_EQ(p.rowCount(), 0);
    p.appendRow({"ab", 3});
    EXPECT_EQ(p.value(0, "f").type(), Variant::Type::Double);
    EXPECT_THROW(p.value(0, "X"), Error);
    EXPECT_THROW(p.value(1, "S"), Error);
    EXPECT_EQ(p.fieldIndex("s"), 0);
    EXPECT_EQ(p.fieldIndex("x"), -1);
    EXPECT_EQ(fieldTypeFromName("datetime"), FieldType::DateTime);
    EXPECT_THROW(fieldTypeFromName("Date"), Error);
}

TEST(CodecTest, DamagedPacketsNeverCrashAndNeverHalfDecode)
{
    const QByteArray good = codec::encodePacket(everyType());
    const DataPacket original = everyType();
    quint32 seed = 12345;
    auto rnd = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const char alphabet[] = "{}[]\",:\\ nulltruefalse0123456789.-eE\x01\xc3\xa7\xff";
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        QByteArray bad = good;
        const int edits = 1 + int(rnd() % 3);
        for (int e = 0; e < edits; ++e) {
            const int pos = int(rnd() % quint32(bad.size()));
            switch (rnd() % 3) {
            case 0: bad[pos] = alphabet[rnd() % (sizeof alphabet - 1)]; break;
            case 1: bad.remove(pos, 1 + int(rnd() % 4)); break;
            default: bad.insert(pos, alphabet[rnd() % (sizeof alphabet - 1)]); break;
            }
        }
        try {
            const DataPacket p = codec::decodePacket(bad);
            // Whatever is accepted is a whole, consistent packet.
            p.validate();
            EXPECT_EQ(codec::decodePacket(codec::encodePacket(p)), p);
            ++accepted;
        } catch (const Error&) { }
    }
    EXPECT_LT(accepted, 3000);
}

TEST(CodecTest, RepeatedLongStringsOfAColumnAreSharedAndUniqueOnesReadRight)
{
    DataPacket p(
        {{"NMCLIENTE", FieldType::String, 60}, {"NRACESSO", FieldType::String, 44}, {"OBS", FieldType::String, 0}});
    for (int r = 0; r < 5000; ++r)
        p.appendRow({QStringLiteral("Comercio de Alimentos Sao Joao %1").arg(r % 40),
                     QStringLiteral("3519%1").arg(r, 40, 10, QChar('0')),
                     r % 2 ? Variant(QStringLiteral("ação %1 entregue após as 18 horas").arg(r % 3))
                           : Variant(QString(70, 'x'))});
    const DataPacket back = codec::decodePacket(codec::encodePacket(p));
    ASSERT_EQ(back, p);
    // The same client name in two rows is one string in memory.
    EXPECT_TRUE(back.rows()[1].at(0).stringPtr()->isSharedWith(*back.rows()[41].at(0).stringPtr()));
    EXPECT_FALSE(back.rows()[1].at(0).stringPtr()->isSharedWith(*back.rows()[2].at(0).stringPtr()));
    // Also with accents (decoded through the checked path).
    EXPECT_TRUE(back.rows()[1].at(2).stringPtr()->isSharedWith(*back.rows()[7].at(2).stringPtr()));
}

// Every place that checks a value against its field (the packet's own check,
// appendRow, the encoder, the streamed writer and a client dataset's load)
// accepts exactly the same pairs of field type and value type.
TEST(FieldFitTest, EveryCheckOfAValueAgainstItsFieldAgrees)
{
    using T = Variant::Type;
    DataPacket inner({{"A", FieldType::String}});
    const std::vector<Variant> samples = {Variant(),     Variant("x"),         Variant(qint64(7)), Variant(2.5),
                                          Variant(true), Variant(Date{45000}), Variant(inner),     Variant::array({1})};
    const std::vector<std::pair<FieldType, std::vector<T>>> accepted = {
        {FieldType::String, {T::Null, T::String}},
        {FieldType::Integer, {T::Null, T::Integer}},
        {FieldType::Float, {T::Null, T::Integer, T::Double}},
        {FieldType::Boolean, {T::Null, T::Boolean}},
        {FieldType::DateTime, {T::Null, T::Date}},
    };
    auto succeeds = [](auto&& f) {
        try {
            f();
            return true;
        } catch (const Error&) {
            return false;
        }
    };
    for (const auto& [type, types] : accepted) {
        const FieldDef def{"V", type};
        for (const Variant& v : samples) {
            const bool fits = std::find(types.begin(), types.end(), v.type()) != types.end();
            const std::string pair =
                fieldTypeName(type).toStdString() + " <- " + Variant::typeName(v.type()).toStdString();
            EXPECT_EQ(valueFitsField(v.type(), type), fits) << pair;
            EXPECT_EQ(DataPacket::checkValue(def, v).isEmpty(), fits) << pair;
            DataPacket appended({def});
            EXPECT_EQ(succeeds([&] { appended.appendRow({v}); }), fits) << pair;
            DataPacket unchecked({def});
            unchecked.rows().push_back({v});
            EXPECT_EQ(succeeds([&] { codec::encodePacket(unchecked); }), fits) << pair;
            codec::PacketStreamWriter stream({def});
            EXPECT_EQ(succeeds([&] { stream.row({v}); }), fits) << pair;
            ClientDataset ds("cds");
            ds.addField(def);
            EXPECT_EQ(succeeds([&] { ds.loadFromPacket(unchecked); }), fits) << pair;
        }
    }
}
