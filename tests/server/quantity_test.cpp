// Exact quantities: the fixed-point type, the stock sums of cancellations
// that floating point got wrong, and the migration of a database that still
// stores floating-point quantities.
#include "serverfixture.h"

using namespace servertest;
using server::Quantity;

TEST(QuantityType, ParsesPrintsAndAddsExactly)
{
    EXPECT_EQ(Quantity::parse("0.1").units(), 10000);
    EXPECT_EQ(Quantity::parse("-12.34500").toString(), "-12.34500");
    EXPECT_EQ(Quantity::parse("+7").toString(), "7.00000");
    EXPECT_EQ(Quantity::parse("0.1234500").units(), 12345); // zeros beyond the scale are harmless
    Quantity sum;
    for (int i = 0; i < 3; ++i)
        sum += Quantity::parse("0.1");
    EXPECT_EQ(sum, Quantity::parse("0.3"));
    EXPECT_EQ(Quantity::parse("100000000.1") - Quantity::parse("100000000"), Quantity::parse("0.1"));
    EXPECT_EQ(Quantity::fromDouble(0.30000000000000004), Quantity::parse("0.3"));
    EXPECT_EQ(Quantity::fromDouble(0.09999999403953552), Quantity::parse("0.1"));
    EXPECT_EQ(Quantity::fromDouble(-2.78e-17), Quantity());
    EXPECT_EQ(Quantity::fromDouble(-0.000015).units(), -2); // half away from zero
    EXPECT_TRUE(Quantity::parse("-0.00001") < Quantity());
    EXPECT_DOUBLE_EQ(Quantity::parse("2.5").toDouble(), 2.5);
}

TEST(QuantityType, RefusesWhatItCannotHoldExactly)
{
    for (const char* bad : {"", "-", "1.2.3", "1,5", "0.000001", "abc", "1e3", "99999999999999"})
        EXPECT_THROW(Quantity::parse(bad), server::InternalError) << bad;
    EXPECT_THROW(Quantity::fromDouble(std::nan("")), server::InternalError);
    EXPECT_THROW(Quantity::fromDouble(1e300), server::InternalError);
    Quantity big = Quantity::fromUnits(Quantity::kMaxUnits);
    EXPECT_THROW(big += Quantity::fromUnits(1), server::InternalError);
    EXPECT_EQ(Quantity::fromUnits(-Quantity::kMaxUnits).toString(), "-9999999999999.99999");
}

class ExactStock : public ServerDb {
protected:
    QString cancelItem(const QString& nr, const QString& seq)
    {
        core::DataPacket p = cancel("GetItem", {"0001", nr})[0].packet();
        const int c = p.fieldIndex("IDCHECK"), s = p.fieldIndex("NRSEQITPROD");
        for (auto& row : p.rows())
            if (row[size_t(s)].toString() == seq)
                row[size_t(c)] = Variant("S");
        return raised("CancelaItemNf",
                      {"0001", p, nr, "0000000001", stockNr(nr), core::Date{double(kDay)}, "0001", "op7"});
    }
};

TEST_P(ExactStock, ThreeCancellationsOfATenthLeaveExactBalances)
{
    addEntry("0001", "0000000001");
    for (const char* seq : {"0001", "0002", "0003"})
        addItem("0001", "0000000001", seq, "P1", 0.1);
    addReplica("0001", "0000000001", "0003", "0000000100", "A");
    setStock("0003", "P1", 0.3);
    setStock("0001", "P1", 0);
    for (const char* seq : {"0001", "0002", "0003"})
        EXPECT_EQ(cancelItem("0000000001", seq), "") << seq;
    EXPECT_EQ(exactStock("0003", "P1"), Quantity());
    EXPECT_EQ(exactStock("0001", "P1"), Quantity::parse("0.3"));
    EXPECT_EQ(status("0001", "0000000001"), "C");
    // The items still travel as floating point, as the screen's datasets declare them.
    addEntry("0001", "0000000002");
    addItem("0001", "0000000002", "0001", "P1", 0.1);
    const core::DataPacket items = cancel("GetItem", {"0001", "0000000002"})[0].packet();
    const core::Variant qty = items.rows()[0][size_t(items.fieldIndex("QTITEMPROD"))];
    EXPECT_EQ(qty.type(), core::Variant::Type::Double);
    EXPECT_EQ(qty.toDouble(), 0.1);
}

TEST_P(ExactStock, ATenthThatPassedThroughAHundredMillionIsStillATenth)
{
    addEntry("0001", "0000000001");
    addItem("0001", "0000000001", "0001", "P1", 100000000);
    addReplica("0001", "0000000001", "0003", "0000000100", "A");
    addEntry("0001", "0000000002");
    addItem("0001", "0000000002", "0001", "P1", 0.1);
    addReplica("0001", "0000000002", "0003", "0000000101", "A");
    setStock("0003", "P1", 100000000.1);
    EXPECT_EQ(cancelItem("0000000001", "0001"), "");
    EXPECT_EQ(exactStock("0003", "P1"), Quantity::parse("0.1"));
    EXPECT_EQ(cancelItem("0000000002", "0001"), ""); // not ITEM_N_CANC
    EXPECT_EQ(exactStock("0003", "P1"), Quantity());
    EXPECT_EQ(exactStock("0001", "P1"), Quantity::parse("100000000.1"));
}

TEST_P(ExactStock, TheDatabaseRefusesANegativeBalance)
{
    EXPECT_THROW(setStock("0001", "P1", -0.00001), server::InternalError);
    EXPECT_EQ(count("SELECT COUNT(*) FROM SALDOESTQ"), 0);
}

SERVER_BACKENDS(ExactStock);

// A database as the previous release left it (version 2): floating-point quantities.
class QuantityMigration : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        if (GetParam() == "postgres" && qEnvironmentVariable("EXP_TEST_PG").isEmpty())
            GTEST_SKIP() << "EXP_TEST_PG not set";
        db = openTestDatabase(GetParam(), dir, schema);
        ASSERT_EQ(server::migrateSchema(*db, 2), 0);
        conn = db->connection();
    }
    void TearDown() override
    {
        if (db && !schema.isEmpty()) {
            QSqlQuery q(conn);
            q.exec("SET search_path TO public");
            q.exec(QString("DROP SCHEMA %1 CASCADE").arg(schema));
        }
        conn = QSqlDatabase();
        db.reset();
    }
    void sql(const QString& text, const QVariantList& binds = {})
    {
        QSqlQuery q = server::prepare(conn, text);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        server::exec(q);
    }
    QString stored(const QString& select)
    {
        QSqlQuery q = server::prepare(conn, select);
        server::exec(q);
        return q.next() ? server::quantityAt(q, 0).toString() : "(nada)";
    }
    void balance(const QString& br, const QString& prod, double v)
    {
        sql("INSERT INTO SALDOESTQ (CDFILIAL, CDPRODUTO, QTSALDO) VALUES (?,?,?)", {br, prod, v});
    }

    QTemporaryDir dir;
    QString schema;
    std::unique_ptr<server::Database> db;
    QSqlDatabase conn;
};

TEST_P(QuantityMigration, RoundsStoredQuantitiesToTheScaleAndGuardsBalances)
{
    balance("0001", "P1", 0.30000000000000004);
    balance("0001", "P2", 0.09999999403953552);
    balance("0003", "P1", -2.78e-17); // a drift below zero, not a real shortage
    balance("0003", "P2", 1234567.123456);
    sql("INSERT INTO ITLANCTONF (CDFILIAL, NRLANCTONF, NRSEQITPROD, CDPRODUTO, QTITEMPROD, VRUNITITEM) VALUES "
        "('0001', '0000000001', '0001', 'P1', 2.675, 1.1)");
    sql("INSERT INTO ITLANCTOEST (CDFILIAL, NRLANCESTQ, NRSEQUITEM, CDPRODUTO, QTLANCTOEST) VALUES "
        "('0001', '9000000001', '0001', 'P1', 0.1)");

    EXPECT_EQ(server::migrateSchema(*db), 2);
    EXPECT_EQ(server::migrateSchema(*db), server::kSchemaVersion); // nothing left to do
    const QString units = server::qtyUnitsSql(*db, "QTSALDO");
    auto bal = [&](const char* br, const char* p) {
        return stored(QString("SELECT %1 FROM SALDOESTQ WHERE CDFILIAL = '%2' AND CDPRODUTO = '%3'").arg(units, br, p));
    };
    EXPECT_EQ(bal("0001", "P1"), "0.30000");
    EXPECT_EQ(bal("0001", "P2"), "0.10000");
    EXPECT_EQ(bal("0003", "P1"), "0.00000");
    EXPECT_EQ(bal("0003", "P2"), "1234567.12346");
    EXPECT_EQ(stored("SELECT " + server::qtyUnitsSql(*db, "QTITEMPROD") + " FROM ITLANCTONF"), "2.67500");
    EXPECT_EQ(stored("SELECT " + server::qtyUnitsSql(*db, "QTLANCTOEST") + " FROM ITLANCTOEST"), "0.10000");
    // The other columns came along untouched, and the new rules hold.
    QSqlQuery q = server::prepare(conn, "SELECT VRUNITITEM, CDPRODUTO FROM ITLANCTONF");
    server::exec(q);
    ASSERT_TRUE(q.next());
    EXPECT_DOUBLE_EQ(q.value(0).toDouble(), 1.1);
    EXPECT_EQ(q.value(1).toString(), "P1");
    EXPECT_THROW(sql("UPDATE SALDOESTQ SET QTSALDO = QTSALDO - ? WHERE CDFILIAL = '0001' AND CDPRODUTO = 'P1'",
                     {server::qtyBind(*db, Quantity::parse("0.30001"))}),
                 server::InternalError);
    if (db->isSqlite()) { // a floating-point value can no longer slip into the integer column
        EXPECT_THROW(balance("0009", "P1", 0.5), server::InternalError);
    }
}

TEST_P(QuantityMigration, ANegativeBalanceStopsTheMigrationAndChangesNothing)
{
    balance("0004", "PZ", -1);
    balance("0001", "P1", 0.30000000000000004);
    try {
        server::migrateSchema(*db);
        ADD_FAILURE() << "a negative balance was migrated";
    } catch (const server::InternalError& e) {
        EXPECT_TRUE(e.message().contains("0004/PZ")) << e.message().toStdString();
    }
    QSqlQuery v = server::prepare(conn, "SELECT MAX(NRVERSAO) FROM SCHEMA_VERSAO");
    server::exec(v);
    ASSERT_TRUE(v.next());
    EXPECT_EQ(v.value(0).toInt(), 2);
    QSqlQuery q = server::prepare(conn, "SELECT QTSALDO FROM SALDOESTQ WHERE CDPRODUTO = 'P1'");
    server::exec(q);
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toDouble(), 0.30000000000000004);
}

SERVER_BACKENDS(QuantityMigration);
