#include "database.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QThread>

#include <sqlite3.h>

#include <map>
#include <vector>
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
            if (k == "host")
                c.host = v;
            else if (k == "port") {
                bool ok = false;
                c.port = v.toInt(&ok);
                if (!ok || c.port <= 0 || c.port > 65535)
                    throw core::Error(QString("Porta inválida: \"%1\".").arg(v));
            } else if (k == "user")
                c.user = v;
            else if (k == "password")
                c.password = v;
            else if (k == "dbname")
                c.dbName = v;
            else if (k == "schema")
                c.schema = v;
            else
                throw core::Error(QString("Opção de conexão desconhecida: \"%1\".").arg(k));
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
        .arg(host)
        .arg(port)
        .arg(dbName)
        .arg(schema.isEmpty() ? QString() : " schema=" + schema);
}

namespace {
// SQLite statements kept prepared on one connection (selectKept), finalized
// before the connection closes (SQLite will not close one with live statements).
struct RawStatements {
    std::map<QString, sqlite3_stmt*> bySql;
    RawStatements() = default;
    RawStatements(const RawStatements&) = delete;
    RawStatements& operator=(const RawStatements&) = delete;
    ~RawStatements()
    {
        for (auto& [sql, st] : bySql)
            sqlite3_finalize(st);
    }
};

// Connections opened by this thread, removed when the thread ends.
struct ThreadConnections {
    std::map<int, QString> names;
    // Statements kept prepared, by connection name and SQL text.
    std::map<QString, std::map<QString, QSqlQuery>> statements;
    std::map<QString, RawStatements> raw;
    void forget(const QString& name)
    {
        statements.erase(name);
        raw.erase(name);
    }
    ~ThreadConnections()
    {
        statements.clear(); // before their connections go
        raw.clear();
        for (auto& [id, name] : names) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                if (db.isValid())
                    db.close();
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
    if (cfg_.dialect == Dialect::Sqlite)
        quietSqliteAllocator();
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
        tlsConnections.forget(name);
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

QSqlDatabase Database::connection()
{
    auto it = tlsConnections.names.find(id_);
    if (it != tlsConnections.names.end()) {
        QSqlDatabase db = QSqlDatabase::database(it->second, false);
        if (db.isOpen())
            return db;
    }
    const QString name = QString("expsrv_%1_%2").arg(id_).arg(tlsThreadSerial);
    tlsConnections.forget(name); // kept statements of a connection that went away
    if (QSqlDatabase::contains(name))
        QSqlDatabase::removeDatabase(name);
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
        if (!cfg_.applicationName.isEmpty())
            db.setConnectOptions("application_name=" + cfg_.applicationName);
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
    if (code == "40001" || code == "40P01")
        return true;
    bool numeric = false;
    const int n = code.toInt(&numeric);
    return numeric && ((n & 0xff) == 5 || (n & 0xff) == 6); // SQLITE_BUSY, SQLITE_LOCKED (extended codes too)
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
    if (!q.prepare(sql))
        raise(q.lastError(), sql);
    return q;
}

QSqlQuery prepareKept(QSqlDatabase& db, const QString& sql)
{
    auto& kept = tlsConnections.statements[db.connectionName()];
    auto it = kept.find(sql);
    if (it == kept.end()) {
        if (kept.size() >= 32)
            kept.clear();
        it = kept.emplace(sql, prepare(db, sql)).first;
    }
    it->second.finish(); // a previous use that stopped early leaves no open read
    // A copy shares the kept prepared statement with the caller, which is
    // what keeping it is for; Qt marks that copy deprecated all the same.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return it->second;
    QT_WARNING_POP
}

namespace {

sqlite3* sqliteHandle(const QSqlDatabase& db)
{
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(h.constData());
}

// A failed SQLite call, told as raise() tells a QtSql error.
[[noreturn]] void raiseSqlite(sqlite3* h, int rc, const QString& sql)
{
    const QString detail = QString("%1 [%2]").arg(QString::fromUtf8(sqlite3_errmsg(h)), sql.simplified().left(300));
    const QString code = QString(" (código %1)").arg(rc);
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
        throw TransientError("O banco de dados está ocupado com outras operações" + code + ".", detail);
    throw InternalError("Erro no banco de dados" + code + "; nada foi gravado.", detail);
}

// Resets the statement (and its bindings) however the reading ends.
struct StatementUse {
    sqlite3_stmt* st;
    ~StatementUse()
    {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
};

void selectSqlite(QSqlDatabase& db, sqlite3* h, const QString& sql, const QVariantList& binds, int columns,
                  const std::function<void(const QVariant* cells)>& row)
{
    RawStatements& kept = tlsConnections.raw[db.connectionName()];
    auto it = kept.bySql.find(sql);
    if (it == kept.bySql.end()) {
        if (kept.bySql.size() >= 32) {
            for (auto& [text, old] : kept.bySql)
                sqlite3_finalize(old);
            kept.bySql.clear();
        }
        sqlite3_stmt* st = nullptr;
        const int rc = sqlite3_prepare_v2(h, sql.toUtf8().constData(), -1, &st, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(st);
            raiseSqlite(h, rc, sql);
        }
        if (sqlite3_column_count(st) != columns) {
            sqlite3_finalize(st);
            throw InternalError("Erro no banco de dados; nada foi gravado.", "colunas inesperadas [" + sql + "]");
        }
        it = kept.bySql.emplace(sql, st).first;
    }
    sqlite3_stmt* st = it->second;
    StatementUse use{st};
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& b = binds[i];
        int rc = SQLITE_OK;
        if (b.isNull()) {
            rc = sqlite3_bind_null(st, i + 1);
        } else if (b.typeId() == QMetaType::QString) {
            const QString& t = *static_cast<const QString*>(b.constData());
            rc = sqlite3_bind_text16(st, i + 1, t.utf16(), int(t.size() * 2), SQLITE_TRANSIENT);
        } else if (b.typeId() == QMetaType::Double) {
            rc = sqlite3_bind_double(st, i + 1, b.toDouble());
        } else if (b.typeId() == QMetaType::Int || b.typeId() == QMetaType::LongLong || b.typeId() == QMetaType::UInt) {
            rc = sqlite3_bind_int64(st, i + 1, b.toLongLong());
        } else {
            throw InternalError("Erro no banco de dados; nada foi gravado.",
                                QString("parâmetro %1 de tipo %2 [%3]").arg(i + 1).arg(b.typeName(), sql));
        }
        if (rc != SQLITE_OK)
            raiseSqlite(h, rc, sql);
    }
    // Each value as the QtSql driver makes it, so the rows read the same
    // either way.
    std::vector<QVariant> cells(static_cast<size_t>(columns));
    for (;;) {
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_DONE)
            return;
        if (rc != SQLITE_ROW)
            raiseSqlite(h, rc, sql);
        for (int i = 0; i < columns; ++i) {
            switch (sqlite3_column_type(st, i)) {
            case SQLITE_INTEGER: cells[size_t(i)] = QVariant(qlonglong(sqlite3_column_int64(st, i))); break;
            case SQLITE_FLOAT: cells[size_t(i)] = QVariant(sqlite3_column_double(st, i)); break;
            case SQLITE_NULL: cells[size_t(i)] = QVariant(QMetaType::fromType<QString>()); break;
            case SQLITE_BLOB:
                cells[size_t(i)] = QVariant(
                    QByteArray(static_cast<const char*>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i)));
                break;
            default: {
                const void* text = sqlite3_column_text16(st, i);
                cells[size_t(i)] =
                    QVariant(QString(static_cast<const QChar*>(text), sqlite3_column_bytes16(st, i) / 2));
            }
            }
        }
        row(cells.data());
    }
}

} // namespace

void selectKept(QSqlDatabase& db, const QString& sql, const QVariantList& binds, int columns,
                const std::function<void(const QVariant* cells)>& row)
{
    if (sqlite3* h = sqliteHandle(db))
        return selectSqlite(db, h, sql, binds, columns, row);
    QSqlQuery q = prepareKept(db, sql);
    for (const QVariant& b : binds)
        q.addBindValue(b);
    exec(q);
    std::vector<QVariant> cells(static_cast<size_t>(columns));
    while (q.next()) {
        for (int i = 0; i < columns; ++i)
            cells[size_t(i)] = q.value(i);
        row(cells.data());
    }
    if (q.lastError().isValid())
        raise(q.lastError(), sql);
    q.finish();
}

void exec(QSqlQuery& q)
{
    if (!q.exec())
        raise(q.lastError(), q.lastQuery());
}

void execDirect(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        raise(q.lastError(), sql);
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
