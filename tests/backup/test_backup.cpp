// Backup and restore as docs/deploy.md describes them, on SQLite
// (`exp_appserver backup`) and on the throw-away PostgreSQL (pg_dump -Fc,
// createdb, pg_restore): demo data and a logged-in operator, the backup taken
// while that operator cancels entries through a running server, the copy
// restored into a new database and served by a new server. The restored
// server lists exactly the entries, and the database holds exactly the
// balances, the source had after one of the cancellations made while the
// backup ran (a consistent snapshot), and it accepts new cancellations.
#include <core/datapacket.h>
#include <core/errors.h>
#include <client/httptransport.h>

#include <server/database.h>
#include <server/demodata.h>
#include <server/quantity.h>
#include <server/schema.h>

#include <support/scalerig.h>
#include <support/testsession.h>

#include <QDate>
#include <QFileInfo>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

using core::Variant;

namespace {

const QString kServer = QStringLiteral("Exp01800.rdmCancelNota");
const QString kPgBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

/// What a client and the database show at one moment.
struct State {
    core::DataPacket list;
    std::map<QString, qint64> balances; ///< branch/product -> units
};

std::map<QString, qint64> balances(const QString& dbText)
{
    server::Database db(server::DbConfig::parse(dbText));
    QSqlDatabase c = db.connection();
    QSqlQuery q =
        server::prepare(c, "SELECT CDFILIAL, CDPRODUTO, " + server::qtyUnitsSql(db, "QTSALDO") + " FROM SALDOESTQ");
    server::exec(q);
    std::map<QString, qint64> out;
    while (q.next())
        out[q.value(0).toString() + "/" + q.value(1).toString()] = q.value(2).toLongLong();
    return out;
}

class Client {
public:
    explicit Client(int port) : port_(port)
    {
        token_ = t_.login("127.0.0.1", port_, testsupport::kOperator, testsupport::kPassword).token;
    }
    core::DataPacket list()
    {
        const qint64 day = qint64(QDate(1899, 12, 30).daysTo(QDate::currentDate()));
        return call("GetLanctoNF",
                    {"0001", core::Date{double(day - 8)}, core::Date{double(day + 1)}, "", "T", "", "T", "", "", "T",
                     "T"})
            .packet();
    }
    /// Cancels the entry of row `row` of `list`; false when the server refused.
    bool cancel(const core::DataPacket& list, size_t row)
    {
        core::DataPacket ticked = list;
        ticked.rows()[row][size_t(list.fieldIndex("IDCHECK"))] = Variant("S");
        try {
            call("CancelaNota", {"0001", ticked, "0001", testsupport::kOperator, "T"});
            return true;
        } catch (const core::ServerError&) {
            return false;
        }
    }
    /// Cancels the first entry of the list the server accepts; its number, or "".
    QString cancelAny()
    {
        const core::DataPacket l = list();
        for (size_t r = 0; r < l.rows().size(); ++r)
            if (cancel(l, r))
                return l.rows()[r][size_t(l.fieldIndex("NRLANCTONF"))].toString();
        return {};
    }

private:
    Variant call(const QString& method, core::VariantArray args)
    {
        core::CallRequest r{kServer, method, {args.begin(), args.end()}, {}, token_};
        return t_.call("127.0.0.1", port_, r).result.payload;
    }
    int port_;
    core::HttpTransport t_;
    QString token_;
};

bool run(const QString& program, const QStringList& args, QString& why)
{
    QProcess p;
    p.start(program, args);
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    why = program + " " + args.join(' ') + ": " + QString::fromUtf8(p.readAllStandardError());
    return false;
}

class BackupRestore : public ::testing::TestWithParam<const char*> { };

} // namespace

TEST_P(BackupRestore, RestoredServerShowsASnapshotTakenWhileCancellingAndCancelsAgain)
{
    const bool pg = QString(GetParam()) == "postgres";
    if (pg && !testsupport::PgTemp::available())
        GTEST_SKIP() << "PostgreSQL 15 not installed (scripts/deps.sh installs it)";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString why;
    testsupport::PgTemp pgTemp(EXP_SOURCE_DIR);
    QString source = "sqlite:" + dir.filePath("source.db"), restored = "sqlite:" + dir.filePath("restored.db");
    QString pgHost, pgPort;
    if (pg) {
        ASSERT_TRUE(pgTemp.start(why)) << why.toStdString();
        source = "postgres:" + pgTemp.conn;
        restored = QString(source).replace("dbname=exptest", "dbname=exprestored");
        pgPort = pgTemp.conn.section("port=", 1).section(' ', 0, 0);
    }
    {
        server::Database db(server::DbConfig::parse(source));
        server::migrateSchema(db);
        server::generateDemo(db, server::DemoOptions{300, 7, 7});
        testsupport::ensureOperator(db);
    }

    testsupport::AppServerProcess app(EXP_APPSERVER_BIN, source, testsupport::freePort(), dir.filePath("source.log"));
    ASSERT_TRUE(app.start(why)) << why.toStdString();

    // The operator cancels entry after entry; after each attempt the list it
    // sees and the balances are kept: states[k] is the state after k attempts.
    std::vector<State> states;
    std::mutex statesLock;
    std::atomic<int> attempts{0}, cancelled{0};
    std::atomic<bool> stop{false};
    QString clientError;
    std::thread client([&] {
        try {
            Client cl(app.port());
            core::DataPacket l = cl.list();
            {
                std::lock_guard g(statesLock);
                states.push_back({l, balances(source)});
            }
            for (size_t r = 0; r < l.rows().size() && !stop; ++r) {
                if (cl.cancel(l, r))
                    ++cancelled;
                State s{cl.list(), balances(source)};
                std::lock_guard g(statesLock);
                states.push_back(std::move(s));
                ++attempts;
            }
        } catch (const std::exception& e) {
            clientError = e.what();
        }
    });
    while (attempts < 3 && clientError.isEmpty())
        QThread::msleep(5);
    const int before = attempts;
    QString backupFile = dir.filePath(pg ? "backup.dump" : "backup.db");
    bool backedUp = pg
        ? run(kPgBin + "pg_dump",
              {"-h", "127.0.0.1", "-p", pgPort, "-U", "postgres", "-Fc", "-f", backupFile, "exptest"}, why)
        : run(EXP_APPSERVER_BIN, {"backup", "--db", source, "--to", backupFile}, why);
    const int after = attempts + 1; // one attempt may have committed but not yet been recorded
    while (attempts < after + 1 && clientError.isEmpty() && attempts < before + 1000)
        QThread::msleep(5);
    stop = true;
    client.join();
    ASSERT_TRUE(clientError.isEmpty()) << clientError.toStdString();
    ASSERT_TRUE(backedUp) << why.toStdString();
    EXPECT_GT(cancelled, 0) << "the demo data was meant to let the operator cancel";

    // Restore into a new database and serve it.
    if (pg) {
        ASSERT_TRUE(run(kPgBin + "createdb", {"-h", "127.0.0.1", "-p", pgPort, "-U", "postgres", "exprestored"}, why))
            << why.toStdString();
        ASSERT_TRUE(run(
            kPgBin + "pg_restore",
            {"-h", "127.0.0.1", "-p", pgPort, "-U", "postgres", "--no-owner", "-d", "exprestored", backupFile}, why))
            << why.toStdString();
    } else {
        EXPECT_EQ(QFileInfo(backupFile).permissions() & 0x0077, 0) << "the copy holds password hashes: owner only";
        ASSERT_TRUE(QFile::copy(backupFile, dir.filePath("restored.db")));
    }
    testsupport::AppServerProcess copy(EXP_APPSERVER_BIN, restored, testsupport::freePort(),
                                       dir.filePath("restored.log"));
    ASSERT_TRUE(copy.start(why)) << why.toStdString();
    Client cl(copy.port()); // the operator and password came with the copy
    const State now{cl.list(), balances(restored)};

    int match = -1;
    for (int k = before; k <= std::min(after, int(states.size()) - 1) && match < 0; ++k)
        if (states[size_t(k)].list == now.list && states[size_t(k)].balances == now.balances)
            match = k;
    EXPECT_GE(match, 0) << "the restored list and balances are the source's after none of attempts " << before << ".."
                        << after << " (" << now.list.rowCount() << " rows)";
    std::printf("%s: backup during attempts %d..%d of %d (%d cancelled); the copy is the state after %d\n", GetParam(),
                before, after, int(attempts), int(cancelled), match);
    EXPECT_FALSE(now.balances.empty());

    const QString entry = cl.cancelAny();
    ASSERT_FALSE(entry.isEmpty()) << "the restored server cancelled nothing";
    const core::DataPacket l = cl.list();
    const int iNr = l.fieldIndex("NRLANCTONF"), iStatus = l.fieldIndex("IDSTATUS");
    QString status = "(not listed)";
    for (const auto& row : l.rows())
        if (row[size_t(iNr)].toString() == entry)
            status = row[size_t(iStatus)].toString();
    EXPECT_EQ(status, "C") << entry.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Databases, BackupRestore, ::testing::Values("sqlite", "postgres"));
