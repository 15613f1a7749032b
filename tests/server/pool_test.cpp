// The database workers of a server process: calls run on at most N threads,
// so the process holds at most N database connections.
#include "serverfixture.h"

#include <server/appserver.h>
#include <server/dbpool.h>

#include <support/testsession.h>

#include <httplib.h>

#include <QThread>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

using namespace servertest;

TEST(DbPool, RunsWorkOnAtMostItsSizeOfThreadsAndPassesExceptionsBack)
{
    server::DbPool pool(3);
    EXPECT_EQ(pool.size(), 3);
    std::atomic<int> running{0}, most{0};
    std::mutex m;
    std::set<std::thread::id> used;
    std::vector<std::thread> callers;
    for (int c = 0; c < 12; ++c)
        callers.emplace_back([&] {
            pool.run([&] {
                const int now = ++running;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) { }
                {
                    std::lock_guard lock(m);
                    used.insert(std::this_thread::get_id());
                }
                QThread::msleep(30);
                --running;
            });
        });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(most.load(), 3);
    EXPECT_EQ(used.size(), 3u);
    EXPECT_THROW(pool.run([] { throw server::BadRequest("ruim"); }), server::BadRequest);
    int after = 0;
    pool.run([&] { after = 1; }); // a failed task leaves the worker serving
    EXPECT_EQ(after, 1);
}

class PoolOverHttp : public ServerDb { };

TEST_P(PoolOverHttp, ManyClientsShareTheProcesssFewConnections)
{
    // A server database of its own, tagged so that its connections can be counted.
    server::DbConfig cfg = db->config();
    cfg.applicationName = QString("exp_pool_%1").arg(QCoreApplication::applicationPid());
    server::Database serverDb(cfg);
    server::ServerOptions o;
    o.port = 0;
    o.threads = 16;
    o.dbConnections = 2;
    o.log = false;
    server::AppServer srv(serverDb, o);
    srv.bind();
    std::thread runner([&] { srv.run(); });
    const httplib::Headers session = testsupport::bearer(testsupport::tokenFor(*db, srv.port()));
    std::atomic<int> ok{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c)
        clients.emplace_back([&] {
            httplib::Client h("127.0.0.1", srv.port());
            for (int i = 0; i < 10; ++i) {
                auto r =
                    h.Post("/call", session, R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]})",
                           "application/json");
                if (r && r->status == 200)
                    ++ok;
            }
        });
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(ok.load(), 100);
    if (GetParam() == "postgres") {
        EXPECT_EQ(count("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = ?", {cfg.applicationName}), 2);
    }
    srv.stop();
    runner.join();
}

SERVER_BACKENDS(PoolOverHttp);
