#include "backup.h"

#include "core/errors.h"

#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>

namespace server {

namespace {

struct Handle {
    sqlite3* db = nullptr;
    ~Handle() { sqlite3_close_v2(db); }
};

[[noreturn]] void fail(const QString& what, sqlite3* db)
{
    throw core::Error(
        QString("cópia de segurança: %1 (%2)").arg(what, QString::fromUtf8(db ? sqlite3_errmsg(db) : "sem memória")));
}

} // namespace

void backupSqlite(const QString& from, const QString& to)
{
    if (!QFileInfo(from).isFile())
        throw core::Error(QString("cópia de segurança: o banco %1 não existe").arg(from));
    const QString target = QFileInfo(to).absoluteFilePath();
    const QString temp = target + ".parcial";
    QFile::remove(temp);

    Handle src, dst;
    if (sqlite3_open_v2(from.toUtf8().constData(), &src.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        fail("não foi possível abrir " + from, src.db);
    sqlite3_busy_timeout(src.db, 10000);
    const mode_t old = ::umask(077);
    const int rc =
        sqlite3_open_v2(temp.toUtf8().constData(), &dst.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    ::umask(old);
    if (rc != SQLITE_OK)
        fail("não foi possível criar " + temp, dst.db);

    sqlite3_backup* b = sqlite3_backup_init(dst.db, "main", src.db, "main");
    if (!b)
        fail("não foi possível iniciar a cópia", dst.db);
    // All pages in one step: one read transaction, so one consistent snapshot.
    int step = sqlite3_backup_step(b, -1);
    for (int tries = 0; (step == SQLITE_BUSY || step == SQLITE_LOCKED) && tries < 100; ++tries) {
        sqlite3_sleep(100);
        step = sqlite3_backup_step(b, -1);
    }
    sqlite3_backup_finish(b);
    if (step != SQLITE_DONE) {
        sqlite3_close_v2(dst.db);
        dst.db = nullptr;
        QFile::remove(temp);
        throw core::Error(
            QString("cópia de segurança de %1 interrompida (%2)").arg(from, QString::fromUtf8(sqlite3_errstr(step))));
    }
    // The copy is a plain database file of its own, not in WAL mode.
    sqlite3_exec(dst.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_close_v2(dst.db);
    dst.db = nullptr;
    if (std::rename(temp.toUtf8().constData(), target.toUtf8().constData()) != 0) {
        QFile::remove(temp);
        throw core::Error(QString("cópia de segurança: não foi possível gravar %1").arg(target));
    }
}

} // namespace server
