#pragma once
// Storage access for the application server: one configuration, one
// connection per worker thread, and a transaction guard that rolls back
// unless committed. SQLite (a file, WAL) is the default; PostgreSQL is chosen
// by a "postgres:" connection string.

#include <core/errors.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>

namespace server {

/// A failure of the server itself (database unreachable, SQL error): the
/// caller sees it as an internal error (HTTP 500), never as a refusal. The
/// message is for the caller and never holds SQL; the detail (driver text,
/// statement) is for the server's log only.
class InternalError : public core::Error {
public:
    explicit InternalError(QString message, QString detail = QString())
        : core::Error(std::move(message)), detail_(std::move(detail))
    { }
    const QString& detail() const { return detail_; }

private:
    QString detail_;
};

/// The database stayed busy through every run of a call (see RetryPolicy):
/// the caller is told so plainly (HTTP 503) and may try again.
class BusyError : public InternalError {
public:
    using InternalError::InternalError;
};

/// A failure that running the same transaction again may not meet:
/// PostgreSQL's serialisation failure (40001) or deadlock (40P01), SQLite's
/// busy or locked database. The registry runs the call again.
class TransientError : public InternalError {
public:
    using InternalError::InternalError;
};

enum class Dialect { Sqlite, Postgres };

struct DbConfig {
    Dialect dialect = Dialect::Sqlite;
    QString sqlitePath; ///< file name for SQLite
    QString host = "127.0.0.1";
    int port = 5432;
    QString user;
    QString password;
    QString dbName;
    QString schema;                            ///< optional PostgreSQL schema (search_path)
    QString applicationName = "exp_appserver"; ///< PostgreSQL: shown in pg_stat_activity
    int sqliteBusyMs = 5000;                   ///< SQLite: how long a writer waits for the lock before "busy"

    /// "sqlite:/path/file.db" or "postgres:host=... port=... user=... dbname=... [schema=...]".
    /// A bare path is taken as an SQLite file. Throws core::Error on a malformed string.
    static DbConfig parse(const QString& text);
    QString describe() const;
};

class Database {
public:
    explicit Database(DbConfig cfg);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const DbConfig& config() const { return cfg_; }
    Dialect dialect() const { return cfg_.dialect; }
    bool isSqlite() const { return cfg_.dialect == Dialect::Sqlite; }

    /// The calling thread's own open connection to this database (opened on
    /// first use, closed when the thread ends). Throws InternalError when the
    /// database cannot be opened.
    QSqlDatabase connection();
    /// Closes the calling thread's connection (start-up work done, say), so
    /// that only the serving threads hold connections.
    void closeThreadConnection();

private:
    DbConfig cfg_;
    int id_;
    static std::atomic<int> nextId_;
};

/// Prepares a statement on the thread's connection; throws InternalError.
QSqlQuery prepare(QSqlDatabase& db, const QString& sql);
/// The same, kept prepared on the thread's connection and handed out again
/// for the same text (the copy shares the statement). For statements whose
/// rows are read to the end before the next use of the same text on the
/// thread, never nested; call finish() after reading.
QSqlQuery prepareKept(QSqlDatabase& db, const QString& sql);
/// Runs a SELECT kept prepared on the thread's connection with `binds`
/// (strings, integers, doubles or nulls) and hands each row to `row` as the
/// `columns` values QtSql would give (a QVariant each: qint64, double,
/// QString, or null). On SQLite the statement runs through SQLite's own
/// interface, without QtSql's per-execution record and per-row results;
/// elsewhere through prepareKept. For small reads on the hot path; throws
/// as exec() does. `row` must not run another statement of the same text.
void selectKept(QSqlDatabase& db, const QString& sql, const QVariantList& binds, int columns,
                const std::function<void(const QVariant* cells)>& row);
/// Executes a prepared statement; throws InternalError with the driver text.
void exec(QSqlQuery& q);
/// Executes a statement without parameters.
void execDirect(QSqlDatabase& db, const QString& sql);

/// Whether a database error is worth running the transaction again: SQLSTATE
/// 40001 / 40P01 on PostgreSQL, SQLITE_BUSY / SQLITE_LOCKED on SQLite.
bool isTransient(const QSqlError& e);

/// A write transaction: SQLite takes the write lock at once (BEGIN IMMEDIATE)
/// so that two writers never interleave; rolled back unless commit() ran.
/// Every successful commit counts in committedOnThisThread(): a call that
/// committed something is not run again.
class Transaction {
public:
    Transaction(Database& db, QSqlDatabase& conn);
    ~Transaction();
    void commit();
    static quint64 committedOnThisThread();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    Database& db_;
    QSqlDatabase& conn_;
    bool open_ = false;
};

} // namespace server
