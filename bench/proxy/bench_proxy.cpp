// Proxy benchmark (run by hand; figures go to docs/performance.md): small
// calls (GetItem of one entry) per second with C keep-alive clients for S
// seconds each, on a throw-away PostgreSQL with demo data:
//   1. straight to one exp_appserver (plain HTTP);
//   2. over HTTPS through HAProxy (deploy/haproxy) with one server;
//   3. the same with two servers.
// Usage: bench_proxy [seconds=5] [clients=16] [db-connections per server=4]

#include <server/demodata.h>
#include <server/schema.h>

#include <core/errors.h>
#include <client/httptransport.h>

#include <support/scalerig.h>
#include <support/testca.h>
#include <support/testsession.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct Figure {
    double perSecond = 0, p50 = 0, p99 = 0;
    int errors = 0;
};

Figure measure(const QString& host, int port, const QString& ca, int clients, double seconds)
{
    std::atomic<bool> stop{false};
    std::atomic<int> errors{0};
    std::vector<std::vector<double>> lat(static_cast<size_t>(clients));
    std::vector<std::thread> ts;
    const core::CallRequest req0{"Exp01800.rdmCancelNota", "GetItem", {"0001", "0000000001"}, {}};
    for (int c = 0; c < clients; ++c)
        ts.emplace_back([&, c] {
            core::HttpTransport t;
            if (!ca.isEmpty())
                t.setCaFile(ca);
            core::CallRequest req = req0;
            try {
                req.token = t.login(host, port, testsupport::kOperator, testsupport::kPassword).token;
            } catch (const core::Error& e) {
                std::fprintf(stderr, "login: %s\n", e.what());
                ++errors;
                return;
            }
            while (!stop) {
                const auto t0 = Clock::now();
                try {
                    t.call(host, port, req);
                    lat[size_t(c)].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                } catch (const core::Error& e) {
                    if (++errors == 1)
                        std::fprintf(stderr, "first error: %s\n", e.what());
                }
            }
        });
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : ts)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    std::vector<double> all;
    for (auto& l : lat)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Figure f;
    f.errors = errors;
    if (all.empty())
        return f;
    f.perSecond = double(all.size()) / elapsed;
    f.p50 = all[all.size() / 2];
    f.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    return f;
}

void print(const char* what, const Figure& f)
{
    std::printf("%-34s %8.0f calls/s   p50 %6.2f ms   p99 %6.2f ms   errors %d\n", what, f.perSecond, f.p50, f.p99,
                f.errors);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 16;
    const QString dbConnections = argc > 3 ? QString(argv[3]) : QString("4");
    if (!testsupport::PgTemp::available() || !testsupport::Proxy::available() || !testsupport::TestCa::available()) {
        std::fprintf(stderr, "needs PostgreSQL 15, haproxy and openssl (scripts/deps.sh)\n");
        return 1;
    }
    QTemporaryDir dir;
    QString why;
    testsupport::PgTemp pg(EXP_SOURCE_DIR);
    if (!pg.start(why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const QString dbText = "postgres:" + pg.conn;
    {
        server::Database db(server::DbConfig::parse(dbText));
        server::DemoOptions demo;
        demo.entries = 2000;
        server::generateDemo(db, demo);
        testsupport::ensureOperator(db);
    }
    testsupport::TestCa ca;
    if (!ca.make(dir.path(), {"DNS:localhost"})) {
        std::fprintf(stderr, "%s\n", qPrintable(ca.error));
        return 1;
    }
    testsupport::AppServerProcess app1(EXP_APPSERVER_BIN, dbText, testsupport::freePort(), dir.filePath("app1.log"),
                                       {"--db-connections", dbConnections});
    testsupport::AppServerProcess app2(EXP_APPSERVER_BIN, dbText, testsupport::freePort(), dir.filePath("app2.log"),
                                       {"--db-connections", dbConnections});
    if (!app1.start(why) || !app2.start(why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const QString cfg = QString(EXP_SOURCE_DIR) + "/deploy/haproxy/exp-appserver.cfg";
    const QString a1 = QString("127.0.0.1:%1").arg(app1.port()), a2 = QString("127.0.0.1:%1").arg(app2.port());
    std::printf("%d clients, %.0f s each, GetItem of one entry in a session, servers with 64 workers and %s database "
                "connections\n",
                clients, seconds, qPrintable(dbConnections));
    print("direct, one server (HTTP)", measure("127.0.0.1", app1.port(), QString(), clients, seconds));
    {
        testsupport::Proxy proxy;
        const int port = testsupport::freePort();
        if (!proxy.start(cfg, port, ca.combinedFile, {a1}, dir.filePath("proxy1.log"), why)) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        print("proxy (HTTPS), one server", measure("https://localhost", port, ca.caFile, clients, seconds));
    }
    {
        testsupport::Proxy proxy;
        const int port = testsupport::freePort();
        if (!proxy.start(cfg, port, ca.combinedFile, {a1, a2}, dir.filePath("proxy2.log"), why)) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        print("proxy (HTTPS), two servers", measure("https://localhost", port, ca.caFile, clients, seconds));
    }
    return 0;
}
