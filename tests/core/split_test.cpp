// Splitting call envelopes into raw member and element texts.
#include "core/datapacket.h"
#include "core/errors.h"

#include <gtest/gtest.h>

using namespace core;
using codec::splitArray;
using codec::splitObject;

namespace {

QString refusal(const QByteArray& json, bool object = true)
{
    try {
        if (object)
            splitObject(json);
        else
            splitArray(json);
    } catch (const Error& e) {
        return e.message();
    }
    return {};
}

QByteArray nested(int levels)
{
    return QByteArray(levels, '[') + QByteArray(levels, ']');
}

} // namespace

TEST(SplitTest, MembersComeInWrittenOrderAsTheirExactText)
{
    const QByteArray json = " {\"b\" : \"x\\\"}{[,\"\t,\n"
                            "  \"a\":[1, {\"c\":\"]}\\\\\"}, -2.5e3] ,\"c\\u0041\":null,\"e\":{}, \"f\":true}\r\n";
    const codec::RawObject o = splitObject(json);
    ASSERT_EQ(o.members.size(), 5u);
    EXPECT_EQ(o.members[0].name, QStringLiteral("b"));
    EXPECT_EQ(o.members[0].value, QByteArray("\"x\\\"}{[,\""));
    EXPECT_EQ(o.members[1].name, QStringLiteral("a"));
    EXPECT_EQ(o.members[1].value, QByteArray("[1, {\"c\":\"]}\\\\\"}, -2.5e3]"));
    EXPECT_EQ(o.members[2].name, QStringLiteral("cA")) << "names are unescaped";
    EXPECT_EQ(o.members[2].value, QByteArray("null"));
    EXPECT_EQ(o.members[3].value, QByteArray("{}"));
    EXPECT_EQ(o.members[4].value, QByteArray("true"));

    ASSERT_NE(o.find(u"b"), nullptr);
    EXPECT_EQ(codec::decodeVariant(*o.find(u"b")), Variant(QStringLiteral("x\"}{[,")));
    EXPECT_EQ(o.find(u"B"), nullptr) << "member names are matched exactly";
    EXPECT_EQ(o.find(u"z"), nullptr);
    // Views, not copies: a large packet is not duplicated on its way to the decoder.
    EXPECT_GE(o.members[1].value.constData(), json.constData());
    EXPECT_LE(o.members[1].value.constData() + o.members[1].value.size(), json.constData() + json.size());

    EXPECT_TRUE(splitObject(" { } ").members.empty());
}

TEST(SplitTest, ValuesDecodeToWhatWasEncoded)
{
    DataPacket p({{"TEXTO", FieldType::String, 20}, {"QT", FieldType::Integer}});
    p.appendRow({QStringLiteral("{\"a\":[1]}, \\ \""), qint64(7)});
    p.appendRow({QStringLiteral("ação ]}"), Variant()});
    const VariantArray args{Variant(QStringLiteral("0001")), Variant(p),
                            Variant(VariantArray{Variant(qint64(-1)), Variant()}), Variant(Date{45000.5})};
    QByteArray json = "{\"server\":\"S\",\"args\":[";
    for (qsizetype i = 0; i < args.size(); ++i)
        json += (i ? "," : "") + codec::encodeVariant(args[i]);
    json += "],\"byRef\":[false,true,false,false]}";

    const codec::RawObject o = splitObject(json);
    ASSERT_NE(o.find(u"args"), nullptr);
    const std::vector<QByteArray> items = splitArray(*o.find(u"args"));
    ASSERT_EQ(items.size(), size_t(args.size()));
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(codec::decodeVariant(items[i]), args[qsizetype(i)]) << i;
    EXPECT_EQ(splitArray(*o.find(u"byRef")), (std::vector<QByteArray>{"false", "true", "false", "false"}));
}

TEST(SplitTest, RepeatedMembersAreRefusedByTheirUnescapedName)
{
    EXPECT_TRUE(refusal(R"({"a":1,"a":2})").contains(QStringLiteral("\"a\" repetido")));
    EXPECT_TRUE(refusal(R"({"status":"ok","x":[],"status":"ok"})").contains(QStringLiteral("repetido")));
    EXPECT_TRUE(refusal(R"({"a":null,"\u0061":null})").contains(QStringLiteral("repetido")));
    // Letter case makes another name; a name repeated inside a value is the value's decoder's business.
    EXPECT_EQ(splitObject(R"({"a":1,"A":2})").members.size(), 2u);
    EXPECT_EQ(splitObject(R"({"a":{"k":1,"k":2}})").members.size(), 1u);
}

TEST(SplitTest, MalformedTextIsRefusedWithItsPosition)
{
    const struct {
        QByteArray json;
        const char* hint;
    } cases[] = {
        {"", "fim inesperado"},
        {"   ", "fim inesperado"},
        {"[1,2]", "objeto"},
        {"\"{}\"", "objeto"},
        {"{", "fim inesperado"},
        {"{\"a\"", "fim inesperado"},
        {"{\"a\"}", "esperado ':'"},
        {"{\"a\":}", "valor desconhecido"},
        {"{\"a\":1,}", "nome de membro"},
        {"{\"a\":null \"b\":2}", "esperado ','"},
        {"{a:1}", "nome de membro"},
        {"{\"a\":01}", "posição"},
        {"{\"a\":tru}", "valor desconhecido"},
        {"{\"a\":\"x}", "aspas de fechamento"},
        {"{\"a\":\"x\\\"}", "aspas de fechamento"},
        {"{\"a\":\"\\q\"}", "escape desconhecido"},
        {"{\"a\":\"\x01\"}", "controle"},
        {"{\"a\":\"\xc3\"}", "UTF-8"},
        {"{\"a\":[1,2}", "esperado ',' ou ']'"},
        {"{\"a\":{\"b\" 1}}", "esperado ':'"},
        {"{\"a\":1} x", "dados a mais"},
        {"{\"a\":1}{}", "dados a mais"},
        {"{\"a\":1}}", "dados a mais"},
    };
    for (const auto& c : cases) {
        const QString why = refusal(c.json);
        EXPECT_TRUE(why.contains(QStringLiteral("posição"))) << c.json.constData() << " -> " << qPrintable(why);
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.hint))) << c.json.constData() << " -> " << qPrintable(why);
    }
    // Every cut of a valid envelope is refused, never read as a shorter one.
    const QByteArray valid = R"({"status":"ok","payload":{"packet":{"fields":[],"rows":[]}},"refs":[null,"a\"}"]})";
    ASSERT_NO_THROW(splitObject(valid));
    for (qsizetype n = 0; n < valid.size(); ++n)
        EXPECT_FALSE(refusal(valid.left(n)).isEmpty()) << valid.left(n).constData();
}

TEST(SplitTest, ArraysAreSplitStrictly)
{
    EXPECT_TRUE(splitArray(" [ ] ").empty());
    EXPECT_EQ(splitArray(R"([ "a,]" , [1,[2]] ,{"int":3},null ])"),
              (std::vector<QByteArray>{R"("a,]")", "[1,[2]]", R"({"int":3})", "null"}));
    EXPECT_TRUE(refusal("{}", false).contains(QStringLiteral("lista")));
    EXPECT_TRUE(refusal("[1,]", false).contains(QStringLiteral("valor desconhecido")));
    EXPECT_TRUE(refusal("[true false]", false).contains(QStringLiteral("esperado ','")));
    EXPECT_TRUE(refusal("[null]]", false).contains(QStringLiteral("dados a mais")));
    EXPECT_TRUE(refusal("[\"a]", false).contains(QStringLiteral("aspas de fechamento")));
}

TEST(SplitTest, NestingIsLimitedPerValueLikeTheDecoder)
{
    // A value the decoder accepts on its own is accepted as a member or element too.
    ASSERT_NO_THROW(codec::decodeVariant(nested(65)));
    EXPECT_NO_THROW(splitObject("{\"a\":" + nested(65) + "}"));
    EXPECT_NO_THROW(splitArray("[" + nested(65) + "]"));
    EXPECT_THROW(codec::decodeVariant(nested(66)), Error);
    EXPECT_TRUE(refusal("{\"a\":" + nested(66) + "}").contains(QStringLiteral("aninhamento")));
    EXPECT_TRUE(refusal("[" + nested(66) + "]", false).contains(QStringLiteral("aninhamento")));
    // Hostile depth is refused without exhausting the stack.
    EXPECT_TRUE(refusal("{\"a\":" + QByteArray(200000, '[')).contains(QStringLiteral("aninhamento")));
    EXPECT_TRUE(refusal(QByteArray(200000, '['), false).contains(QStringLiteral("aninhamento")));
}
