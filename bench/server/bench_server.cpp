// Server benchmark (run by hand; figures go to docs/performance.md):
//  1. GetLanctoNF of 50,000 entries end to end (request, server, JSON, client
//     decoding into a packet) beside a raw read of the same rows from the same
//     SQLite file, as a ratio;
//  2. calls per second with 16 concurrent keep-alive connections: GetItem,
//     then GET /health over as many connections for as long, and the ratio
//     of the two (small calls should reach at least half of /health's rate).
// Usage: bench_server [entries-in-list=50000] [seconds=5] [connections=16] [--small-only]
//   --small-only skips the list calls of part 1 (the small calls alone).

#include <server/allocator.h>
#include <server/appserver.h>
#include <server/cancelnota.h>
#include <server/demodata.h>
#include <server/schema.h>

#include <client/httptransport.h>
#include <client/netconnection.h>
#include <tests/support/testsession.h>

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <httplib.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

static double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

int main(int argc, char** argv)
{
    server::tuneAllocator(); // as the server's entry point does
    QCoreApplication app(argc, argv);
    const int wanted = argc > 1 ? std::atoi(argv[1]) : 50000;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const int connections = argc > 3 ? std::atoi(argv[3]) : 16;
    const bool smallOnly = argc > 4 && std::string(argv[4]) == "--small-only";

    QTemporaryDir dir;
    server::Database db(server::DbConfig::parse("sqlite:" + dir.filePath("bench.db")));
    server::DemoOptions demo;
    demo.entries = wanted * 10 / 7 + 10; // seven entries in ten belong to branch 0001
    demo.spreadDays = 1;
    auto t0 = Clock::now();
    server::generateDemo(db, demo);
    std::printf("demo data: %d entries in %.2f s\n", demo.entries, since(t0));

    const double today = double(core::Date::today().wholeDays());
    server::ServerOptions opt;
    opt.port = 0;
    opt.threads = 32;
    opt.log = false;
    server::AppServer srv(db, opt);
    srv.bind();
    std::thread runner([&] { srv.run(); });
    const QString token = testsupport::logIn(db, srv.port());

    if (!smallOnly) {
        // 1. Raw read of the rows GetLanctoNF lists (same columns, same order).
        double raw = 1e9;
        int rawRows = 0;
        for (int rep = 0; rep < 3; ++rep) {
            QSqlDatabase conn = db.connection();
            t0 = Clock::now();
            QSqlQuery q(conn);
            q.setForwardOnly(true);
            q.prepare(
                "SELECT CDFILIAL, DTENTRSAID, NRLANCTONF, NREXPEDICAO, NRLANCESTQ, CDCLIENTE, NMRAZSOCCLIE, NRNOTAFISC, "
                "DTEMISSAO, IDSISTEMA, NMFANTCLIE, IDSTATUS, IDSTATUSNFE, CDFILIEMIT, NRACESSONFE, CDEMPRESA, "
                "IDTIPOEMISNFE, CDINSCESTA, NRVERSAO FROM LANCTONF WHERE CDFILIAL = ? AND DTENTRSAID BETWEEN ? AND ? "
                "ORDER BY DTENTRSAID, NRLANCTONF, NREXPEDICAO");
            q.addBindValue("0001");
            q.addBindValue(qint64(today));
            q.addBindValue(qint64(today));
            q.exec();
            std::vector<QVariant> cells;
            cells.reserve(size_t(wanted) * 19 + 100);
            rawRows = 0;
            while (q.next()) {
                for (int i = 0; i < 19; ++i)
                    cells.push_back(q.value(i));
                ++rawRows;
            }
            raw = std::min(raw, since(t0));
        }

        // End to end through the client transport.
        core::HttpTransport transport;
        core::CallRequest req{server::kCancelNotaServer,
                              "GetLanctoNF",
                              {core::Variant("0001"), core::Variant(today), core::Variant(core::Date{today}), "", "T",
                               "", "T", "", "", "T", "T"},
                              {}};
        req.token = token;
        double e2e = 1e9;
        int rows = 0;
        for (int rep = 0; rep < 3; ++rep) {
            t0 = Clock::now();
            const core::CallResponse r = transport.call("127.0.0.1", srv.port(), req);
            rows = r.result.payload.packet().rowCount();
            e2e = std::min(e2e, since(t0));
        }
        std::printf(
            "GetLanctoNF: %d rows end to end %.3f s; raw read %d rows %.3f s; ratio %.2f; %.2f us a row end to end\n",
            rows, e2e, rawRows, raw, e2e / raw, e2e / std::max(rows, 1) * 1e6);
        // The server's memory for the answer: heap in use sampled while a client
        // that only counts the bytes reads it (the client keeps nothing).
        {
            const size_t before = mallinfo2().uordblks;
            std::atomic<bool> running{true};
            std::atomic<size_t> peak{before};
            std::thread sampler([&] {
                while (running.load()) {
                    peak.store(std::max(peak.load(), size_t(mallinfo2().uordblks)));
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
            });
            httplib::Client cl("127.0.0.1", srv.port());
            httplib::Request hr;
            hr.method = "POST";
            hr.path = "/call";
            hr.body = transport.encodeRequest(req).toStdString();
            hr.set_header("Content-Type", "application/json");
            hr.set_header("Authorization", "Bearer " + token.toStdString());
            size_t received = 0;
            hr.content_receiver = [&](const char*, size_t n, uint64_t, uint64_t) {
                received += n;
                return true;
            };
            cl.send(hr);
            running.store(false);
            sampler.join();
            std::printf(
                "  server heap for the answer (peak above the start, client keeping nothing): %.1f MB for %.1f MB sent\n",
                (double(peak.load()) - double(before)) / 1e6, received / 1e6);
        }
        // Server side alone (no socket, no client decoding), for the breakdown.
        {
            const std::string body = transport.encodeRequest(req).toStdString();
            double serverOnly = 1e9;
            size_t bytes = 0;
            for (int rep = 0; rep < 3; ++rep) {
                t0 = Clock::now();
                bytes = srv.handleCall(body).body.size();
                serverOnly = std::min(serverOnly, since(t0));
            }
            std::printf("  of which the server (query, packet, JSON encoding): %.3f s for %.1f MB\n", serverOnly,
                        bytes / 1e6);
        }

        // The whole list sent back: tick-all (VerReplic) over the same 50,000 entries.
        {
            core::CallResponse listed = transport.call("127.0.0.1", srv.port(), req);
            core::CallRequest tickAll{server::kCancelNotaServer, "VerReplic", {listed.result.payload, "", ""}, {}};
            tickAll.token = token;
            const std::string body = transport.encodeRequest(tickAll).toStdString();
            double e2eTick = 1e9, serverTick = 1e9;
            qint64 ticked = 0;
            for (int rep = 0; rep < 3; ++rep) {
                t0 = Clock::now();
                const core::CallResponse r = transport.call("127.0.0.1", srv.port(), tickAll);
                ticked = r.result.payload[2].toInt();
                e2eTick = std::min(e2eTick, since(t0));
                t0 = Clock::now();
                srv.handleCall(body);
                serverTick = std::min(serverTick, since(t0));
            }
            std::printf("VerReplic whole list: %d rows sent, %lld ticked, end to end %.3f s (server alone %.3f s)\n",
                        rows, ticked, e2eTick, serverTick);
            // The other two calls that send the whole list up: the version check,
            // and a cancellation with nothing ticked (every entry read and checked,
            // nothing changed).
            const core::CallRequest calls[] = {
                {server::kCancelNotaServer, "GetVdCancela", {listed.result.payload, "0001"}, {}, token},
                {server::kCancelNotaServer,
                 "CancelaNota",
                 {"0001", listed.result.payload, "0001", testsupport::kOperator, "T"},
                 {},
                 token},
            };
            for (const core::CallRequest& up : calls) {
                double best = 1e9;
                for (int rep = 0; rep < 3; ++rep) {
                    t0 = Clock::now();
                    const core::CallResponse r = transport.call("127.0.0.1", srv.port(), up);
                    best = std::min(best, since(t0));
                    if (!r.result.ok)
                        std::printf("  %s failed: %s\n", qPrintable(up.method), qPrintable(r.result.message));
                }
                std::printf("%s whole list: %d rows sent, end to end %.3f s; ratio to the raw read %.2f\n",
                            qPrintable(up.method), rows, best, best / raw);
            }
            std::printf("VerReplic ratio to the raw read %.2f\n", e2eTick / raw);
        }

    } // the list calls

    // 2. Calls per second with N keep-alive connections, each client timing its own calls.
    struct Rate {
        double perSecond = 0, p50 = 0, p99 = 0;
        long failures = 0;
    };
    auto measure = [&](auto&& send) {
        std::atomic<long> calls{0}, failures{0};
        std::vector<double> lat;
        std::mutex latMutex;
        std::vector<std::thread> clients;
        const auto stopAt =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        const auto start = Clock::now();
        for (int c = 0; c < connections; ++c) {
            clients.emplace_back([&] {
                httplib::Client cl("127.0.0.1", srv.port());
                cl.set_keep_alive(true);
                cl.set_tcp_nodelay(true);
                std::vector<double> mine;
                while (Clock::now() < stopAt) {
                    const auto s = Clock::now();
                    auto r = send(cl);
                    mine.push_back(since(s));
                    if (r && r->status == 200) {
                        ++calls;
                    } else {
                        ++failures;
                        std::lock_guard<std::mutex> g(latMutex);
                        if (r)
                            std::printf("  failed call: HTTP %d %s\n", r->status, r->body.substr(0, 200).c_str());
                        else
                            std::printf("  failed call: %s\n", httplib::to_string(r.error()).c_str());
                    }
                }
                std::lock_guard<std::mutex> g(latMutex);
                lat.insert(lat.end(), mine.begin(), mine.end());
            });
        }
        for (auto& t : clients)
            t.join();
        const double took = since(start);
        std::sort(lat.begin(), lat.end());
        auto pct = [&](double p) {
            return lat.empty() ? 0.0 : lat[std::min(lat.size() - 1, size_t(p * lat.size()))] * 1000;
        };
        return Rate{calls / took, pct(0.5), pct(0.99), failures.load()};
    };
    const std::string small = R"({"server":"Exp01800.rdmCancelNota","method":"GetItem","args":["0001","0000000010"]})";
    const httplib::Headers session = testsupport::bearer(token);
    const Rate item =
        measure([&](httplib::Client& cl) { return cl.Post("/call", session, small, "application/json"); });
    std::printf(
        "GetItem with %d connections: %.0f calls/s over %.1f s (%ld failures); latency p50 %.2f ms, p99 %.2f ms\n",
        connections, item.perSecond, seconds, item.failures, item.p50, item.p99);
    const Rate health = measure([&](httplib::Client& cl) { return cl.Get("/health"); });
    std::printf("/health with %d connections: %.0f calls/s (%ld failures); latency p50 %.2f ms, p99 %.2f ms\n",
                connections, health.perSecond, health.failures, health.p50, health.p99);
    std::printf("GetItem / health: %.0f%% (target at least 50%%, GetItem p99 under 10 ms)\n",
                health.perSecond > 0 ? 100 * item.perSecond / health.perSecond : 0.0);

    srv.stop();
    runner.join();
    return 0;
}
