// Listing methods of the cancellation server against each database.
#include "serverfixture.h"

#include <server/demodata.h>
#include <server/listreply.h>

#include <QFile>
#include <QRegularExpression>

using namespace servertest;

class QueryMethods : public ServerDb { };

// The database breaks while a list is on its way (its file's pages zeroed
// between two parts): the rows already sent stay, the answer closes as
// raised with nothing but a reference, and the log line of the call keeps
// that reference with the driver's text.
TEST_P(QueryMethods, ADatabaseBrokenMidwayThroughAListShowsTheCallerOnlyAReference)
{
    if (GetParam() != "sqlite")
        GTEST_SKIP() << "breaks the database through its file";
    QSqlDatabase conn = db->connection();
    ASSERT_TRUE(conn.transaction());
    for (int i = 0; i < 3000; ++i) // ten a day: the rows are read day by day, not sorted up front
        addEntry("0001", QString("%1").arg(i, 10, 10, QChar('0')), "P", "", kDay - 300 + i / 10);
    ASSERT_TRUE(conn.commit());
    sql("PRAGMA wal_checkpoint(TRUNCATE)");
    const qint64 page = scalar("PRAGMA page_size").toLongLong();
    sql("PRAGMA shrink_memory"); // nothing of the table left in this connection's cache

    server::CallRequest req{server::kCancelNotaServer,
                            "GetLanctoNF",
                            {"0001", double(kDay - 300), double(kDay), "", "T", "", "T", "", "", "T", "T"},
                            {}};
    server::CallResult r = reg.callStreamed(*db, req);
    ASSERT_TRUE(r.rows);
    QString logged;
    server::ListReply reply(std::make_unique<server::StreamedAnswer>(std::move(r.rows), r.refs),
                            std::chrono::steady_clock::now(),
                            [&](double, const QString& outcome, int) { logged = outcome; });
    std::string body, part;
    ASSERT_TRUE(reply.next(part));
    body += part;

    QFile file(dir.filePath("test.db"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(page));
    ASSERT_EQ(file.write(QByteArray(file.size() - page, '\0')), file.size() - page);
    file.close();

    while (reply.next(part))
        body += part;
    reply.finished(true);

    const QByteArray text = QByteArray::fromStdString(body);
    const core::codec::RawObject m = core::codec::splitObject(text); // throws if not JSON
    ASSERT_NE(m.find(u"status"), nullptr);
    EXPECT_EQ(core::codec::decodeVariant(*m.find(u"status")).toString(), "raised");
    const QString message = core::codec::decodeVariant(*m.find(u"message")).toString();
    const auto ref = QRegularExpression("^Falha interna do servidor \\(referência ([0-9A-F]{8})\\)\\.$").match(message);
    ASSERT_TRUE(ref.hasMatch()) << qPrintable(message);
    const int sent = core::codec::decodeVariant(*m.find(u"payload")).packet().rowCount();
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, 3000);
    for (const char* hidden : {"malformed", "banco de dados", "SELECT", "FROM ", "fetch"})
        EXPECT_FALSE(text.contains(hidden)) << hidden;
    EXPECT_TRUE(logged.startsWith(QString("internal error %1 after %2 rows: ").arg(ref.captured(1)).arg(sent)))
        << qPrintable(logged);
    EXPECT_TRUE(logged.contains("malformed")) << qPrintable(logged);
}

TEST_P(QueryMethods, SchemaMigrationIsIdempotentAndRefusesANewerVersion)
{
    EXPECT_EQ(server::migrateSchema(*db), server::kSchemaVersion);
    sql("INSERT INTO SCHEMA_VERSAO (NRVERSAO) VALUES (?)", {server::kSchemaVersion + 1});
    EXPECT_THROW(server::migrateSchema(*db), server::InternalError);
}

TEST_P(QueryMethods, GetLanctoNFFiltersByPeriodAcceptingDateOrDayCount)
{
    addEntry("0001", "0000000003", "P", "", kDay);
    addEntry("0001", "0000000001", "P", "", kDay - 2);
    addEntry("0001", "0000000002", "E", "A", kDay - 3); // before the period
    addEntry("0002", "0000000004", "P", "", kDay);      // another branch
    const core::VariantArray rest{"", "T", "", "T", "", "", "T", "T"};
    core::VariantArray asDate{"0001", core::Date{double(kDay - 2)}, core::Date{double(kDay)}};
    core::VariantArray asNumber{"0001", double(kDay - 2), core::Date{double(kDay)}};
    asDate += rest;
    asNumber += rest;
    const core::DataPacket a = cancel("GetLanctoNF", asDate).packet();
    const core::DataPacket b = cancel("GetLanctoNF", asNumber).packet();
    EXPECT_EQ(column(a, "NRLANCTONF"), (QStringList{"0000000001", "0000000003"}));
    EXPECT_TRUE(a == b);
    EXPECT_EQ(column(a, "IDCHECK"), (QStringList{"N", "N"}));
    for (const char* f : {"IDCHECK", "CDFILIAL", "DTENTRSAID", "NRLANCTONF", "NREXPEDICAO", "NRLANCESTQ", "CDCLIENTE",
                          "NMRAZSOCCLIE", "NRNOTAFISC", "DTEMISSAO", "IDSISTEMA", "NMFANTCLIE", "IDSTATUS",
                          "IDSTATUSNFE", "CDFILIEMIT", "NRACESSONFE", "CDEMPRESA", "IDTIPOEMISNFE", "CDINSCESTA"})
        EXPECT_GE(a.fieldIndex(f), 0) << f;
    EXPECT_EQ(a.value(0, "DTENTRSAID").toDate().days, kDay - 2);
}

TEST_P(QueryMethods, GetLanctoNFRestrictsByRoutesShipmentsIntervalAndGrade)
{
    addEntry("0001", "0000000001", "P", "", kDay, "0000000010", "R00001", "GRADE A");
    addEntry("0001", "0000000002", "P", "", kDay, "0000000020", "R00002", "GRADE B");
    addEntry("0001", "0000000003", "P", "", kDay, "0000000030", "R00003", "GRADE A");
    auto list = [&](const QString& routes, const QString& allR, const QString& ships, const QString& allS,
                    const QString& from, const QString& to, const QString& noInt, const QString& grade) {
        return column(cancel("GetLanctoNF",
                             {"0001", core::Date{double(kDay)}, core::Date{double(kDay)}, routes, allR, ships, allS,
                              from, to, noInt, grade})
                          .packet(),
                      "NRLANCTONF");
    };
    EXPECT_EQ(list("'R00001','R00003'", "", "", "T", "", "", "T", "T"), (QStringList{"0000000001", "0000000003"}));
    EXPECT_EQ(list("'R00001'", "T", "", "T", "", "", "T", "T").size(), 3); // "T" lifts the route list
    EXPECT_EQ(list("", "T", "'0000000020'", "", "", "", "T", "T"), QStringList{"0000000002"});
    EXPECT_EQ(list("", "T", "", "T", "0000000015", "0000000030", "", "T"), (QStringList{"0000000002", "0000000003"}));
    EXPECT_EQ(list("", "T", "", "T", "0000000015", "0000000030", "T", "T").size(), 3);
    EXPECT_EQ(list("", "T", "", "T", "", "", "T", "GRADE A"), (QStringList{"0000000001", "0000000003"}));
    EXPECT_EQ(list("", "T", "", "T", "", "", "T", "").size(), 3); // a branch without grades sends an empty grade
}

TEST_P(QueryMethods, GetLanctoNFRefusesHostileListsAndInvalidDatesChangingNothing)
{
    addEntry("0001", "0000000001");
    for (const QString& hostile :
         {QString("'R00001'); DELETE FROM LANCTONF; --"), QString("' OR '1'='1"), QString("")}) {
        const QString msg = raised(
            "GetLanctoNF",
            {"0001", core::Date{double(kDay)}, core::Date{double(kDay)}, hostile, "", "", "T", "", "", "T", "T"});
        EXPECT_TRUE(msg.startsWith("Lista de rotas")) << qPrintable(msg);
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM LANCTONF"), 1);
    for (const Variant& bad : {Variant(0.0), Variant(-1.0), Variant("ontem"), Variant(1e12)}) {
        const QString msg =
            raised("GetLanctoNF", {"0001", bad, core::Date{double(kDay)}, "", "T", "", "T", "", "", "T", "T"});
        EXPECT_TRUE(msg.contains("data") || msg.contains("date")) << qPrintable(msg);
    }
    EXPECT_TRUE(raised("GetLanctoNF",
                       {"0001", core::Date{double(kDay)}, core::Date{double(kDay)}, "", "T", "", "T", "0000000001", "",
                        "", "T"})
                    .startsWith("Intervalo"));
}

TEST_P(QueryMethods, ItemsOfSuccessiveEntriesComeFromTheKeptStatementsRight)
{
    addEntry("0001", "0000000001");
    addEntry("0001", "0000000002");
    addItem("0001", "0000000001", "0001", "P1", 5);
    addItem("0001", "0000000002", "0001", "P2", 1);
    addItem("0001", "0000000002", "0002", "P3", 2);
    addAccount("0001", "0000000002");
    auto items = [&](const char* nr) { return column(cancel("GetItem", {"0001", nr})[0].packet(), "CDPRODUTO"); };
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(items("0000000001"), QStringList{"P1"});
        EXPECT_EQ(items("0000000002"), (QStringList{"P2", "P3"}));
        EXPECT_TRUE(items("0000000009").isEmpty());
        EXPECT_EQ(cancel("GetItem", {"0001", "0000000002"})[1].packet().rowCount(), 1);
        EXPECT_EQ(cancel("GetItem", {"0001", "0000000001"})[1].packet().rowCount(), 0);
        // The thread's connection goes away: the statements kept on it go too.
        db->connection().close();
    }
    // A statement kept while its table changes reads the change.
    addItem("0001", "0000000001", "0002", "P4", 1);
    EXPECT_EQ(items("0000000001"), (QStringList{"P1", "P4"}));
}

TEST_P(QueryMethods, ItemStockReplicaShipmentGradeAndParameterPayloads)
{
    addEntry("0001", "0000000001");
    addItem("0001", "0000000001", "0002", "P2", 3);
    addItem("0001", "0000000001", "0001", "P1", 5);
    addAccount("0001", "0000000001");
    addReplica("0001", "0000000001", "0003", "0000000100", "P");
    addReplica("0001", "0000000001", "0004", "0000000200", "E");
    sql("INSERT INTO EXPEDICAO (CDFILIAL, NREXPEDICAO, CDVIATURA, NRPLACA) VALUES ('0001', '0000000001', '0001', 'ABC1234')");
    sql("INSERT INTO GRADEPED (CDFILIAL, NRGRADEPED, DTGRADE) VALUES ('0002', 'GRADE A', ?), ('0002', 'GRADE B', ?)",
        {kDay, kDay - 9});
    sql("INSERT INTO PARAMEXPED (CDFILIAL, IDGERPRODEST, IDREPLITRANS, IDTPEXPPEDIDO) VALUES ('0002', '1', 'S', 'GRA')");

    const Variant items = cancel("GetItem", {"0001", "0000000001"});
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(column(items[0].packet(), "NRSEQITPROD"), (QStringList{"0001", "0002"}));
    EXPECT_EQ(items[0].packet().fields().at(0).name, "IDCHECK");
    EXPECT_EQ(items[1].packet().rowCount(), 1);
    EXPECT_GE(items[1].packet().fieldIndex("NRLANCTBDOC"), 0);

    const core::DataPacket est = cancel("GetItLanctoEst", {"0001", stockNr("0000000001")}).packet();
    EXPECT_EQ(column(est, "NRSEQUITEM"), (QStringList{"0001", "0002"}));
    EXPECT_GE(est.fieldIndex("PRODMOVI"), 0);

    const core::DataPacket aprov = cancel("GetReplicAprov", {"0001", "0000000001"}).packet();
    ASSERT_EQ(aprov.rowCount(), 2);
    EXPECT_EQ(aprov.value(0, "IDSTATUS").toString(), "E"); // the blocking replica comes first
    EXPECT_EQ(aprov.value(0, "CDFILIAL").toString(), "0004");
    EXPECT_EQ(aprov.value(0, "NRLANCTONF").toString(), "0000000200");

    EXPECT_EQ(column(cancel("GetExp", {"0001"}).packet(), "NREXPEDICAO"), QStringList{"0000000001"});
    EXPECT_TRUE(cancel("GetExp", {"0004"}).packet().isEmpty());
    EXPECT_EQ(
        column(cancel("GetGradePesq", {"0002", double(kDay - 2), core::Date{double(kDay)}}).packet(), "NRGRADEPED"),
        QStringList{"GRADE A"});
    const core::DataPacket par = cancel("GetParExpedicao", {"0002"}).packet();
    EXPECT_EQ(par.value(0, "IDTPEXPPEDIDO").toString(), "GRA");
    EXPECT_TRUE(cancel("GetParExpedicao", {"9999"}).packet().isEmpty());
}

TEST_P(QueryMethods, VerReplicOneEntryAndWholeList)
{
    addEntry("0001", "0000000001");           // pending replica: ticked
    addEntry("0001", "0000000002");           // approved replica: not ticked
    addEntry("0001", "0000000003", "E", "A"); // blocked
    addEntry("0001", "0000000004", "P", "R"); // plain, ticked
    addEntry("0001", "0000000005", "P", "T"); // NF-e transmitted: blocked
    addReplica("0001", "0000000001", "0003", "0000000100", "P");
    addReplica("0001", "0000000002", "0003", "0000000101", "A");

    const Variant one = cancel("VerReplic", {Variant(), "0001", "0000000001"});
    ASSERT_EQ(one.count(), 3);
    EXPECT_TRUE(one[0].isNull());
    EXPECT_EQ(column(one[1].packet(), "NRLANCTONFDEST"), QStringList{"0000000100"});
    EXPECT_TRUE(cancel("VerReplic", {Variant(), "0001", "0000000004"})[1].isNull());

    const Variant all = cancel("VerReplic", {listEntries("0001"), "", ""});
    EXPECT_EQ(column(all[0].packet(), "IDCHECK"), (QStringList{"S", "N", "N", "S", "N"}));
    EXPECT_EQ(all[2].toInt(), 2);
    EXPECT_EQ(column(all[1].packet(), "NRLANCTONF"), QStringList{"0000000001"});
    EXPECT_EQ(column(all[1].packet(), "CDFILIALREPLIC"), QStringList{"0003"});
}

// The whole-list check reads the stored state in SQL: a cancelled approved
// replica no longer holds the entry back, an entry gone from the database is
// not ticked, a repeated row is ticked like its twin, and a row sent already
// blocked stays unticked whatever is stored.
TEST_P(QueryMethods, VerReplicWholeListReadsTheStoredStateRowByRowKey)
{
    addEntry("0001", "0000000001"); // approved replica, cancelled since: ticked
    addEntry("0001", "0000000002"); // removed after loading: not ticked
    addEntry("0001", "0000000003"); // sent as emitted: not ticked
    addEntry("0001", "0000000004"); // approved and pending replicas: not ticked
    addReplica("0001", "0000000001", "0003", "0000000100", "A");
    addReplica("0001", "0000000004", "0003", "0000000101", "P");
    addReplica("0001", "0000000004", "0004", "0000000102", "A");
    sql("UPDATE DOCREPLIC SET IDCANCELADO = 'S' WHERE NRLANCTONFDEST = '0000000100'");
    core::DataPacket list = listEntries("0001");
    sql("DELETE FROM LANCTONF WHERE NRLANCTONF = '0000000002'");
    const int st = list.fieldIndex("IDSTATUS"), nr = list.fieldIndex("NRLANCTONF");
    for (auto& row : list.rows())
        if (row[size_t(nr)].toString() == "0000000003")
            row[size_t(st)] = Variant("E");
    list.rows().push_back(list.rows().front()); // entry 1 twice

    const Variant all = cancel("VerReplic", {list, "", ""});
    EXPECT_EQ(column(all[0].packet(), "IDCHECK"), (QStringList{"S", "N", "N", "N", "S"}));
    EXPECT_EQ(all[2].toInt(), 2);
    EXPECT_TRUE(all[1].isNull()) << "the ticked entry's only replica is cancelled";
}

// A long list is checked either by the range its numbers span or by chunks of
// its keys, whichever suits it (dense, sparse, keys that are not plain digits,
// several branches); every way must tick exactly what the entry-by-entry rule
// says.
TEST_P(QueryMethods, VerReplicWholeListTicksLongListsByTheSameRuleHoweverTheyAreRead)
{
    const int n = 1300;
    const QString pad = db->isSqlite() ? "SUBSTR('0000000000' || X, -10, 10)" : "LPAD(CAST(X AS VARCHAR(10)), 10, '0')";
    for (const char* br : {"0001", "0002"})
        sql(QString(
                "WITH RECURSIVE N(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM N WHERE X < %1) "
                "INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTENTRSAID, IDSTATUS, IDSTATUSNFE) "
                "SELECT '%2', %3, ?, CASE WHEN X % 5 = 1 THEN 'E' WHEN X % 23 = 2 THEN 'L' ELSE 'P' END, "
                "CASE WHEN X % 7 = 3 THEN 'T' WHEN X % 7 = 4 THEN NULL WHEN X % 29 = 5 THEN 'D' ELSE 'R' END FROM N")
                .arg(n)
                .arg(br, pad),
            {kDay});
    auto nr = [](int x) { return QString("%1").arg(x, 10, 10, QChar('0')); };
    // Replicas: approved, approved but cancelled since, pending.
    for (int x = 11; x <= n; x += 11)
        addReplica("0001", nr(x), "0003", nr(100000 + x), "A");
    for (int x = 13; x <= n; x += 13) {
        addReplica("0001", nr(x), "0004", nr(200000 + x), "A");
        sql("UPDATE DOCREPLIC SET IDCANCELADO = 'S' WHERE NRLANCTONFDEST = ?", {nr(200000 + x)});
    }
    for (int x = 17; x <= n; x += 17)
        addReplica("0001", nr(x), "0003", nr(300000 + x), "P");
    auto expected = [&](const QString& br, int x) {
        const bool blocked = x % 5 == 1 || x % 23 == 2 || x % 7 == 3 || (x % 7 != 4 && x % 29 == 5);
        return !blocked && !(br == "0001" && x % 11 == 0);
    };
    const core::DataPacket all1 = listEntries("0001"), all2 = listEntries("0002");
    ASSERT_EQ(all1.rowCount(), n);
    const int iNr = all1.fieldIndex("NRLANCTONF"), iBr = all1.fieldIndex("CDFILIAL");

    auto check = [&](const core::DataPacket& list, const char* what) {
        const Variant r = cancel("VerReplic", {list, "", ""});
        const core::DataPacket back = r[0].packet();
        ASSERT_EQ(back.rowCount(), list.rowCount()) << what;
        int ticked = 0, wrong = 0;
        QSet<QString> replicated;
        for (int i = 0; i < back.rowCount(); ++i) {
            const QString br = back.value(i, "CDFILIAL").toString(), number = back.value(i, "NRLANCTONF").toString();
            const bool want = number.startsWith('0') && expected(br, number.toInt());
            wrong += (back.value(i, "IDCHECK").toString() == "S") != want;
            ticked += want;
            if (want && br == "0001" && number.toInt() % 17 == 0)
                replicated << number;
        }
        EXPECT_EQ(wrong, 0) << what;
        EXPECT_EQ(r[2].toInt(), ticked) << what;
        const QStringList docs = r[1].isNull() ? QStringList() : column(r[1].packet(), "NRLANCTONF");
        EXPECT_EQ(QSet<QString>(docs.begin(), docs.end()), replicated) << what;
    };
    check(all1, "the whole branch, dense");
    core::DataPacket sparse(all1.fields());
    for (int i = 0; i < n; i += 3)
        sparse.rows().push_back(all1.rows()[size_t(i)]); // spans three times its size
    check(sparse, "every third entry");
    core::DataPacket odd = all1;
    odd.rows()[5][size_t(iNr)] = Variant("00000A0006"); // no such entry, and not a plain number
    check(odd, "a key that is not a number");
    core::DataPacket mixed = all1;
    for (const auto& row : all2.rows())
        mixed.rows().push_back(row);
    std::reverse(mixed.rows().begin(), mixed.rows().end());
    check(mixed, "two branches, in reverse order");
    EXPECT_EQ(mixed.rows().front()[size_t(iBr)].toString(), "0002");
}

TEST_P(QueryMethods, GetVdCancelaCountsEntriesChangedSinceLoading)
{
    addEntry("0001", "0000000001");
    addEntry("0001", "0000000002");
    const core::DataPacket loaded = listEntries("0001");
    EXPECT_EQ(cancel("GetVdCancela", {loaded, "0001"}).toInt(), 0);
    sql("UPDATE LANCTONF SET IDSTATUS = 'E', NRVERSAO = NRVERSAO + 1 WHERE NRLANCTONF = '0000000002'");
    EXPECT_EQ(cancel("GetVdCancela", {loaded, "0001"}).toInt(), 1);
    sql("DELETE FROM LANCTONF WHERE NRLANCTONF = '0000000001'");
    EXPECT_EQ(cancel("GetVdCancela", {loaded, "0001"}).toInt(), 2);
    EXPECT_EQ(cancel("GetVdCancela", {listEntries("0001"), "0001"}).toInt(), 0);
}

TEST_P(QueryMethods, DemoDataIsDeterministicAndCoversTheScreenPaths)
{
    server::DemoOptions o;
    o.entries = 600;
    o.seed = 7;
    server::generateDemo(*db, o);
    const qint64 today = core::Date::today().wholeDays();
    auto fingerprint = [&] {
        return scalar("SELECT COUNT(*) || '/' || SUM(DTENTRSAID) || '/' || COUNT(IDSTATUSNFE) FROM LANCTONF").toString()
            + scalar("SELECT COUNT(*) FROM ITLANCTONF").toString()
            + scalar("SELECT COUNT(*) FROM DOCREPLIC").toString();
    };
    const QString first = fingerprint();
    server::generateDemo(*db, o);
    EXPECT_EQ(fingerprint(), first);
    EXPECT_GT(listEntries("0001", today - 2, today).rowCount(), 0);
    for (const char* s : {"P", "A", "E", "C", "L"})
        EXPECT_GT(count("SELECT COUNT(*) FROM LANCTONF WHERE IDSTATUS = ?", {s}), 0) << s;
    for (const char* s : {"A", "C", "D", "P", "R", "T"})
        EXPECT_GT(count("SELECT COUNT(*) FROM LANCTONF WHERE IDSTATUSNFE = ?", {s}), 0) << s;
    EXPECT_GT(count("SELECT COUNT(*) FROM LANCTONF WHERE IDSTATUSNFE IS NULL"), 0);
    for (const char* s : {"P", "A", "E"})
        EXPECT_GT(count("SELECT COUNT(*) FROM DOCREPLIC WHERE IDSTATUS = ?", {s}), 0) << s;
    EXPECT_EQ(cancel("GetParExpedicao", {"0002"}).packet().value(0, "IDTPEXPPEDIDO").toString(), "GRA");
    EXPECT_EQ(cancel("GetParExpedicao", {"0003"}).packet().value(0, "IDGERPRODEST").toString(), "3");
    EXPECT_TRUE(cancel("GetExp", {"0004"}).packet().isEmpty());
    EXPECT_FALSE(cancel("GetExp", {"0001"}).packet().isEmpty());
    EXPECT_GT(count("SELECT COUNT(*) FROM CONTAGERADA"), 0);
    EXPECT_GT(count("SELECT COUNT(*) FROM ROTATRANS"), 0);
    for (int code : {100, 150, 110, 301, 302})
        EXPECT_GT(count("SELECT COUNT(*) FROM SITUACAONFE WHERE CDRETORNO = ?", {code}), 0) << code;
    // Rejected NF-e without a stored answer: the authority does not know the key.
    EXPECT_GT(count("SELECT COUNT(*) FROM LANCTONF L WHERE IDSTATUSNFE = 'R' AND NOT EXISTS "
                    "(SELECT 1 FROM SITUACAONFE S WHERE S.NRACESSONFE = L.NRACESSONFE)"),
              0);
}

TEST_P(QueryMethods, ListsLongerThanTheScreenLoadsAreRefusedBeforeAnyWork)
{
    // One entry past the cap, made by the database itself.
    sql(QString("WITH RECURSIVE N(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM N WHERE X < %1) "
                "INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTENTRSAID, IDSTATUS) "
                "SELECT '0001', %2, ?, 'P' FROM N")
            .arg(server::kMaxListEntries + 1)
            .arg(db->isSqlite() ? "SUBSTR('0000000000' || X, -10, 10)" : "LPAD(CAST(X AS VARCHAR(10)), 10, '0')"),
        {kDay});
    const QString refused =
        raised("GetLanctoNF",
               {"0001", core::Date{double(kDay)}, core::Date{double(kDay)}, "", "T", "", "T", "", "", "T", "T"});
    EXPECT_TRUE(refused.contains("Restrinja o filtro")) << qPrintable(refused);
    EXPECT_TRUE(refused.contains("250.000")) << qPrintable(refused);
    // The count obeys the list's own filter: under a grade no entry has, nothing is refused.
    EXPECT_EQ(cancel("GetLanctoNF",
                     {"0001", core::Date{double(kDay)}, core::Date{double(kDay)}, "", "T", "", "T", "", "", "T", "G1"})
                  .packet()
                  .rowCount(),
              0);
    // One entry fewer is listed whole.
    sql("DELETE FROM LANCTONF WHERE NRLANCTONF = '0000000001'");
    EXPECT_EQ(listEntries("0001").rowCount(), server::kMaxListEntries);

    // Lists sent back longer than the cap are refused as bad requests.
    const core::DataPacket one = listEntries("0001", kDay, kDay - 1); // empty, the entry layout
    core::DataPacket tooLong(one.fields());
    const core::PacketRow row(size_t(one.fields().size()), Variant());
    for (int i = 0; i <= server::kMaxListEntries; ++i)
        tooLong.rows().push_back(row);
    for (const char* method : {"VerReplic", "GetVdCancela", "CancelaNota"}) {
        core::VariantArray args;
        if (QString(method) == "VerReplic")
            args = {tooLong, "0001", ""};
        else if (QString(method) == "GetVdCancela")
            args = {tooLong, "0001"};
        else
            args = {"0001", tooLong, "0001", "op", "T"};
        EXPECT_THROW(cancel(method, args), server::BadRequest) << method;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
}

SERVER_BACKENDS(QueryMethods);
