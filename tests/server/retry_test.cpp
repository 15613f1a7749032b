// Transient database failures (serialisation failure, deadlock, busy SQLite)
// run the whole call again, a bounded number of times; what the caller gets
// in the end never holds SQL.
#include "serverfixture.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QThread>

#include <atomic>
#include <thread>

using namespace servertest;

TEST(TransientErrors, AreRecognisedByTheirCodes)
{
    auto err = [](const char* code) { return QSqlError("driver", "db", QSqlError::StatementError, code); };
    EXPECT_TRUE(server::isTransient(err("40001")));
    EXPECT_TRUE(server::isTransient(err("40P01")));
    EXPECT_TRUE(server::isTransient(err("5")));      // SQLITE_BUSY
    EXPECT_TRUE(server::isTransient(err("517")));    // SQLITE_BUSY_SNAPSHOT
    EXPECT_TRUE(server::isTransient(err("6")));      // SQLITE_LOCKED
    EXPECT_FALSE(server::isTransient(err("23514"))); // check violation
    EXPECT_FALSE(server::isTransient(err("19")));    // SQLITE_CONSTRAINT
    EXPECT_FALSE(server::isTransient(err("")));
}

class Retry : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        reg.setRetryPolicy({4, 2});
        QSqlDatabase c = db->connection();
        server::execDirect(c, "CREATE TABLE TENTATIVA (NR INTEGER NOT NULL)");
    }
    /// A method that writes a row, then fails transiently on its first `failures` runs.
    void addFlaky(const QString& name, int failures, bool commitFirst = false)
    {
        reg.add("Teste", name, {}, [this, failures, commitFirst](server::CallContext& c) {
            const int run = ++runs;
            QSqlDatabase conn = c.db.connection();
            server::Transaction tx(c.db, conn);
            QSqlQuery q = server::prepare(conn, "INSERT INTO TENTATIVA (NR) VALUES (?)");
            q.addBindValue(run);
            server::exec(q);
            if (commitFirst)
                tx.commit();
            if (run <= failures) {
                if (c.db.isSqlite())
                    throw server::TransientError("ocupado", "simulated SQLITE_BUSY");
                server::execDirect(conn,
                                   run % 2 ? "DO $$ BEGIN RAISE EXCEPTION 'conflito' USING ERRCODE = '40001'; END $$"
                                           : "DO $$ BEGIN RAISE EXCEPTION 'impasse' USING ERRCODE = '40P01'; END $$");
            }
            if (!commitFirst)
                tx.commit();
            return Variant(qint64(run));
        });
    }
    std::atomic<int> runs{0};
};

TEST_P(Retry, ATransientFailureRunsTheWholeCallAgainUntilItGoesThrough)
{
    addFlaky("Instavel", 2);
    EXPECT_EQ(call("Teste", "Instavel", {}).toInt(), 3);
    EXPECT_EQ(runs, 3);
    // The failed runs left nothing behind.
    EXPECT_EQ(count("SELECT COUNT(*) FROM TENTATIVA"), 1);
    EXPECT_EQ(count("SELECT MAX(NR) FROM TENTATIVA"), 3);
}

TEST_P(Retry, WhenTheRunsAreUsedUpTheCallerGetsAClearErrorWithoutSql)
{
    addFlaky("SempreOcupado", 100);
    EXPECT_THROW(call("Teste", "SempreOcupado", {}), server::BusyError);
    runs = 0;
    const QString msg = raised("SempreOcupado", {}, "Teste");
    EXPECT_EQ(runs, 4);
    EXPECT_TRUE(msg.contains("ocupado")) << msg.toStdString();
    EXPECT_TRUE(msg.contains("4 tentativas")) << msg.toStdString();
    for (const char* sqlText : {"RAISE", "DO $$", "INSERT", "ERROR", "TENTATIVA"})
        EXPECT_FALSE(msg.contains(sqlText)) << msg.toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM TENTATIVA"), 0);
}

TEST_P(Retry, ACallThatAlreadyCommittedIsNotRunAgain)
{
    addFlaky("GravouAntes", 1, true);
    const QString msg = raised("GravouAntes", {}, "Teste");
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(msg.contains("depois de gravar")) << msg.toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM TENTATIVA"), 1);
}

TEST_P(Retry, OtherDatabaseErrorsAreNotRetriedAndHideTheirSql)
{
    reg.add("Teste", "Quebrado", {}, [this](server::CallContext& c) {
        ++runs;
        QSqlDatabase conn = c.db.connection();
        server::execDirect(conn, "INSERT INTO TABELA_QUE_NAO_EXISTE VALUES (1)");
        return Variant();
    });
    const QString msg = raised("Quebrado", {}, "Teste");
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(msg.startsWith("Erro no banco de dados")) << msg.toStdString();
    EXPECT_FALSE(msg.contains("TABELA_QUE_NAO_EXISTE")) << msg.toStdString();
}

SERVER_BACKENDS(Retry);

// A real busy SQLite database: another connection holds the write lock past
// the first run's wait, then lets go.
TEST(RetrySqlite, ABusyDatabaseIsWaitedOutByRunningTheCallAgain)
{
    QTemporaryDir dir;
    server::DbConfig cfg = server::DbConfig::parse("sqlite:" + dir.filePath("busy.db"));
    cfg.sqliteBusyMs = 50;
    server::Database db(cfg);
    server::migrateSchema(db);
    server::Registry reg;
    reg.setRetryPolicy({8, 20});
    std::atomic<int> runs{0};
    reg.add("Teste", "Escreve", {}, [&runs](server::CallContext& c) {
        ++runs;
        QSqlDatabase conn = c.db.connection();
        server::Transaction tx(c.db, conn);
        server::execDirect(conn, "INSERT INTO ROTATRANS (CDROTATRANS, NMROTATRANS) VALUES ('R1', 'Rota')");
        tx.commit();
        return Variant();
    });
    server::Database holderDb(cfg);
    QSqlDatabase holder = holderDb.connection();
    server::execDirect(holder, "BEGIN IMMEDIATE");
    std::thread caller([&] { reg.call(db, server::CallRequest{"Teste", "Escreve", {}, {}}); });
    QElapsedTimer t;
    t.start();
    while (runs < 2 && t.elapsed() < 10000)
        QThread::msleep(5);
    server::execDirect(holder, "COMMIT");
    caller.join();
    EXPECT_GE(runs, 2);
    QSqlQuery q = server::prepare(holder, "SELECT COUNT(*) FROM ROTATRANS");
    server::exec(q);
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
}

// A database session that was ended under the server (a database restart,
// an administrator's pg_terminate_backend) costs one call, not every call after it.
TEST(LostConnection, TheNextCallOpensAFreshOne)
{
    if (qEnvironmentVariable("EXP_TEST_PG").isEmpty())
        GTEST_SKIP() << "EXP_TEST_PG not set";
    const QString schema = QString("t_%1_lost").arg(QCoreApplication::applicationPid());
    const auto cfg = server::DbConfig::parse("postgres:" + qEnvironmentVariable("EXP_TEST_PG") + " schema=" + schema);
    server::Database db(cfg);
    server::migrateSchema(db);
    server::Registry reg;
    server::registerCancelNota(reg);
    const server::CallRequest getExp{server::kCancelNotaServer, "GetExp", {"0001"}, {}};
    reg.call(db, getExp);
    qint64 pid = 0;
    {
        QSqlDatabase c = db.connection();
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec("SELECT pg_backend_pid()") && q.next());
        pid = q.value(0).toLongLong();
    }
    server::Database admin(cfg);
    {
        QSqlDatabase c = admin.connection();
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec(QString("SELECT pg_terminate_backend(%1)").arg(pid)));
    }
    QThread::msleep(100);
    try {
        reg.call(db, getExp); // may fail, clearly: its session is gone
    } catch (const server::InternalError& e) {
        EXPECT_FALSE(e.message().contains("SELECT")) << e.message().toStdString();
    }
    EXPECT_NO_THROW(reg.call(db, getExp));
    EXPECT_NO_THROW(reg.call(db, getExp));
    QSqlDatabase c = admin.connection();
    QSqlQuery q(c);
    q.exec("SET search_path TO public");
    q.exec(QString("DROP SCHEMA %1 CASCADE").arg(schema));
}
