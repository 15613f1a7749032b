#include "adoibquery.h"

#include <core/errors.h>

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cmath>
#include <mutex>

namespace core {

// --- host database module -----------------------------------------------------

namespace {
std::mutex g_connMutex;
QString g_connName = QStringLiteral("dtmDBGeral");
} // namespace

QString TDtmDBGeral::connectionName()
{
    std::lock_guard lock(g_connMutex);
    return g_connName;
}

void TDtmDBGeral::setConnectionName(const QString& name)
{
    std::lock_guard lock(g_connMutex);
    g_connName = name;
}

SqlDialect TDtmDBGeral::dialectOf(const QString& driverName)
{
    const QString d = driverName.toUpper();
    if (d.startsWith(QLatin1String("QIBASE")))
        return SqlDialect::InterBase;
    if (d.startsWith(QLatin1String("QPSQL")))
        return SqlDialect::PostgreSQL;
    if (d.startsWith(QLatin1String("QSQLITE")))
        return SqlDialect::SQLite;
    if (d.startsWith(QLatin1String("QOCI")))
        return SqlDialect::Oracle;
    if (d.startsWith(QLatin1String("QODBC")))
        return SqlDialect::MSSQL;
    return SqlDialect::Generic;
}

SqlDialect TDtmDBGeral::dialect()
{
    return dialectOf(QSqlDatabase::database(connectionName(), false).driverName());
}

QStringList TDtmDBGeral::firebirdSupportDdl()
{
    // The InterBase texts of the host queries pass a parameter through a
    // selectable procedure ("PARAM(:P)ALIAS", read as ALIAS.PARAM) so it can
    // be tested for null, and replace a null string by another with NVLSTR.
    // The same statements for isql-fb: platform/client/sql/firebird_host.sql.
    return {
        QStringLiteral("CREATE OR ALTER PROCEDURE PARAM (P VARCHAR(255)) RETURNS (PARAM VARCHAR(255)) AS\n"
                       "BEGIN\n"
                       "  PARAM = :P;\n"
                       "  SUSPEND;\n"
                       "END"),
        QStringLiteral("CREATE OR ALTER FUNCTION NVLSTR (A VARCHAR(255), B VARCHAR(255)) RETURNS VARCHAR(255) AS\n"
                       "BEGIN\n"
                       "  RETURN COALESCE(A, B);\n"
                       "END"),
    };
}

void TDtmDBGeral::installFirebirdSupport(const QString& connection)
{
    QSqlDatabase db = QSqlDatabase::database(connection.isEmpty() ? connectionName() : connection, false);
    if (!db.isOpen())
        throw Error(QStringLiteral("Banco de dados do host não está aberto"));
    for (const QString& ddl : firebirdSupportDdl()) {
        QSqlQuery q(db);
        if (!q.exec(ddl))
            throw Error(q.lastError().text());
    }
}

// --- parameters ------------------------------------------------------------------

ParsedSql parseNamedParams(const QString& sql)
{
    ParsedSql out;
    out.text.reserve(sql.size());
    const qsizetype n = sql.size();
    auto isNameStart = [](QChar c) { return c.isLetter() || c == QLatin1Char('_'); };
    auto isNameChar = [](QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'); };

    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        // String literal ('...' with '' as an escaped quote) or quoted identifier.
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            qsizetype j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            const qsizetype end = std::min(j + 1, n);
            out.text += QStringView(sql).mid(i, end - i);
            i = end;
            continue;
        }
        // Comments: "-- to the end of the line" and "/* ... */".
        if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            if (j < 0)
                j = n;
            out.text += QStringView(sql).mid(i, j - i);
            i = j;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            j = j < 0 ? n : j + 2;
            out.text += QStringView(sql).mid(i, j - i);
            i = j;
            continue;
        }
        if (c == QLatin1Char(':')) {
            // "::" is a PostgreSQL cast, not a parameter.
            if (i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
                out.text += QLatin1String("::");
                i += 2;
                continue;
            }
            if (i + 1 < n && isNameStart(sql[i + 1])) {
                qsizetype j = i + 1;
                while (j < n && isNameChar(sql[j]))
                    ++j;
                out.names.append(sql.mid(i + 1, j - i - 1).toUpper());
                out.text += QLatin1Char('?');
                i = j;
                continue;
            }
        }
        out.text += c;
        ++i;
    }
    return out;
}

// --- query -------------------------------------------------------------------------

namespace {

[[noreturn]] void conversionError(const QString& query, const FieldDef& f, int row, const QVariant& v)
{
    throw Error(QStringLiteral("Consulta %1: valor \"%2\" da linha %3 não serve ao campo %4 (%5)")
                    .arg(query, v.toString())
                    .arg(row + 1)
                    .arg(f.name, fieldTypeName(f.type)));
}

Date dateFromDateTime(const QDateTime& dt)
{
    Date d = Date::fromQDate(dt.date());
    const int ms = dt.time().isValid() ? dt.time().msecsSinceStartOfDay() : 0;
    d.days += double(ms) / 86400000.0;
    return d;
}

Variant convertValue(const QString& query, const FieldDef& f, int row, const QVariant& v, bool trimBlanks)
{
    if (v.isNull() || !v.isValid())
        return {};
    const int t = v.typeId();
    switch (f.type) {
    case FieldType::String: {
        QString s;
        if (t == QMetaType::QDate)
            s = v.toDate().toString(Qt::ISODate);
        else if (t == QMetaType::QDateTime)
            s = v.toDateTime().toString(Qt::ISODate);
        else
            s = v.toString();
        if (trimBlanks) {
            qsizetype len = s.size();
            while (len > 0 && s[len - 1] == QLatin1Char(' '))
                --len;
            s.truncate(len);
        }
        // Fixed-width CHAR columns come back padded with blanks.
        if (f.size > 0 && s.size() > f.size) {
            qsizetype len = s.size();
            while (len > f.size && s[len - 1] == QLatin1Char(' '))
                --len;
            s.truncate(len);
        }
        return Variant(s);
    }
    case FieldType::Integer: {
        bool ok = false;
        const qlonglong i = v.toLongLong(&ok);
        if (!ok) {
            const double d = v.toDouble(&ok);
            if (!ok || d != std::floor(d))
                conversionError(query, f, row, v);
            return Variant(qint64(d));
        }
        return Variant(qint64(i));
    }
    case FieldType::Float: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok)
            conversionError(query, f, row, v);
        return Variant(d);
    }
    case FieldType::Boolean: {
        if (t == QMetaType::Bool)
            return Variant(v.toBool());
        const QString s = v.toString().trimmed().toUpper();
        if (s == QLatin1String("S") || s == QLatin1String("T") || s == QLatin1String("1") || s == QLatin1String("TRUE"))
            return Variant(true);
        if (s == QLatin1String("N") || s == QLatin1String("F") || s == QLatin1String("0")
            || s == QLatin1String("FALSE"))
            return Variant(false);
        conversionError(query, f, row, v);
    }
    case FieldType::DateTime: {
        if (t == QMetaType::QDate) {
            if (!v.toDate().isValid())
                conversionError(query, f, row, v);
            return Variant(Date::fromQDate(v.toDate()));
        }
        if (t == QMetaType::QDateTime) {
            if (!v.toDateTime().isValid())
                conversionError(query, f, row, v);
            return Variant(dateFromDateTime(v.toDateTime()));
        }
        if (t == QMetaType::QString) {
            // SQLite keeps dates as text: "yyyy-MM-dd", optionally with a time.
            const QString s = v.toString().trimmed();
            QDateTime dt = QDateTime::fromString(s, Qt::ISODateWithMs);
            if (!dt.isValid()) {
                const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
                if (d.isValid() && (s.size() == 10))
                    dt = QDateTime(d, QTime(0, 0));
                else {
                    const QDateTime spaced = QDateTime::fromString(s, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                    if (!spaced.isValid())
                        conversionError(query, f, row, v);
                    dt = spaced;
                }
            }
            return Variant(dateFromDateTime(dt));
        }
        bool ok = false;
        const double d = v.toDouble(&ok); // already a day count
        if (!ok || !std::isfinite(d))
            conversionError(query, f, row, v);
        return Variant(Date{d});
    }
    }
    return {};
}

FieldDef defFromColumn(const QSqlField& col)
{
    FieldDef f;
    f.name = col.name().toUpper();
    switch (col.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort: f.type = FieldType::Integer; break;
    case QMetaType::Double:
    case QMetaType::Float: f.type = FieldType::Float; break;
    case QMetaType::Bool: f.type = FieldType::Boolean; break;
    case QMetaType::QDate:
    case QMetaType::QDateTime: f.type = FieldType::DateTime; break;
    default: f.type = FieldType::String; break;
    }
    return f;
}

} // namespace

TADOIBQuery::TADOIBQuery(const QString& name, QObject* parent) : ClientDataset(name, parent) { }

QString TADOIBQuery::sqlFor(SqlDialect d) const
{
    const QStringList* own = nullptr;
    switch (d) {
    case SqlDialect::Oracle: own = &SQL_ORACLE; break;
    case SqlDialect::MSSQL: own = &SQL_MSSQL; break;
    case SqlDialect::InterBase: own = &SQL_IB; break;
    case SqlDialect::SQLite: own = &SQL_SQLITE; break;
    case SqlDialect::PostgreSQL: own = &SQL_PG; break;
    case SqlDialect::Generic: break;
    }
    const QStringList& lines = (own && !own->isEmpty()) ? *own : SQL;
    return lines.join(QLatin1Char('\n'));
}

void TADOIBQuery::ParamByName(const QString& name, const Variant& value)
{
    params_.insert(name.trimmed().toUpper(), value);
}

Variant TADOIBQuery::param(const QString& name) const
{
    return params_.value(name.trimmed().toUpper());
}

void TADOIBQuery::Open()
{
    close();
    const QString label = objectName().isEmpty() ? QStringLiteral("SQL") : objectName();
    const QString connName = connection_.isEmpty() ? TDtmDBGeral::connectionName() : connection_;
    QSqlDatabase db = QSqlDatabase::database(connName, false);
    // People are told what happened and what to do; the query, connection
    // and driver texts go to the log.
    const QString noDatabase = QStringLiteral(
        "O sistema não está ligado ao seu banco de dados, e a consulta não pôde ser feita. Verifique a configuração "
        "do banco de dados (seção [Banco] do arquivo de configuração) e abra o sistema de novo; se continuar, avise o "
        "suporte.");
    if (!db.isValid())
        throw Error(QStringLiteral("Consulta %1: conexão \"%2\" com o banco de dados não existe").arg(label, connName),
                    noDatabase);
    if (!db.isOpen())
        throw Error(QStringLiteral("Consulta %1: banco de dados \"%2\" não está aberto").arg(label, connName),
                    noDatabase);
    try {
        openOn(db, label);
    } catch (const Error& e) {
        if (e.hasDetail())
            throw;
        throw Error(e.message(),
                    QStringLiteral("Não foi possível ler o banco de dados do sistema. Tente de novo; se "
                                   "continuar, avise o suporte."));
    }
}

void TADOIBQuery::openOn(QSqlDatabase& db, const QString& label)
{
    const SqlDialect dialect = TDtmDBGeral::dialectOf(db.driverName());
    // Firebird's driver pads CHAR values to their length in bytes (four per
    // character in UTF8); trailing blanks carry no meaning there.
    const bool trimBlanks = dialect == SqlDialect::InterBase;
    const QString text = sqlFor(dialect);
    if (text.trimmed().isEmpty())
        throw Error(QStringLiteral("Consulta %1 sem texto SQL").arg(label));
    const ParsedSql parsed = parseNamedParams(text);

    DataPacket packet;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        auto fail = [&](const QSqlError& e) -> Error {
            QString msg = e.text().trimmed();
            if (msg.isEmpty())
                msg = QStringLiteral("erro do banco de dados");
            return Error(QStringLiteral("Consulta %1: %2").arg(label, msg));
        };
        if (!q.prepare(parsed.text))
            throw fail(q.lastError());
        for (const QString& n : parsed.names) {
            const Variant v = params_.value(n);
            if (v.isNull())
                q.addBindValue(QVariant(QMetaType(QMetaType::QString)));
            else if (v.type() == Variant::Type::Date)
                q.addBindValue(v.toDate().toQDate());
            else if (v.type() == Variant::Type::Integer)
                q.addBindValue(v.toInt());
            else if (v.type() == Variant::Type::Double)
                q.addBindValue(v.toDouble());
            else
                q.addBindValue(v.toString());
        }
        if (!q.exec())
            throw fail(q.lastError());

        const QSqlRecord rec = q.record();
        if (fieldCount() == 0)
            for (int c = 0; c < rec.count(); ++c)
                addField(defFromColumn(rec.field(c)));

        QList<FieldDef> defs;
        std::vector<int> columns;
        for (int i = 0; i < fieldCount(); ++i) {
            const FieldDef& f = field(i).def();
            int col = -1;
            for (int c = 0; c < rec.count() && col < 0; ++c)
                if (rec.fieldName(c).compare(f.name, Qt::CaseInsensitive) == 0)
                    col = c;
            if (col < 0)
                throw Error(QStringLiteral("Consulta %1: a coluna %2 não está no resultado").arg(label, f.name));
            defs.append(f);
            columns.push_back(col);
        }
        packet = DataPacket(defs);
        int row = 0;
        while (q.next()) {
            PacketRow r;
            r.reserve(columns.size());
            for (size_t i = 0; i < columns.size(); ++i)
                r.push_back(convertValue(label, defs[qsizetype(i)], row, q.value(columns[i]), trimBlanks));
            try {
                packet.appendRow(std::move(r));
            } catch (const Error& e) {
                throw Error(QStringLiteral("Consulta %1: %2").arg(label, e.message()));
            }
            ++row;
        }
        if (q.lastError().isValid())
            throw fail(q.lastError());
    }
    loadFromPacket(packet);
}

} // namespace core
