// Host-database queries: parameter parsing, the text chosen per driver, and
// the lookups' SQL texts run for real on SQLite, PostgreSQL (EXP_TEST_PG)
// and embedded Firebird (when isql-fb and the QIBASE driver are present).
#include <contracts/hostsql.h>
#include <client/adoibquery.h>
#include <core/errors.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using core::SqlDialect;
using core::TADOIBQuery;
using core::Variant;

namespace {

// --- parameters and text choice -------------------------------------------------

TEST(NamedParams, RewrittenOutsideLiteralsAndCommentsOneNamePerMarker)
{
    const core::ParsedSql p = core::parseNamedParams(
        QStringLiteral("SELECT ':NOT_A', \"x:y\", a::text -- :NOR_THIS\n"
                       "FROM T, PARAM(:P_CDFILIAL)P_CDFILIAL /* :nor_this */\n"
                       "WHERE (E.CD = :P_cdEmpresa) AND (I.CD = :P_CDEMPRESA) AND X = 'it''s :no'"));
    EXPECT_EQ(p.names, (QStringList{"P_CDFILIAL", "P_CDEMPRESA", "P_CDEMPRESA"}));
    EXPECT_EQ(p.text,
              QStringLiteral("SELECT ':NOT_A', \"x:y\", a::text -- :NOR_THIS\n"
                             "FROM T, PARAM(?)P_CDFILIAL /* :nor_this */\n"
                             "WHERE (E.CD = ?) AND (I.CD = ?) AND X = 'it''s :no'"));
    // An unterminated literal swallows the rest rather than inventing parameters.
    EXPECT_TRUE(core::parseNamedParams(QStringLiteral("SELECT 'abc :X")).names.isEmpty());
}

TEST(DialectChoice, DriverNamesMapToDialectsAndMissingTextsFallBack)
{
    using D = core::TDtmDBGeral;
    EXPECT_EQ(D::dialectOf("QIBASE"), SqlDialect::InterBase);
    EXPECT_EQ(D::dialectOf("QPSQL"), SqlDialect::PostgreSQL);
    EXPECT_EQ(D::dialectOf("QSQLITE"), SqlDialect::SQLite);
    EXPECT_EQ(D::dialectOf("QOCI"), SqlDialect::Oracle);
    EXPECT_EQ(D::dialectOf("QODBC"), SqlDialect::MSSQL);
    EXPECT_EQ(D::dialectOf("QMYSQL"), SqlDialect::Generic);

    TADOIBQuery q;
    q.SQL = QStringList{"GERAL"};
    q.SQL_IB = QStringList{"IB", "2"};
    EXPECT_EQ(q.sqlFor(SqlDialect::InterBase), QStringLiteral("IB\n2"));
    EXPECT_EQ(q.sqlFor(SqlDialect::MSSQL), QStringLiteral("GERAL"));
    EXPECT_EQ(q.sqlFor(SqlDialect::PostgreSQL), QStringLiteral("GERAL"));

    contracts::sql::applyFilial(q);
    EXPECT_EQ(q.sqlFor(SqlDialect::Generic), q.sqlFor(SqlDialect::Oracle));
    EXPECT_TRUE(q.sqlFor(SqlDialect::MSSQL).contains(QStringLiteral("ISNULL(:P_CDFILIAL,FI.CDFILIAL)")));
    EXPECT_EQ(contracts::sql::filialIB().size(), 11);
}

// Each dialect's text is written out whole; the lines where it departs from
// the Oracle text are the ones its database needs, and no other line drifts.
TEST(HostSqlTexts, EachDialectDepartsFromTheOracleTextOnlyWhereItsDatabaseNeeds)
{
    namespace sql = contracts::sql;
    struct Case {
        const char* name;
        QStringList text;
        QStringList base;
        int inserted;               ///< index of a line the base lacks, or -1
        std::map<int, QString> own; ///< index (after removing `inserted`) -> line
    };
    const Case cases[] = {
        {"filial MSSQL",
         sql::filialMSSQL(),
         sql::filialOracle(),
         -1,
         {{6, "   FI.CDFILIAL = ISNULL(:P_CDFILIAL,FI.CDFILIAL) AND"}}},
        {"filial IB",
         sql::filialIB(),
         sql::filialOracle(),
         5,
         {{4, "   FILIAL FI, EMPRESA EM,"}, {6, "   FI.CDFILIAL = NVLSTR(P_CDFILIAL.PARAM ,FI.CDFILIAL) AND"}}},
        {"filial SQLite",
         sql::filialSQLite(),
         sql::filialOracle(),
         -1,
         {{6, "   FI.CDFILIAL = COALESCE(:P_CDFILIAL,FI.CDFILIAL) AND"}}},
        {"filial PG",
         sql::filialPG(),
         sql::filialOracle(),
         -1,
         {{6, "   FI.CDFILIAL = COALESCE(CAST(:P_CDFILIAL AS VARCHAR),FI.CDFILIAL) AND"}}},
        {"inscrEstad IB", sql::inscrEstadIB(), sql::inscrEstadMSSQL(), -1, {}},
        {"inscrEstad PG", sql::inscrEstadPG(), sql::inscrEstadSQLite(), -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList text = c.text;
        if (c.inserted >= 0) {
            ASSERT_EQ(text.at(c.inserted), "   PARAM(:P_CDFILIAL)P_CDFILIAL");
            text.removeAt(c.inserted);
        }
        ASSERT_EQ(text.size(), c.base.size());
        for (int i = 0; i < text.size(); ++i) {
            const auto own = c.own.find(i);
            EXPECT_EQ(text[i], own == c.own.end() ? c.base[i] : own->second) << "line " << i + 1;
        }
    }
    // The registration texts share their seven column lines and then part.
    const QStringList oracle = sql::inscrEstadOracle();
    for (const QStringList& t : {sql::inscrEstadMSSQL(), sql::inscrEstadSQLite()}) {
        ASSERT_EQ(t.size(), 18);
        EXPECT_EQ(t.mid(0, 7), oracle.mid(0, 7));
        EXPECT_EQ(t.last(), "ORDER BY 1");
    }
    EXPECT_EQ(oracle.size(), 18);
    EXPECT_EQ(oracle[8], "   EMPRESA E, MUNICIPIO MI, INSCRESTAD I, ESTADO ES");
    EXPECT_EQ(sql::inscrEstadMSSQL()[7], "FROM EMPRESA E, INSCRESTAD I LEFT JOIN MUNICIPIO MI");
}

// --- one suite per database -------------------------------------------------------------

enum class Backend { SQLite, PostgreSQL, Firebird };

const char* const kSchema[] = {
    "CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY, NMEMPRESA VARCHAR(40), NMRAZSOCEMPR VARCHAR(80))",
    "CREATE TABLE FILIAL (CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, NMFILIAL VARCHAR(30), CDEMPRESA VARCHAR(2),"
    " CDINSCESTA VARCHAR(16), CDSERIE VARCHAR(5))",
    "CREATE TABLE MUNICIPIO (CDPAIS VARCHAR(4), SGESTADO VARCHAR(2), CDMUNICIPIO VARCHAR(4), NMMUNICIPIO VARCHAR(30))",
    "CREATE TABLE ESTADO (CDPAIS VARCHAR(4), SGESTADO VARCHAR(2), CDESTADOIBGE VARCHAR(2))",
    "CREATE TABLE INSCRESTAD (CDEMPRESA VARCHAR(2), CDINSCESTA VARCHAR(16), NMREPRINSEST VARCHAR(40),"
    " IDTPIJURIEST VARCHAR(1), NRINSJURIEST VARCHAR(20), SGESTADO VARCHAR(2), NRCEPIEST VARCHAR(15),"
    " DSENDEIEST VARCHAR(50), NMBAIRIEST VARCHAR(30), NRTELEIEST VARCHAR(25), NRFAXIEST VARCHAR(25),"
    " CDPAIS VARCHAR(4), CDMUNICIPIO VARCHAR(4), IDTPAMBIENTENFE VARCHAR(1), NRSERIECERTIFIC VARCHAR(50))",
    "CREATE TABLE ROTATRANS (CDROTATRANS VARCHAR(6), NMROTATRANS VARCHAR(40))",
};

const char* const kData[] = {
    "INSERT INTO EMPRESA VALUES ('01', 'Empresa Um', 'Empresa Um Comércio Ltda')",
    "INSERT INTO EMPRESA VALUES ('02', 'Empresa Dois', 'Empresa Dois Distribuição S/A')",
    "INSERT INTO FILIAL VALUES ('0002', 'Filial Campinas', '01', 'IE-B', '2')",
    "INSERT INTO FILIAL VALUES ('0001', 'Matriz', '01', 'IE-A', '1')",
    "INSERT INTO FILIAL VALUES ('0003', 'Filial Recife', '02', 'IE-A', NULL)",
    "INSERT INTO FILIAL VALUES ('0004', 'Sem empresa', '99', NULL, NULL)",
    "INSERT INTO MUNICIPIO VALUES ('1058', 'SP', '0001', 'São Paulo')",
    "INSERT INTO MUNICIPIO VALUES ('1058', 'PE', '0001', 'Recife')",
    "INSERT INTO ESTADO VALUES ('1058', 'SP', '35')",
    "INSERT INTO ESTADO VALUES ('1058', 'PE', '26')",
    "INSERT INTO ESTADO VALUES ('0999', 'SP', '99')",
    "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NMREPRINSEST, SGESTADO, CDPAIS, CDMUNICIPIO, IDTPAMBIENTENFE,"
    " NRSERIECERTIFIC) VALUES ('01', 'IE-A', 'Rep Um', 'SP', '1058', '0001', '1', 'CERT-01')",
    "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NMREPRINSEST, SGESTADO, CDPAIS, CDMUNICIPIO, IDTPAMBIENTENFE,"
    " NRSERIECERTIFIC) VALUES ('02', 'IE-A', 'Rep Dois', 'PE', '1058', '0001', '2', 'CERT-02')",
    "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NMREPRINSEST, SGESTADO, CDPAIS, CDMUNICIPIO, IDTPAMBIENTENFE,"
    " NRSERIECERTIFIC) VALUES ('01', 'IE-B', 'Rep Sem Município', 'SP', '1058', '0777', '1', 'CERT-03')",
    "INSERT INTO ROTATRANS VALUES ('000002', 'Litoral')",
    "INSERT INTO ROTATRANS VALUES ('000001', 'Capital')",
};

std::string backendName(const ::testing::TestParamInfo<Backend>& i)
{
    switch (i.param) {
    case Backend::SQLite: return "SQLite";
    case Backend::PostgreSQL: return "PostgreSQL";
    case Backend::Firebird: return "Firebird";
    }
    return "x";
}

class HostQueryTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        conn_ = QStringLiteral("net_query_%1").arg(int(GetParam()));
        switch (GetParam()) {
        case Backend::SQLite: openSQLite(); break;
        case Backend::PostgreSQL: openPostgres(); break;
        case Backend::Firebird: openFirebird(); break;
        }
        if (IsSkipped() || HasFatalFailure())
            return;
        for (const char* s : kSchema)
            exec(s);
        for (const char* s : kData)
            exec(s);
    }

    void TearDown() override
    {
        {
            QSqlDatabase db = QSqlDatabase::database(conn_, false);
            if (db.isOpen() && GetParam() == Backend::PostgreSQL)
                QSqlQuery(db).exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(pgSchema_));
            db.close();
        }
        QSqlDatabase::removeDatabase(conn_);
    }

    void exec(const QString& sql)
    {
        QSqlQuery q(QSqlDatabase::database(conn_));
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }

    /// A lookup on this test's database with the fields the screens declare.
    std::unique_ptr<TADOIBQuery> filial()
    {
        auto q = std::make_unique<TADOIBQuery>(QStringLiteral("qryFilial"));
        q->addField(core::FieldDef{"CDFILIAL", core::FieldType::String, 4, false, true}, "Código");
        q->addString("NMFILIAL", 30, "Nome");
        q->addString("CDEMPRESA", 2, {}, false);
        q->addString("CDINSCESTA", 16, {}, false);
        q->addString("NMEMPRESA", 40, {}, false);
        q->addString("NMRAZSOCEMPR", 80, {}, false);
        q->addString("CDSERIE", 5, "Série Padrão");
        contracts::sql::applyFilial(*q);
        q->setConnectionName(conn_);
        return q;
    }

    std::unique_ptr<TADOIBQuery> inscrEstad()
    {
        auto q = std::make_unique<TADOIBQuery>(QStringLiteral("qryInscrEstad"));
        const std::pair<const char*, int> fields[] = {
            {"CDINSCESTA", 16},   {"NMREPRINSEST", 40}, {"NMMUNICIPIO", 30},    {"IDTPIJURIEST", 1},
            {"NRINSJURIEST", 20}, {"SGESTADO", 2},      {"NRCEPIEST", 15},      {"DSENDEIEST", 50},
            {"NMBAIRIEST", 30},   {"NRTELEIEST", 25},   {"NRFAXIEST", 25},      {"CDPAIS", 4},
            {"CDMUNICIPIO", 4},   {"NMRAZSOCEMPR", 80}, {"IDTPAMBIENTENFE", 1}, {"NRSERIECERTIFIC", 50},
            {"CDESTADOIBGE", 2}};
        for (const auto& [name, size] : fields)
            q->addString(QString::fromLatin1(name), size);
        contracts::sql::applyInscrEstad(*q);
        q->setConnectionName(conn_);
        return q;
    }

    static QStringList column(TADOIBQuery& q, const char* field)
    {
        QStringList out;
        for (q.first(); !q.eof(); q.next())
            out << (q.fieldByName(QString::fromLatin1(field)).isNull()
                        ? QStringLiteral("<null>")
                        : q.fieldByName(QString::fromLatin1(field)).asString());
        return out;
    }

    /// "FROM ..." that yields one row in this database.
    QString oneRow() const
    {
        return GetParam() == Backend::Firebird ? QStringLiteral(" FROM RDB$DATABASE") : QString();
    }

    QString conn_;

private:
    void openSQLite()
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), conn_);
        db.setDatabaseName(QStringLiteral(":memory:"));
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
    }

    void openPostgres()
    {
        const QString connInfo = qEnvironmentVariable("EXP_TEST_PG");
        if (connInfo.isEmpty())
            GTEST_SKIP() << "EXP_TEST_PG not set (no throw-away PostgreSQL)";
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            GTEST_SKIP() << "QPSQL driver missing";
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), conn_);
        for (const QString& part : connInfo.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString k = part.section(QLatin1Char('='), 0, 0);
            const QString v = part.section(QLatin1Char('='), 1);
            if (k == QLatin1String("host"))
                db.setHostName(v);
            else if (k == QLatin1String("port"))
                db.setPort(v.toInt());
            else if (k == QLatin1String("user"))
                db.setUserName(v);
            else if (k == QLatin1String("password"))
                db.setPassword(v);
            else if (k == QLatin1String("dbname"))
                db.setDatabaseName(v);
        }
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        // A schema of our own: other suites share the database.
        pgSchema_ = QStringLiteral("net_query_%1").arg(QCoreApplication::applicationPid());
        exec(QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(pgSchema_));
        exec(QStringLiteral("CREATE SCHEMA %1").arg(pgSchema_));
        exec(QStringLiteral("SET search_path TO %1").arg(pgSchema_));
    }

    void openFirebird()
    {
        const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
        if (isql.isEmpty() || !QSqlDatabase::isDriverAvailable(QStringLiteral("QIBASE")))
            GTEST_SKIP() << "isql-fb or the QIBASE driver missing";
        fbDir_ = std::make_unique<QTemporaryDir>();
        const QString file = fbDir_->filePath(QStringLiteral("host.fdb"));
        QProcess p;
        p.start(isql, {QStringLiteral("-q")});
        p.write(QStringLiteral("CREATE DATABASE '%1' USER 'SYSDBA' PASSWORD 'x' DEFAULT CHARACTER SET UTF8;\n")
                    .arg(file)
                    .toUtf8());
        p.closeWriteChannel();
        if (!p.waitForFinished(30000) || p.exitCode() != 0)
            GTEST_SKIP() << "embedded Firebird unusable: " << p.readAllStandardError().toStdString();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), conn_);
        db.setDatabaseName(file);
        db.setUserName(QStringLiteral("SYSDBA"));
        db.setPassword(QStringLiteral("x"));
        db.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        core::TDtmDBGeral::installFirebirdSupport(conn_);
    }

    QString pgSchema_;
    std::unique_ptr<QTemporaryDir> fbDir_;
};

TEST_P(HostQueryTest, TheTextOfTheDriverInUseRuns)
{
    TADOIBQuery q;
    q.setConnectionName(conn_);
    q.SQL = QStringList{"SELECT 'geral' AS QUAL" + oneRow()};
    q.SQL_SQLITE = QStringList{"SELECT 'sqlite' AS QUAL"};
    q.SQL_PG = QStringList{"SELECT 'pg' AS QUAL"};
    q.SQL_IB = QStringList{"SELECT 'ib' AS QUAL" + oneRow()};
    q.SQL_ORACLE = QStringList{"SELECT 'oracle' AS QUAL FROM DUAL"};
    q.Open();
    const char* expected[] = {"sqlite", "pg", "ib"};
    EXPECT_EQ(q.fieldByName("QUAL").asString(), QString::fromLatin1(expected[int(GetParam())]));

    const QString saved = core::TDtmDBGeral::connectionName();
    core::TDtmDBGeral::setConnectionName(conn_);
    const SqlDialect dialects[] = {SqlDialect::SQLite, SqlDialect::PostgreSQL, SqlDialect::InterBase};
    EXPECT_EQ(core::TDtmDBGeral::dialect(), dialects[int(GetParam())]);
    core::TDtmDBGeral::setConnectionName(saved);
}

TEST_P(HostQueryTest, FilialWithNullParameterListsEveryBranchWithACompany)
{
    auto q = filial();
    q->ParamByName("P_CDFILIAL", Variant());
    q->Open();
    EXPECT_EQ(column(*q, "CDFILIAL"), (QStringList{"0001", "0002", "0003"}));
    EXPECT_EQ(column(*q, "NMEMPRESA"), (QStringList{"Empresa Um", "Empresa Um", "Empresa Dois"}));
    EXPECT_EQ(column(*q, "CDSERIE"), (QStringList{"1", "2", "<null>"}));
    EXPECT_EQ(column(*q, "NMRAZSOCEMPR").last(), QStringLiteral("Empresa Dois Distribuição S/A"));
}

TEST_P(HostQueryTest, FilialWithParameterSelectsThatBranchOnly)
{
    auto q = filial();
    q->ParamByName("p_cdfilial", QStringLiteral("0002"));
    q->Open();
    EXPECT_EQ(column(*q, "NMFILIAL"), (QStringList{"Filial Campinas"}));

    q->ParamByName("P_CDFILIAL", QStringLiteral("0009"));
    q->Open();
    EXPECT_TRUE(q->IsEmpty());
    EXPECT_TRUE(q->active());

    q->ParamByName("P_CDFILIAL", QStringLiteral("0004")); // its company does not exist
    q->Open();
    EXPECT_TRUE(q->IsEmpty());
}

TEST_P(HostQueryTest, InscrEstadBindsTheCompanyToBothOccurrences)
{
    auto q = inscrEstad();
    q->ParamByName("P_CDEMPRESA", QStringLiteral("02"));
    q->ParamByName("P_CDINSCESTA", QStringLiteral("IE-A"));
    q->Open();
    ASSERT_EQ(q->recordCount(), 1) << "the same registration of another company must not come along";
    EXPECT_EQ(q->fieldByName("NMREPRINSEST").asString(), QStringLiteral("Rep Dois"));
    EXPECT_EQ(q->fieldByName("NMRAZSOCEMPR").asString(), QStringLiteral("Empresa Dois Distribuição S/A"));
    EXPECT_EQ(q->fieldByName("NMMUNICIPIO").asString(), QStringLiteral("Recife"));
    EXPECT_EQ(q->fieldByName("CDESTADOIBGE").asString(), QStringLiteral("26"));
    EXPECT_EQ(q->fieldByName("IDTPAMBIENTENFE").asString(), QStringLiteral("2"));

    // No municipality: the registration still comes, with the name empty; the
    // state joins on country and code, so the foreign "SP" adds no row.
    q->ParamByName("P_CDEMPRESA", QStringLiteral("01"));
    q->ParamByName("P_CDINSCESTA", QStringLiteral("IE-B"));
    q->Open();
    ASSERT_EQ(q->recordCount(), 1);
    EXPECT_TRUE(q->fieldByName("NMMUNICIPIO").isNull());
    EXPECT_EQ(q->fieldByName("CDESTADOIBGE").asString(), QStringLiteral("35"));

    q->ParamByName("P_CDINSCESTA", QStringLiteral("IE-C"));
    q->Open();
    EXPECT_TRUE(q->IsEmpty());
}

TEST_P(HostQueryTest, RotaWithoutDeclaredFieldsTakesTheResultColumns)
{
    TADOIBQuery q(QStringLiteral("qryRota"));
    contracts::sql::applyRota(q);
    q.setConnectionName(conn_);
    q.Open();
    ASSERT_EQ(q.fieldCount(), 2);
    EXPECT_EQ(q.field(0).fieldName(), QStringLiteral("CDROTATRANS"));
    EXPECT_EQ(column(q, "CDROTATRANS"), (QStringList{"000001", "000002"}));
    EXPECT_EQ(column(q, "NMROTATRANS"), (QStringList{"Capital", "Litoral"}));
    q.Close();
    EXPECT_FALSE(q.active());
}

TEST_P(HostQueryTest, DriverErrorsSurfaceAsErrorAndLeaveTheQueryClosed)
{
    auto q = filial();
    q->ParamByName("P_CDFILIAL", Variant());
    q->Open();
    ASSERT_FALSE(q->IsEmpty());

    q->SQL = q->SQL_SQLITE = q->SQL_PG = q->SQL_IB = QStringList{"SELECT CDFILIAL FROM TABELA_QUE_NAO_EXISTE"};
    try {
        q->Open();
        FAIL() << "the query must fail";
    } catch (const core::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("qryFilial"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("TABELA_QUE_NAO_EXISTE"), Qt::CaseInsensitive)) << e.what();
    }
    EXPECT_FALSE(q->active());
    EXPECT_TRUE(q->IsEmpty());

    // A result that lacks a declared field is refused the same way.
    q->SQL = q->SQL_SQLITE = q->SQL_PG = q->SQL_IB = QStringList{"SELECT CDFILIAL FROM FILIAL"};
    EXPECT_THROW(q->Open(), core::Error);
    EXPECT_FALSE(q->active());
}

INSTANTIATE_TEST_SUITE_P(Databases, HostQueryTest,
                         ::testing::Values(Backend::SQLite, Backend::PostgreSQL, Backend::Firebird), backendName);

// --- SQLite specifics ---------------------------------------------------------------------

class SQLiteQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), conn_);
        db.setDatabaseName(QStringLiteral(":memory:"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE LANCTO (NR VARCHAR(10), DT DATE, VR NUMERIC(12,2), QT INTEGER)"));
    }
    void TearDown() override
    {
        QSqlDatabase::database(conn_, false).close();
        QSqlDatabase::removeDatabase(conn_);
    }
    void insert(const QString& values)
    {
        QSqlQuery q(QSqlDatabase::database(conn_));
        ASSERT_TRUE(q.exec("INSERT INTO LANCTO VALUES (" + values + ")")) << q.lastError().text().toStdString();
    }
    std::unique_ptr<TADOIBQuery> query()
    {
        auto q = std::make_unique<TADOIBQuery>(QStringLiteral("qryLancto"));
        q->addString("NR", 10);
        q->addDateTime("DT");
        q->addFloat("VR");
        q->addInteger("QT");
        q->SQL = QStringList{"SELECT NR, DT, VR, QT FROM LANCTO ORDER BY NR"};
        q->setConnectionName(conn_);
        return q;
    }
    const QString conn_ = QStringLiteral("net_sqlite_dates");
};

TEST_F(SQLiteQueryTest, DatesStoredAsTextBecomeDates)
{
    insert("'1', '2026-01-31', 10.5, 3");
    insert("'2', '2026-01-31 12:00:00', NULL, NULL");
    insert("'3', '2026-01-31T06:00:00', 1, 1");
    auto q = query();
    q->Open();
    const double day = core::Date::fromQDate(QDate(2026, 1, 31)).days;
    EXPECT_DOUBLE_EQ(q->fieldByName("DT").asDateTime().days, day);
    EXPECT_DOUBLE_EQ(q->fieldByName("VR").asFloat(), 10.5);
    EXPECT_EQ(q->fieldByName("QT").asInteger(), 3);
    q->next();
    EXPECT_DOUBLE_EQ(q->fieldByName("DT").asDateTime().days, day + 0.5);
    EXPECT_TRUE(q->fieldByName("VR").isNull());
    q->next();
    EXPECT_DOUBLE_EQ(q->fieldByName("DT").asDateTime().days, day + 0.25);
}

TEST_F(SQLiteQueryTest, AValueThatDoesNotFitItsFieldIsRefusedWhole)
{
    insert("'1', '2026-01-31', 1, 1");
    insert("'2', '31/02/2026', 1, 1");
    auto q = query();
    try {
        q->Open();
        FAIL();
    } catch (const core::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("DT"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("31/02/2026"))) << e.what();
    }
    EXPECT_FALSE(q->active());
}

TEST_F(SQLiteQueryTest, ClosedOrMissingConnectionIsAClearError)
{
    TADOIBQuery q(QStringLiteral("qryX"));
    q.SQL = QStringList{"SELECT 1"};
    q.setConnectionName(QStringLiteral("conexao_que_nao_existe"));
    EXPECT_THROW(q.Open(), core::Error);
    q.setConnectionName(conn_);
    q.SQL.clear();
    EXPECT_THROW(q.Open(), core::Error);
}

} // namespace
