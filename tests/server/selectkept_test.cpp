// Small reads made on every call (the items of an entry, the session) go
// through selectKept, which on SQLite bypasses QtSql: the packets it builds
// must be the very packets QtSql's reading builds, for every kind of value,
// and the kept statement must come back clean however its last use ended.
#include "serverfixture.h"

#include <server/packetbuild.h>

using namespace servertest;

namespace {

const std::vector<server::Column> kCols = {
    {"S", core::FieldType::String, 40}, {"I", core::FieldType::Integer}, {"F", core::FieldType::Float},
    {"D", core::FieldType::DateTime},   {"B", core::FieldType::Boolean},
};
const QString kSelect =
    "SELECT S, I, F, D, B FROM PARIDADE WHERE (I >= ? OR I IS NULL) AND (S <> ? OR S IS NULL) ORDER BY K";

} // namespace

class SelectKept : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        QSqlDatabase c = db->connection();
        server::execDirect(
            c, "CREATE TABLE PARIDADE (K INTEGER, S VARCHAR(40), I BIGINT, F DOUBLE PRECISION, D INTEGER, B INTEGER)");
        const QVariant nul;
        const QVariantList rows[] = {
            {1, "0001", 5, 0.1, 45000, 1},
            {2, QString::fromUtf8("Ação ç ü 😀 \"aspas\" \\ barra"), 9223372036854775807LL, 1e300, 2958465, 0},
            {3, "", -42, -0.0, 2, 1},
            {4, nul, nul, nul, nul, nul},
            {5, "fora", -1000, 3.5, 1, 0}, // left out by the first bind
            {6, "x", 7, 123456789.123456789, 45001, 7},
            {7, "excluída", 8, 2.0, 45002, 1}, // left out by the second bind
        };
        for (const QVariantList& r : rows)
            sql("INSERT INTO PARIDADE (K, S, I, F, D, B) VALUES (?, ?, ?, ?, ?, ?)", r);
    }

    QByteArray throughQtSql(const QString& text, const QVariantList& binds)
    {
        QSqlDatabase c = db->connection();
        QSqlQuery q = server::prepare(c, text);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        server::exec(q);
        return core::codec::encodePacket(server::packetFromQuery(q, kCols));
    }
    QByteArray throughSelectKept(const QString& text, const QVariantList& binds)
    {
        QSqlDatabase c = db->connection();
        return core::codec::encodePacket(server::packetFromSelect(c, text, binds, kCols));
    }
};

TEST_P(SelectKept, RowsReadTheSameAsThroughQtSql)
{
    const QVariantList binds{qint64(-100), QString::fromUtf8("excluída")};
    const QByteArray expected = throughQtSql(kSelect, binds);
    EXPECT_EQ(throughSelectKept(kSelect, binds), expected);
    EXPECT_EQ(throughSelectKept(kSelect, binds), expected); // the kept statement, again
    const core::DataPacket p = core::codec::decodePacket(expected);
    ASSERT_EQ(p.rowCount(), 5);
    EXPECT_TRUE(p.rows()[3][0].isNull());
    EXPECT_EQ(p.rows()[1][0].toString(), QString::fromUtf8("Ação ç ü 😀 \"aspas\" \\ barra"));
    EXPECT_EQ(p.rows()[1][1].toInt(), 9223372036854775807LL);

    // Other binds on the same kept statement: nothing left over from the last use.
    const QVariantList fewer{qint64(6), QString("x")};
    EXPECT_EQ(throughSelectKept(kSelect, fewer), throughQtSql(kSelect, fewer));
    EXPECT_EQ(core::codec::decodePacket(throughSelectKept(kSelect, fewer)).rowCount(), 3);
}

TEST_P(SelectKept, ValuesStoredWithAnotherTypeReadTheSameAsThroughQtSql)
{
    if (GetParam() != "sqlite")
        GTEST_SKIP() << "only SQLite stores a value of any type in any column";
    // Columns without a declared type keep what was stored: text where a
    // number is expected and numbers where text is.
    QSqlDatabase c = db->connection();
    server::execDirect(c, "CREATE TABLE SOLTA (K INTEGER, S, I, F, D, B)");
    sql("INSERT INTO SOLTA VALUES (1, 123, '77', '2.5', '45000.75', 'S')");
    sql("INSERT INTO SOLTA VALUES (2, 0.1, 3.9, 4, 1.5, 0.0)");
    sql("INSERT INTO SOLTA VALUES (3, 1e20, 'abc', 'x', '', '')");
    const QString text = "SELECT S, I, F, D, B FROM SOLTA ORDER BY K";
    EXPECT_EQ(throughSelectKept(text, {}), throughQtSql(text, {}));
}

TEST_P(SelectKept, AStatementLeftMidwayOrFailedComesBackClean)
{
    QSqlDatabase c = db->connection();
    const QVariantList binds{qint64(-100), QString("nada")};
    int seen = 0;
    EXPECT_THROW(server::selectKept(c, kSelect, binds, 5,
                                    [&](const QVariant*) {
                                        if (++seen == 2)
                                            throw core::Error("parou");
                                    }),
                 core::Error);
    EXPECT_EQ(seen, 2);
    int all = 0;
    server::selectKept(c, kSelect, binds, 5, [&](const QVariant*) { ++all; });
    EXPECT_EQ(all, 6);

    EXPECT_THROW(server::selectKept(c, "SELECT NADA FROM TABELA_QUE_NAO_EXISTE", {}, 1, [](const QVariant*) {}),
                 server::InternalError);
    if (GetParam() == "sqlite") { // a value SQLite cannot take as it is
        EXPECT_THROW(
            server::selectKept(c, kSelect, {QVariant(QDate(2020, 1, 1)), QString("x")}, 5, [](const QVariant*) {}),
            server::InternalError);
    }

    // The connection closes with its kept statements, and a new one serves again.
    c = QSqlDatabase();
    db->closeThreadConnection();
    c = db->connection();
    int again = 0;
    server::selectKept(c, kSelect, binds, 5, [&](const QVariant*) { ++again; });
    EXPECT_EQ(again, 6);
}

SERVER_BACKENDS(SelectKept);
