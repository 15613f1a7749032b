#include "schema.h"

#include "quantity.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QStringList>

namespace server {

namespace {

// Version 1. "%SERIAL%" and "%FLOAT%" stand for the dialect's types.
const char* const kTablesV1[] = {
    // Host tables (the screen's own SQL reads them by these names and columns).
    R"(CREATE TABLE EMPRESA (
        CDEMPRESA VARCHAR(2) NOT NULL PRIMARY KEY,
        NMEMPRESA VARCHAR(40), NMRAZSOCEMPR VARCHAR(80)))",
    R"(CREATE TABLE FILIAL (
        CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY,
        NMFILIAL VARCHAR(30), CDEMPRESA VARCHAR(2) NOT NULL REFERENCES EMPRESA(CDEMPRESA),
        CDINSCESTA VARCHAR(16), CDSERIE VARCHAR(5)))",
    R"(CREATE TABLE ROTATRANS (
        CDROTATRANS VARCHAR(6) NOT NULL PRIMARY KEY, NMROTATRANS VARCHAR(40)))",
    R"(CREATE TABLE ESTADO (
        CDPAIS VARCHAR(4) NOT NULL, SGESTADO VARCHAR(2) NOT NULL, CDESTADOIBGE VARCHAR(2),
        NMESTADO VARCHAR(40), PRIMARY KEY (CDPAIS, SGESTADO)))",
    R"(CREATE TABLE MUNICIPIO (
        CDPAIS VARCHAR(4) NOT NULL, SGESTADO VARCHAR(2) NOT NULL, CDMUNICIPIO VARCHAR(4) NOT NULL,
        NMMUNICIPIO VARCHAR(30), PRIMARY KEY (CDPAIS, SGESTADO, CDMUNICIPIO)))",
    R"(CREATE TABLE INSCRESTAD (
        CDEMPRESA VARCHAR(2) NOT NULL, CDINSCESTA VARCHAR(16) NOT NULL,
        NMREPRINSEST VARCHAR(40), IDTPIJURIEST VARCHAR(1), NRINSJURIEST VARCHAR(20),
        SGESTADO VARCHAR(2), NRCEPIEST VARCHAR(15), DSENDEIEST VARCHAR(50), NMBAIRIEST VARCHAR(30),
        NRTELEIEST VARCHAR(25), NRFAXIEST VARCHAR(25), CDPAIS VARCHAR(4), CDMUNICIPIO VARCHAR(4),
        IDTPAMBIENTENFE VARCHAR(1), NRSERIECERTIFIC VARCHAR(50),
        PRIMARY KEY (CDEMPRESA, CDINSCESTA)))",
    // Application tables.
    R"(CREATE TABLE PARAMEXPED (
        CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY,
        IDGERPRODEST VARCHAR(1), IDREPLITRANS VARCHAR(1), IDTPEXPPEDIDO VARCHAR(3)))",
    R"(CREATE TABLE EXPEDICAO (
        CDFILIAL VARCHAR(4) NOT NULL, NREXPEDICAO VARCHAR(10) NOT NULL,
        CDVIATURA VARCHAR(4), NRPLACA VARCHAR(8), CDROTATRANS VARCHAR(6), DTEXPEDICAO INTEGER,
        PRIMARY KEY (CDFILIAL, NREXPEDICAO)))",
    R"(CREATE TABLE GRADEPED (
        CDFILIAL VARCHAR(4) NOT NULL, NRGRADEPED VARCHAR(40) NOT NULL, DTGRADE INTEGER NOT NULL,
        PRIMARY KEY (CDFILIAL, NRGRADEPED)))",
    R"(CREATE TABLE LANCTONF (
        CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,
        DTENTRSAID INTEGER NOT NULL, NREXPEDICAO VARCHAR(10), NRLANCESTQ VARCHAR(10),
        CDCLIENTE VARCHAR(21), NMRAZSOCCLIE VARCHAR(50), NRNOTAFISC VARCHAR(20), DTEMISSAO INTEGER,
        IDSISTEMA VARCHAR(3), NMFANTCLIE VARCHAR(50), IDSTATUS VARCHAR(1) NOT NULL,
        IDSTATUSNFE VARCHAR(1), CDFILIEMIT VARCHAR(4), NRACESSONFE VARCHAR(50), CDEMPRESA VARCHAR(2),
        IDTIPOEMISNFE VARCHAR(1), CDINSCESTA VARCHAR(16), CDROTATRANS VARCHAR(6), NRGRADEPED VARCHAR(40),
        NRVERSAO INTEGER NOT NULL DEFAULT 1,
        PRIMARY KEY (CDFILIAL, NRLANCTONF)))",
    "CREATE INDEX LANCTONF_PERIODO ON LANCTONF (CDFILIAL, DTENTRSAID)",
    R"(CREATE TABLE ITLANCTONF (
        CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL, NRSEQITPROD VARCHAR(4) NOT NULL,
        CDARVPROD VARCHAR(20), CDPRODUTO VARCHAR(10) NOT NULL, NMPRODUTO VARCHAR(50),
        QTITEMPROD %FLOAT% NOT NULL, VRUNITITEM %FLOAT%, VRTOTAITEM %FLOAT%,
        CDFILIALPED VARCHAR(4), NRPEDIDO VARCHAR(10), NRITEMPED VARCHAR(10), CDFILIMOVI VARCHAR(4),
        CDALMOXARIFE VARCHAR(6), CDLOCALESTOQ VARCHAR(6), NRLOTEESTQ VARCHAR(20), NRSUBLOTE VARCHAR(4),
        CDPRODESTO VARCHAR(10), VRFATOCONV %FLOAT%, IDCANCELADO VARCHAR(1) NOT NULL DEFAULT 'N',
        PRIMARY KEY (CDFILIAL, NRLANCTONF, NRSEQITPROD)))",
    R"(CREATE TABLE ITLANCTOEST (
        CDFILIAL VARCHAR(4) NOT NULL, NRLANCESTQ VARCHAR(10) NOT NULL, NRSEQUITEM VARCHAR(4) NOT NULL,
        NRSEQITPROD VARCHAR(4), CDARVPROD VARCHAR(20), CDPRODUTO VARCHAR(10), NMPRODUTO VARCHAR(50),
        QTLANCTOEST %FLOAT% NOT NULL, VRUNILANCTO %FLOAT%, DTLANCMOVI INTEGER, VRTOTLANCTO %FLOAT%,
        IDTIPOMOVI VARCHAR(1), CDFILIMOVI VARCHAR(4), CDPRODMOVI VARCHAR(10), PRODMOVI VARCHAR(20),
        IDCANCELADO VARCHAR(1) NOT NULL DEFAULT 'N',
        PRIMARY KEY (CDFILIAL, NRLANCESTQ, NRSEQUITEM)))",
    R"(CREATE TABLE SALDOESTQ (
        CDFILIAL VARCHAR(4) NOT NULL, CDPRODUTO VARCHAR(10) NOT NULL, QTSALDO %FLOAT% NOT NULL,
        PRIMARY KEY (CDFILIAL, CDPRODUTO)))",
    R"(CREATE TABLE CONTAGERADA (
        CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,
        CDFILIALPAG VARCHAR(4), NRLANCTOPAG VARCHAR(10), NRSEQVENPAG VARCHAR(2), NRPARCELAPAG VARCHAR(2),
        CDFILIALREC VARCHAR(4), NRLANCTOREC VARCHAR(10), NRSEQVENREC VARCHAR(2), NRPARCELAREC VARCHAR(2),
        CDEMPRESA VARCHAR(2), NRLANCTBDOC VARCHAR(12),
        IDQUITADA VARCHAR(1) NOT NULL DEFAULT 'N', IDMAPAAPURADO VARCHAR(1) NOT NULL DEFAULT 'N'))",
    "CREATE INDEX CONTAGERADA_LANCTO ON CONTAGERADA (CDFILIAL, NRLANCTONF)",
    R"(CREATE TABLE DOCREPLIC (
        CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,
        CDFILIALREPLIC VARCHAR(4) NOT NULL, NRLANCTONFDEST VARCHAR(10) NOT NULL,
        CDSERIE VARCHAR(5), IDENTRSAIDOP VARCHAR(1), DESCOPER VARCHAR(100), TIPO VARCHAR(35),
        IDSTATUS VARCHAR(1) NOT NULL, IDCANCELADO VARCHAR(1) NOT NULL DEFAULT 'N',
        PRIMARY KEY (CDFILIALREPLIC, NRLANCTONFDEST)))",
    "CREATE INDEX DOCREPLIC_ORIGEM ON DOCREPLIC (CDFILIAL, NRLANCTONF)",
    R"(CREATE TABLE SITUACAONFE (
        NRACESSONFE VARCHAR(50) NOT NULL PRIMARY KEY,
        CDRETORNO INTEGER, DSMENSAGEM VARCHAR(200)))",
    R"(CREATE TABLE AUDITCANC (
        NRAUDITORIA %SERIAL%, DTHRREGISTRO VARCHAR(30) NOT NULL, CDOPERADOR VARCHAR(20),
        CDFILIPROC VARCHAR(4), CDFILIAL VARCHAR(4) NOT NULL, NRLANCTONF VARCHAR(10) NOT NULL,
        NRSEQITPROD VARCHAR(4), IDOPERACAO VARCHAR(20) NOT NULL, DSDETALHE VARCHAR(200)))",
    "CREATE INDEX AUDITCANC_LANCTO ON AUDITCANC (CDFILIAL, NRLANCTONF)",
};

// Version 2: operator accounts, the branches each may use ("*" for all),
// sessions (the digest of each token, never the token) and the caller's
// address in the audit.
const char* const kStepsV2[] = {
    R"(CREATE TABLE OPERADOR (
        CDOPERADOR VARCHAR(20) NOT NULL PRIMARY KEY, NMOPERADOR VARCHAR(60),
        DSSENHAHASH VARCHAR(200) NOT NULL, IDATIVO VARCHAR(1) NOT NULL DEFAULT 'S'))",
    R"(CREATE TABLE OPERFILIAL (
        CDOPERADOR VARCHAR(20) NOT NULL REFERENCES OPERADOR(CDOPERADOR), CDFILIAL VARCHAR(4) NOT NULL,
        PRIMARY KEY (CDOPERADOR, CDFILIAL)))",
    R"(CREATE TABLE SESSAO (
        CDSESSAO VARCHAR(64) NOT NULL PRIMARY KEY, CDOPERADOR VARCHAR(20) NOT NULL,
        DTHREXPIRA BIGINT NOT NULL, DTHRCRIACAO VARCHAR(30), DSENDERECO VARCHAR(64)))",
    "CREATE INDEX SESSAO_OPERADOR ON SESSAO (CDOPERADOR)",
    "ALTER TABLE AUDITCANC ADD COLUMN DSENDERECO VARCHAR(64)",
};

// Version 4: an operator created with a first password (operator import)
// must change it before anything else; the flag is cleared with the change.
const char* const kStepsV4[] = {
    "ALTER TABLE OPERADOR ADD COLUMN IDTROCARSENHA VARCHAR(1) NOT NULL DEFAULT 'N'",
};

constexpr int kLookupTableCount = 6; ///< the first entries of kTablesV1

void recordVersion(QSqlDatabase& conn, int version)
{
    QSqlQuery q = prepare(conn, "INSERT INTO SCHEMA_VERSAO (NRVERSAO, DTHRAPLICADA) VALUES (?, ?)");
    q.addBindValue(version);
    q.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    exec(q);
}

QString dialectSql(const Database& db, QString sql)
{
    if (db.dialect() == Dialect::Sqlite) {
        sql.replace("%SERIAL%", "INTEGER PRIMARY KEY AUTOINCREMENT");
        sql.replace("%FLOAT%", "REAL");
    } else {
        sql.replace("%SERIAL%", "BIGSERIAL PRIMARY KEY");
        sql.replace("%FLOAT%", "DOUBLE PRECISION");
    }
    return sql;
}

// Version 3: exact quantities. The stock quantity columns become
// NUMERIC(18,5) on PostgreSQL and whole hundred-thousandths on SQLite (an
// INTEGER that must hold an integer), rounded to five decimals; a balance can
// no longer be negative. A balance that is negative beyond rounding stops the
// migration: it is wrong stock that someone must look at, not something to
// round away.
struct QtyTable {
    const char* table;
    QStringList quantities;
    const char* check; ///< extra table constraint, or nullptr
};
const QtyTable kQtyTablesV2[] = {
    {"ITLANCTONF", {"QTITEMPROD"}, nullptr},
    {"ITLANCTOEST", {"QTLANCTOEST"}, nullptr},
    {"SALDOESTQ", {"QTSALDO"}, "CHECK (QTSALDO >= 0)"},
};

void refuseNegativeBalances(QSqlDatabase& conn)
{
    QSqlQuery q = prepare(conn,
                          "SELECT CDFILIAL, CDPRODUTO, QTSALDO FROM SALDOESTQ WHERE QTSALDO <= -0.000005 "
                          "ORDER BY CDFILIAL, CDPRODUTO");
    exec(q);
    QStringList wrong;
    while (q.next())
        wrong << QString("%1/%2 = %3").arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    if (!wrong.isEmpty())
        throw InternalError(
            QString("Saldos de estoque negativos impedem a conversão para quantidades exatas (%1 saldo(s): %2). "
                    "Corrija-os e inicie o servidor de novo.")
                .arg(wrong.size())
                .arg(wrong.mid(0, 10).join(", ") + (wrong.size() > 10 ? ", ..." : "")));
}

void exactQuantities(Database& db, QSqlDatabase& conn)
{
    refuseNegativeBalances(conn);
    for (const QtyTable& t : kQtyTablesV2) {
        if (!db.isSqlite()) {
            for (const QString& col : t.quantities)
                execDirect(conn,
                           QString("ALTER TABLE %1 ALTER COLUMN %2 TYPE NUMERIC(18,%3) USING ROUND(%2::NUMERIC, %3)")
                               .arg(t.table, col)
                               .arg(Quantity::kScale));
            if (t.check)
                execDirect(conn, QString("ALTER TABLE %1 ADD CONSTRAINT %1_QTD_CHECK %2").arg(t.table, t.check));
            continue;
        }
        // SQLite cannot change a column's type: the table is built again
        // from its own definition, with the quantity columns replaced.
        QSqlQuery ddl = prepare(conn, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
        ddl.addBindValue(QString(t.table));
        exec(ddl);
        if (!ddl.next())
            throw InternalError(QString("Tabela %1 não encontrada.").arg(t.table));
        QString create = ddl.value(0).toString();
        ddl.finish(); // an open statement would keep SQLite from dropping the table
        QStringList columns, select;
        {
            QSqlQuery info(conn);
            if (!info.exec(QString("PRAGMA table_info(%1)").arg(t.table)))
                throw InternalError(QString("Colunas da tabela %1 ilegíveis.").arg(t.table));
            while (info.next()) {
                const QString col = info.value(1).toString();
                columns << col;
                select << (t.quantities.contains(col, Qt::CaseInsensitive)
                               ? QString("CAST(ROUND(%1 * %2) AS INTEGER)").arg(col).arg(Quantity::kOne)
                               : col);
            }
        }
        for (const QString& col : t.quantities) {
            const QString checks = QString("%1 INTEGER NOT NULL CHECK (typeof(%1) = 'integer')").arg(col);
            const qsizetype at = create.indexOf(col + " REAL NOT NULL");
            if (at < 0)
                throw InternalError(QString("Coluna %1.%2 não está na forma esperada.").arg(t.table, col));
            create.replace(at, col.size() + 14, checks);
        }
        if (t.check)
            create.insert(create.lastIndexOf(')'), QString(", %1").arg(t.check));
        create.replace(QString("CREATE TABLE %1").arg(t.table), QString("CREATE TABLE %1_V2").arg(t.table));
        execDirect(conn, create);
        execDirect(
            conn,
            QString("INSERT INTO %1_V2 (%2) SELECT %3 FROM %1").arg(t.table, columns.join(", "), select.join(", ")));
        execDirect(conn, QString("DROP TABLE %1").arg(t.table));
        execDirect(conn, QString("ALTER TABLE %1_V2 RENAME TO %1").arg(t.table));
    }
}

int currentVersion(QSqlDatabase& conn)
{
    QSqlQuery q = prepare(conn, "SELECT MAX(NRVERSAO) FROM SCHEMA_VERSAO");
    exec(q);
    return q.next() ? q.value(0).toInt() : 0;
}

} // namespace

int migrateSchema(Database& db, int target)
{
    QSqlDatabase conn = db.connection();
    Transaction tx(db, conn);
    // Several servers starting at once against one PostgreSQL: one migrates,
    // the others wait here and then find the work done.
    if (!db.isSqlite())
        execDirect(conn, "SELECT pg_advisory_xact_lock(82110001)");
    execDirect(
        conn,
        "CREATE TABLE IF NOT EXISTS SCHEMA_VERSAO (NRVERSAO INTEGER NOT NULL PRIMARY KEY, DTHRAPLICADA VARCHAR(30))");
    const int found = currentVersion(conn);
    if (found > kSchemaVersion)
        throw InternalError(
            QString("O banco de dados está na versão %1 do esquema; este servidor conhece até a versão %2.")
                .arg(found)
                .arg(kSchemaVersion));
    if (found < 1 && target >= 1) {
        for (const char* ddl : kTablesV1)
            execDirect(conn, dialectSql(db, ddl));
        recordVersion(conn, 1);
    }
    if (found < 2 && target >= 2) {
        for (const char* ddl : kStepsV2)
            execDirect(conn, dialectSql(db, ddl));
        recordVersion(conn, 2);
    }
    if (found < 3 && target >= 3) {
        exactQuantities(db, conn);
        recordVersion(conn, 3);
    }
    if (found < 4 && target >= 4) {
        for (const char* ddl : kStepsV4)
            execDirect(conn, ddl);
        recordVersion(conn, 4);
    }
    // Later versions add their steps here, each guarded by "found < N && target >= N".
    tx.commit();
    return found;
}

QStringList lookupTables()
{
    QStringList out;
    for (int i = 0; i < kLookupTableCount; ++i)
        out << QString::fromLatin1(kTablesV1[i]).section(' ', 2, 2);
    return out;
}

QString lookupTableDdl(const QString& table)
{
    for (int i = 0; i < kLookupTableCount; ++i)
        if (QString::fromLatin1(kTablesV1[i]).section(' ', 2, 2) == table)
            return QString::fromLatin1(kTablesV1[i]);
    return {};
}

} // namespace server
