#pragma once
// Read-only query on the host database, with one SQL text per dialect. The
// result is held in memory (client-side cursor), so a query is a client
// dataset that fills itself from SQL.

#include "clientdataset.h"

#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace core {

enum class SqlDialect { Generic, Oracle, MSSQL, InterBase, SQLite, PostgreSQL };

/// The host's general database module: the connection every host-database
/// query is bound to (a QtSql connection name).
class TDtmDBGeral {
public:
    /// QtSql connection name of the host database; the shell opens it.
    static QString connectionName();
    static void setConnectionName(const QString& name);
    /// Dialect of the open connection, from its driver (QSQLITE, QPSQL, QIBASE...).
    static SqlDialect dialect();
    /// Dialect of a QtSql driver name.
    static SqlDialect dialectOf(const QString& driverName);

    /// Firebird objects the InterBase query texts rely on: the selectable
    /// procedure PARAM and the function NVLSTR (idempotent DDL, one statement each).
    static QStringList firebirdSupportDdl();
    /// Runs that DDL on a connection (empty: the host's); throws core::Error.
    static void installFirebirdSupport(const QString& connection = {});
};

/// A text with named parameters (":NAME", outside string literals, quoted
/// names and comments) rewritten to positional "?" markers; `names` lists the
/// parameter of each marker in order, upper-cased.
struct ParsedSql {
    QString text;
    QStringList names;
};
ParsedSql parseNamedParams(const QString& sql);

class TADOIBQuery : public ClientDataset {
    Q_OBJECT
public:
    explicit TADOIBQuery(const QString& name = {}, QObject* parent = nullptr);

    QStringList SQL; ///< general text (also the Oracle text where given as such)
    QStringList SQL_ORACLE;
    QStringList SQL_MSSQL;
    QStringList SQL_IB;
    QStringList SQL_SQLITE; ///< our embedded database
    QStringList SQL_PG;     ///< PostgreSQL

    /// The text that runs on a dialect: its own when given, else the general one.
    QString sqlFor(SqlDialect d) const;

    /// Named string parameters (":NAME"); a name used twice gets one value;
    /// a Null value binds SQL NULL.
    void ParamByName(const QString& name, const Variant& value);
    Variant param(const QString& name) const;

    /// Runs the text for the database in use and loads every row; throws
    /// core::Error on failure (the query stays closed), with the driver's
    /// message as its detail and a text for people (core::Error::forPeople).
    void Open();
    void Close() { close(); }
    bool IsEmpty() const { return isEmpty(); }

    /// Overrides the connection (tests); empty uses the host's.
    void setConnectionName(const QString& c) { connection_ = c; }

private:
    void openOn(QSqlDatabase& db, const QString& label);
    QMap<QString, Variant> params_;
    QString connection_;
};

} // namespace core
