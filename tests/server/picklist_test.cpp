#include <server/picklist.h>
#include <server/appserver.h>
#include <server/registry.h>

#include <core/datapacket.h>
#include <core/errors.h>

#include <gtest/gtest.h>

using server::parsePickedList;

TEST(PickedList, ReadsKeysInOrder)
{
    EXPECT_EQ(parsePickedList("'0000000012','0000000015'", "expedições"), (QStringList{"0000000012", "0000000015"}));
    EXPECT_EQ(parsePickedList("'R-01 a/b_c.d'", "rotas"), QStringList{"R-01 a/b_c.d"});
}

TEST(PickedList, RefusesAnythingOutsideTheFormat)
{
    const char* bad[] = {
        "",             // nothing picked
        "0000000012",   // no quotes
        "'0000000012'", // fine alone, but see the next ones
    };
    EXPECT_THROW(parsePickedList(bad[0], "rotas"), core::Error);
    EXPECT_THROW(parsePickedList(bad[1], "rotas"), core::Error);
    EXPECT_NO_THROW(parsePickedList(bad[2], "rotas"));
    for (const char* hostile :
         {"'a','b", "'a',", "'a', 'b'", "'a''b'", "''", "'a',''", "'a'b'", "'a'); DROP TABLE LANCTONF; --",
          "' OR '1'='1", "'a';'b'", "'a\"b'", "'ação'", " 'a'"}) {
        try {
            parsePickedList(hostile, "rotas");
            ADD_FAILURE() << "accepted: " << hostile;
        } catch (const core::Error& e) {
            EXPECT_TRUE(e.message().startsWith("Lista de rotas")) << qPrintable(e.message());
        }
    }
}

TEST(PickedList, RefusesTooManyKeys)
{
    QStringList keys;
    for (int i = 0; i <= server::kMaxPickedKeys; ++i)
        keys << QString("'%1'").arg(i);
    EXPECT_THROW(parsePickedList(keys.join(','), "expedições"), core::Error);
    keys.removeLast();
    EXPECT_EQ(parsePickedList(keys.join(','), "expedições").size(), server::kMaxPickedKeys);
}

TEST(DateArgument, AcceptsDatesAndDayCountsAndRefusesTheRest)
{
    using core::Variant;
    EXPECT_EQ(server::checkedDate(Variant(core::Date{46000.75}), "d").days, 46000);
    EXPECT_EQ(server::checkedDate(Variant(46000.0), "d").days, 46000);
    EXPECT_EQ(server::checkedDate(Variant(qint64(46000)), "d").days, 46000);
    for (const Variant& bad :
         {Variant(0.0), Variant(-3.0), Variant(3e9), Variant("2026-12-08"), Variant(), Variant(true)})
        EXPECT_THROW(server::checkedDate(bad, "Data inicial"), server::BadRequest);
}

// A computed answer written in parts: joined, the parts are the whole
// answer's JSON (status last); a row that cannot be written midway closes the
// list, the payload list and the answer as raised, still well-formed JSON.
TEST(StreamedComputedAnswer, PartsJoinToTheAnswerAndAFailureClosesItWellFormed)
{
    core::DataPacket list({{"IDCHECK", core::FieldType::String, 1}, {"NRLANCTONF", core::FieldType::String, 10}});
    for (int i = 0; i < 5000; ++i)
        list.appendRow({i % 2 ? "S" : "N", QString("%1").arg(i, 10, 10, QChar('0'))});
    const core::Variant payload(core::VariantArray{core::Variant(list), core::Variant(), qint64(2500)});
    ASSERT_TRUE(server::StreamedAnswer::worthStreaming(payload));
    EXPECT_FALSE(server::StreamedAnswer::worthStreaming(core::Variant(core::VariantArray{"x", qint64(1)})));

    auto joined = [](server::StreamedAnswer& a, int& parts) {
        std::string body, part;
        parts = 0;
        while (a.next(part)) {
            body += part;
            ++parts;
        }
        return body;
    };
    int parts = 0;
    server::StreamedAnswer a(payload, {core::Variant(), core::Variant(), core::Variant()});
    const std::string body = joined(a, parts);
    EXPECT_GE(parts, 2);
    EXPECT_EQ(a.rowCount(), 5000);
    EXPECT_TRUE(a.failure().isEmpty());
    EXPECT_EQ(body,
              "{\"payload\":" + core::codec::encodeVariant(payload).toStdString()
                  + ",\"refs\":[null,null,null],\"status\":\"ok\"}");

    // Row 4,000 holds a value its field cannot: the rows before it went out.
    core::DataPacket bad = list;
    bad.rows()[3999][1] = core::Variant(QString(11, 'x'));
    server::StreamedAnswer b(core::Variant(core::VariantArray{core::Variant(bad), qint64(1)}), {});
    const std::string cut = joined(b, parts);
    EXPECT_FALSE(b.failure().isEmpty());
    EXPECT_EQ(b.rowCount(), 3999);
    const QByteArray cutText = QByteArray::fromStdString(cut);
    const core::codec::RawObject m = core::codec::splitObject(cutText); // throws if not JSON
    ASSERT_NE(m.find(u"status"), nullptr);
    EXPECT_EQ(core::codec::decodeVariant(*m.find(u"status")).toString(), "raised");
    EXPECT_TRUE(core::codec::decodeVariant(*m.find(u"message")).toString().contains("4000"));
    EXPECT_EQ(core::codec::decodeVariant(*m.find(u"payload")).count(), 1) << "the list closed after the rows sent";
}
