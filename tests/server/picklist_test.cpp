#include <server/picklist.h>
#include <server/registry.h>

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
        "",                                  // nothing picked
        "0000000012",                        // no quotes
        "'0000000012'",                      // fine alone, but see the next ones
    };
    EXPECT_THROW(parsePickedList(bad[0], "rotas"), core::Error);
    EXPECT_THROW(parsePickedList(bad[1], "rotas"), core::Error);
    EXPECT_NO_THROW(parsePickedList(bad[2], "rotas"));
    for (const char* hostile : {"'a','b", "'a',", "'a', 'b'", "'a''b'", "''", "'a',''", "'a'b'",
                                "'a'); DROP TABLE LANCTONF; --", "' OR '1'='1", "'a';'b'", "'a\"b'", "'ação'", " 'a'"}) {
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
    for (int i = 0; i <= server::kMaxPickedKeys; ++i) keys << QString("'%1'").arg(i);
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
    for (const Variant& bad : {Variant(0.0), Variant(-3.0), Variant(3e9), Variant("2026-12-08"), Variant(), Variant(true)})
        EXPECT_THROW(server::checkedDate(bad, "Data inicial"), server::BadRequest);
}
