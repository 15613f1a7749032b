// Concurrent cancellations on PostgreSQL: two writers that draw on one
// balance, made to overlap deterministically by a third session that holds a
// table lock until both are waiting.
#include "serverfixture.h"

#include <QElapsedTimer>
#include <QThread>

#include <thread>

using namespace servertest;

namespace {

/// The outcome of one call made on its own thread (and so its own connection).
struct Outcome {
    bool done = false;
    QString raised;
};

} // namespace

class ConcurrentCancellation : public ServerDb {
protected:
    Outcome callOnThread(const QString& method, const core::VariantArray& args)
    {
        Outcome o;
        try {
            reg.call(*db, server::CallRequest{server::kCancelNotaServer, method, args, {}});
        } catch (const core::Error& e) {
            o.raised = e.message();
        }
        o.done = true;
        return o;
    }
    /// Waits until `n` sessions wait on the locks of session `holder`, directly
    /// or behind another waiting session. Asked on a connection of its own:
    /// the activity view is a snapshot taken once per transaction.
    bool waitForWaiters(int holder, qint64 n)
    {
        server::Database watcher(db->config());
        QSqlDatabase c = watcher.connection();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 15000) {
            QSqlQuery q =
                server::prepare(c,
                                "SELECT COUNT(*) FROM pg_stat_activity a WHERE ? = ANY(pg_blocking_pids(a.pid)) "
                                "OR EXISTS (SELECT 1 FROM pg_stat_activity b WHERE ? = ANY(pg_blocking_pids(b.pid)) "
                                "AND b.pid = ANY(pg_blocking_pids(a.pid)))");
            q.addBindValue(holder);
            q.addBindValue(holder);
            server::exec(q);
            if (q.next() && q.value(0).toLongLong() >= n)
                return true;
            QThread::msleep(20);
        }
        return false;
    }
};

TEST_P(ConcurrentCancellation, TwoCancellationsOnOneBalanceNeverTakeItBelowZero)
{
    // Two entries whose goods were brought in by branch 0004; 0004 holds one unit.
    for (const char* nr : {"0000000001", "0000000002"}) {
        addEntry("0001", nr);
        addItem("0001", nr, "0001", "PZ", 1);
        addReplica("0001", nr, "0004", QString("1") + QString(nr).mid(1), "A");
    }
    setStock("0004", "PZ", 1);
    setStock("0001", "PZ", 100);

    core::DataPacket items = cancel("GetItem", {"0001", "0000000002"})[0].packet();
    items.rows()[0][size_t(items.fieldIndex("IDCHECK"))] = Variant("S");
    const core::VariantArray entryArgs{"0001", tick(listEntries("0001"), {"0000000001"}), "0001", "op7", "T"};
    const core::VariantArray itemArgs{
        "0001", items, "0000000002", "0000000001", stockNr("0000000002"), core::Date{double(kDay)}, "0001", "op8"};

    // Both writers start while this session keeps the balance table from being written.
    QSqlDatabase mine = db->connection();
    const int holder = scalar("SELECT pg_backend_pid()").toInt();
    server::execDirect(mine, "BEGIN");
    server::execDirect(mine, "LOCK TABLE SALDOESTQ IN SHARE MODE");
    Outcome a, b;
    std::thread ta([&] { a = callOnThread("CancelaNota", entryArgs); });
    std::thread tb([&] { b = callOnThread("CancelaItemNf", itemArgs); });
    const bool bothWaiting = waitForWaiters(holder, 2);
    server::execDirect(mine, "COMMIT");
    ta.join();
    tb.join();
    ASSERT_TRUE(bothWaiting) << "the two cancellations never waited together: " << a.raised.toStdString() << " / "
                             << b.raised.toStdString();
    ASSERT_TRUE(a.done && b.done);

    // One of them went through; the other saw the balance the first one left.
    const bool entryWon = a.raised.isEmpty();
    EXPECT_NE(entryWon, b.raised.isEmpty()) << a.raised.toStdString() << " / " << b.raised.toStdString();
    if (entryWon)
        EXPECT_EQ(b.raised, "ITEM_N_CANC");
    else
        EXPECT_EQ(a.raised, "REPLIC_N_CANC");
    EXPECT_DOUBLE_EQ(stock("0004", "PZ"), 0);
    EXPECT_DOUBLE_EQ(stock("0001", "PZ"), 101);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), entryWon ? 1 : 2); // the last item takes its entry with it
    EXPECT_EQ(count("SELECT COUNT(*) FROM LANCTONF WHERE IDSTATUS = 'C'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, ConcurrentCancellation, ::testing::Values("postgres"), servertest::backendName);

TEST(ConcurrentStart, ServersStartingTogetherMigrateOnce)
{
    if (qEnvironmentVariable("EXP_TEST_PG").isEmpty())
        GTEST_SKIP() << "EXP_TEST_PG not set";
    const QString schema = QString("t_%1_start").arg(QCoreApplication::applicationPid());
    const auto cfg = server::DbConfig::parse("postgres:" + qEnvironmentVariable("EXP_TEST_PG") + " schema=" + schema);
    server::Database db(cfg);
    db.connection(); // creates the schema: only the migrations race
    std::vector<std::thread> servers;
    std::atomic<int> failures{0};
    for (int i = 0; i < 3; ++i)
        servers.emplace_back([&] {
            try {
                server::Database db(cfg);
                server::migrateSchema(db);
            } catch (const core::Error&) {
                ++failures;
            }
        });
    for (auto& t : servers)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(server::migrateSchema(db), server::kSchemaVersion);
    QSqlDatabase c = db.connection();
    QSqlQuery q(c);
    EXPECT_TRUE(q.exec("SELECT COUNT(*) FROM SCHEMA_VERSAO") && q.next());
    EXPECT_EQ(q.value(0).toInt(), server::kSchemaVersion);
    q.finish();
    q.exec("SET search_path TO public");
    q.exec(QString("DROP SCHEMA %1 CASCADE").arg(schema));
}
