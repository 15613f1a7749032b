#include "lookupdb.h"

#include "schema.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

namespace server {

int writeLookupDatabase(Database& source, const QString& file)
{
    const QString part = file + ".novo";
    for (const QString& f : {part, part + "-journal"})
        QFile::remove(f);
    int rows = 0;
    {
        Database target(DbConfig::parse("sqlite:" + part));
        QSqlDatabase to = target.connection();
        QSqlDatabase from = source.connection();
        Transaction tx(target, to);
        for (const QString& table : lookupTables()) {
            execDirect(to, lookupTableDdl(table));
            QSqlQuery read(from);
            read.setForwardOnly(true);
            if (!read.exec("SELECT * FROM " + table))
                throw InternalError(QString("Tabela %1 ilegível no banco de origem.").arg(table));
            const QSqlRecord rec = read.record();
            QStringList names, marks;
            for (int i = 0; i < rec.count(); ++i) {
                names << rec.fieldName(i).toUpper();
                marks << "?";
            }
            const QString insert =
                QString("INSERT INTO %1 (%2) VALUES (%3)").arg(table, names.join(", "), marks.join(", "));
            while (read.next()) {
                QSqlQuery w = prepare(to, insert);
                for (int i = 0; i < rec.count(); ++i)
                    w.addBindValue(read.value(i));
                exec(w);
                ++rows;
            }
        }
        tx.commit();
        // Back to a rollback journal: desktops only read it, and a WAL file
        // cannot be read from a folder they may not write to.
        execDirect(to, "PRAGMA journal_mode=DELETE");
    }
    QFile::remove(file);
    if (!QFile::rename(part, file))
        throw InternalError(QString("Não foi possível gravar %1.").arg(file));
    for (const QString& f : {part + "-wal", part + "-shm"})
        QFile::remove(f);
    return rows;
}

} // namespace server
