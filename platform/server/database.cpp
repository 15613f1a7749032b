#include "database.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QThread>

#include <sqlite3.h>

#include <map>
#include <mutex>

namespace server {

std::atomic<int> Database::nextId_{1};

DbConfig DbConfig::parse(const QString& text)
{
    DbConfig c;
    if (text.startsWith("postgres:")) {
        c.dialect = Dialect::Postgres;
        const QStringList parts = text.mid(9).split(' ', Qt::SkipEmptyParts);
        for (const QString& p : parts) {
            const int eq = p.indexOf('=');
            if (eq <= 0)
                throw core::Error(QString("Opção de conexão inválida: \"%1\" (esperado chave=valor).").arg(p));
            const QString k = p.left(eq).toLower(), v = p.mid(eq + 1);
            if (k == "host") c.host = v;
            else if (k == "port") {
                bool ok = false;
                c.port = v.toInt(&ok);
                if (!ok || c.port <= 0 || c.port > 65535)
                    throw core::Error(QString("Porta inválida: \"%1\".").arg(v));
            } else if (k == "user") c.user = v;
            else if (k == "password") c.password = v;
            else if (k == "dbname") c.dbName = v;
            else if (k == "schema") c.schema = v;
            else throw core::Error(QString("Opção de conexão desconhecida: \"%1\".").arg(k));
        }
        if (c.dbName.isEmpty())
            throw core::Error("Conexão PostgreSQL sem dbname.");
        for (QChar ch : c.schema)
            if (!(ch.isLetterOrNumber() || ch == '_'))
                throw core::Error(QString("Nome de schema inválido: \"%1\".").arg(c.schema));
        return c;
    }
    c.dialect = Dialect::Sqlite;
    c.sqlitePath = text.startsWith("sqlite:") ? text.mid(7) : text;
    if (c.sqlitePath.isEmpty())
        throw core::Error("Arquivo SQLite não informado.");
    return c;
}

QString DbConfig::describe() const
{
    if (dialect == Dialect::Sqlite)
        return "sqlite:" + sqlitePath;
    return QString("postgres:host=%1 port=%2 dbname=%3%4")
        .arg(host).arg(port).arg(dbName).arg(schema.isEmpty() ? QString() : " schema=" + schema);
}

namespace {
// Connections opened by this thread, removed when the thread ends.
struct ThreadConnections {
    std::map<int, QString> names;
    // Statements kept prepared, by connection name and SQL text.
    std::map<QString, std::map<QString, QSqlQuery>> statements;
    ~ThreadConnections()
    {
        statements.clear();  // before their connections go
        for (auto& [id, name] : names) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                if (db.isValid()) db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
};
thread_local ThreadConnections tlsConnections;
std::atomic<quint64> threadSerial{1};
thread_local quint64 tlsThreadSerial = threadSerial++;
} // namespace

namespace {
// By default SQLite keeps memory statistics under one process-wide mutex
// taken on every allocation and free; with several database threads each
// running statements, they queue there (seen as futex waits in sqlite3Malloc
// under 16 connections). Nothing here reads those statistics, so they are
// turned off, which SQLite accepts only before it starts (the first
// connection of the process): a process that opened SQLite earlier keeps
// them, and runs as before.
void quietSqliteAllocator()
{
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}
} // namespace

Database::Database(DbConfig cfg) : cfg_(std::move(cfg)), id_(nextId_++)
{
    if (cfg_.dialect == Dialect::Sqlite) quietSqliteAllocator();
}

Database::~Database()
{
    // The owning thread's connection goes with the object; connections of
    // worker threads go when those threads end.
    closeThreadConnection();
}

void Database::closeThreadConnection()
{
    auto it = tlsConnections.names.find(id_);
    if (it != tlsConnections.names.end()) {
        const QString name = it->second;
        tlsConnections.names.erase(it);
        tlsConnections.statements.erase(name);
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid()) db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

QSqlDatabase Database::connection()
{
    auto it = tlsConnections.names.find(id_);
    if (it != tlsConnections.names.end()) {
        QSqlDatabase db = QSqlDatabase::database(it->second, false);
        if (db.isOpen()) return db;
    }
    const QString name = QString("expsrv_%1_%2").arg(id_).arg(tlsThreadSerial);
    tlsConnections.statements.erase(name);  // kept statements of a connection that went away
    if (QSqlDatabase::contains(name)) QSqlDatabase::removeDatabase(name);
    QSqlDatabase db;
    if (cfg_.dialect == Dialect::Sqlite) {
        db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(cfg_.sqlitePath);
        db.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(cfg_.sqliteBusyMs));
    } else {
        db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName(cfg_.host);
        db.setPort(cfg_.port);
        db.setUserName(cfg_.user);
        db.setPassword(cfg_.password);
        db.setDatabaseName(cfg_.dbName);
        if (!cfg_.applicationName.isEmpty()) db.setConnectOptions("application_name=" + cfg_.applicationName);
    }
    if (!db.open()) {
        const QString err = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw InternalError("Não foi possível abrir o banco de dados do servidor de aplicação.",
                            QString("%1: %2").arg(cfg_.describe(), err));
    }
    tlsConnections.names[id_] = name;
    if (cfg_.dialect == Dialect::Sqlite) {
        execDirect(db, "PRAGMA journal_mode=WAL");
        execDirect(db, "PRAGMA synchronous=NORMAL");
        execDirect(db, "PRAGMA foreign_keys=ON");
    } else {
        execDirect(db, "SET client_min_messages TO WARNING");
    }
    if (cfg_.dialect == Dialect::Postgres && !cfg_.schema.isEmpty()) {
        execDirect(db, QString("CREATE SCHEMA IF NOT EXISTS %1").arg(cfg_.schema));
        execDirect(db, QString("SET search_path TO %1").arg(cfg_.schema));
    }
    return db;
}

bool isTransient(const QSqlError& e)
{
    const QString code = e.nativeErrorCode();
    if (code == "40001" || code == "40P01") return true;
    bool numeric = false;
    const int n = code.toInt(&numeric);
    return numeric && ((n & 0xff) == 5 || (n & 0xff) == 6);  // SQLITE_BUSY, SQLITE_LOCKED (extended codes too)
}

namespace {
// The caller learns that the database failed and its code; the statement
// and the driver's text go to the log through the detail.
[[noreturn]] void raise(const QSqlError& e, const QString& sql)
{
    const QString detail = QString("%1 [%2]").arg(e.text(), sql.simplified().left(300));
    const QString code = e.nativeErrorCode().isEmpty() ? QString() : QString(" (código %1)").arg(e.nativeErrorCode());
    if (isTransient(e))
        throw TransientError("O banco de dados está ocupado com outras operações" + code + ".", detail);
    throw InternalError("Erro no banco de dados" + code + "; nada foi gravado.", detail);
}

thread_local quint64 tlsCommits = 0;
} // namespace

QSqlQuery prepare(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) raise(q.lastError(), sql);
    return q;
}

QSqlQuery prepareKept(QSqlDatabase& db, const QString& sql)
{
    auto& kept = tlsConnections.statements[db.connectionName()];
    auto it = kept.find(sql);
    if (it == kept.end()) {
        if (kept.size() >= 32) kept.clear();
        it = kept.emplace(sql, prepare(db, sql)).first;
    }
    it->second.finish();  // a previous use that stopped early leaves no open read
    return it->second;
}

void exec(QSqlQuery& q)
{
    if (!q.exec()) raise(q.lastError(), q.lastQuery());
}

void execDirect(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) raise(q.lastError(), sql);
}

Transaction::Transaction(Database& db, QSqlDatabase& conn) : db_(db), conn_(conn)
{
    execDirect(conn_, db_.isSqlite() ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = true;
}

Transaction::~Transaction()
{
    if (open_) {
        QSqlQuery q(conn_);
        q.exec("ROLLBACK");
    }
}

void Transaction::commit()
{
    execDirect(conn_, "COMMIT");
    open_ = false;
    ++tlsCommits;
}

quint64 Transaction::committedOnThisThread()
{
    return tlsCommits;
}

} // namespace server
