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

namespace server {

/// A failure of the server itself (database unreachable, SQL error): the
/// caller sees it as an internal error (HTTP 500), never as a refusal.
class InternalError : public core::Error {
public:
    using core::Error::Error;
};

enum class Dialect { Sqlite, Postgres };

struct DbConfig {
    Dialect dialect = Dialect::Sqlite;
    QString sqlitePath;  ///< file name for SQLite
    QString host = "127.0.0.1";
    int port = 5432;
    QString user;
    QString password;
    QString dbName;
    QString schema;      ///< optional PostgreSQL schema (search_path)

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
/// Executes a prepared statement; throws InternalError with the driver text.
void exec(QSqlQuery& q);
/// Executes a statement without parameters.
void execDirect(QSqlDatabase& db, const QString& sql);

/// A write transaction: SQLite takes the write lock at once (BEGIN IMMEDIATE)
/// so that two writers never interleave; rolled back unless commit() ran.
class Transaction {
public:
    Transaction(Database& db, QSqlDatabase& conn);
    ~Transaction();
    void commit();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    Database& db_;
    QSqlDatabase& conn_;
    bool open_ = false;
};

} // namespace server
