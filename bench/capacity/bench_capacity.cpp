// Capacity benchmark (run by hand; figures go to docs/performance.md and the
// sizing table of docs/deploy.md): fifty operators at once, over HTTPS
// through HAProxy with the shipped configuration, against two exp_appserver
// processes on one throw-away PostgreSQL. Each operator plays a working hour
// compressed, round after round without pauses:
//   - filter and load the branch's list for the week (a few thousand entries);
//   - move through ten of its entries: their items and stock movements;
//   - tick three of them (the server's check of each);
//   - cancel one item of one entry, and one whole entry.
// Every operator works on entries of its own, so a refusal means the data
// changed under it, never a collision. At the end: calls per second, p50
// and p99 per method, errors (must be none: connection failures, internal
// errors, "busy" answers), business refusals, and the most database
// connections open at once.
// Usage: bench_capacity [seconds=30] [operators=50] [db-connections per server=6] [entries=6000]

#include <server/demodata.h>
#include <server/schema.h>

#include <core/datapacket.h>
#include <core/errors.h>
#include <client/httptransport.h>

#include <support/scalerig.h>
#include <support/testca.h>
#include <support/testsession.h>

#include <QCoreApplication>
#include <QDate>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using core::Variant;

namespace {

const QString kServer = QStringLiteral("Exp01800.rdmCancelNota");

struct Tally {
    std::map<QString, std::vector<double>> ms; ///< by method
    int errors = 0, refused = 0, cancelled = 0;
    QString firstError, firstRefusal;
};

class Operator {
public:
    Operator(int id, int operators, int port, const QString& ca, qint64 today)
        : id_(id), operators_(operators), port_(port), today_(today), rng_(quint32(7 + id))
    {
        t_.setCaFile(ca);
        t_.setReadTimeout(std::chrono::seconds(60));
    }
    static QString code(int id) { return QString("OP%1").arg(id, 2, 10, QChar('0')); }

    void run(const std::atomic<bool>& stop, Tally& out)
    {
        try {
            token_ = t_.login("https://localhost", port_, code(id_), testsupport::kPassword).token;
        } catch (const core::Error& e) {
            error(out, "login: " + e.message());
            return;
        }
        while (!stop)
            round(out);
    }

private:
    void round(Tally& out)
    {
        core::DataPacket list;
        if (!call(out, "GetLanctoNF",
                  {"0001", core::Date{double(today_ - 6)}, core::Date{double(today_)}, "", "T", "", "T", "", "", "T",
                   "T"},
                  &list))
            return;
        const int iNr = list.fieldIndex("NRLANCTONF"), iStatus = list.fieldIndex("IDSTATUS"),
                  iCheck = list.fieldIndex("IDCHECK");
        // This operator's share of the list: every operators_-th entry, still pending.
        std::vector<size_t> mine;
        for (size_t r = size_t(id_); r < list.rows().size(); r += size_t(operators_))
            if (list.rows()[r][size_t(iStatus)].toString() == "P")
                mine.push_back(r);
        if (mine.empty())
            return;
        std::shuffle(mine.begin(), mine.end(), rng_);
        const size_t n = std::min<size_t>(10, mine.size());
        core::DataPacket items;
        QString withItems;
        for (size_t k = 0; k < n; ++k) {
            const QString nr = list.rows()[mine[k]][size_t(iNr)].toString();
            Variant answer;
            if (!call(out, "GetItem", {"0001", nr}, nullptr, &answer))
                return;
            if (withItems.isEmpty() && answer.isArray() && answer[0].packet().rowCount() > 1) {
                items = answer[0].packet();
                withItems = nr;
            }
            if (!call(out, "GetItLanctoEst", {"0001", nr}))
                return;
            if (k < 3 && !call(out, "VerReplic", {Variant(), "0001", nr}))
                return;
        }
        if (!withItems.isEmpty()) {
            const auto& e = *std::find_if(list.rows().begin(), list.rows().end(), [&](const core::PacketRow& row) {
                return row[size_t(iNr)].toString() == withItems;
            });
            items.rows()[0][size_t(items.fieldIndex("IDCHECK"))] = Variant("S");
            call(out, "CancelaItemNf",
                 {"0001", items, withItems, e[size_t(list.fieldIndex("NREXPEDICAO"))],
                  e[size_t(list.fieldIndex("NRLANCESTQ"))], e[size_t(list.fieldIndex("DTENTRSAID"))],
                  e[size_t(list.fieldIndex("CDFILIEMIT"))], code(id_)});
        }
        const size_t whole = mine[n - 1];
        if (list.rows()[whole][size_t(iNr)].toString() != withItems) {
            list.rows()[whole][size_t(iCheck)] = Variant("S");
            if (call(out, "CancelaNota", {"0001", list, "0001", code(id_), "T"}))
                ++out.cancelled;
        }
    }

    bool call(Tally& out, const QString& method, core::VariantArray args, core::DataPacket* packet = nullptr,
              Variant* payload = nullptr)
    {
        core::CallRequest r{kServer, method, {args.begin(), args.end()}, {}, token_};
        const auto t0 = Clock::now();
        try {
            Variant v = t_.call("https://localhost", port_, r).result.payload;
            out.ms[method].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (packet)
                *packet = v.packet();
            if (payload)
                *payload = std::move(v);
            return true;
        } catch (const core::ServerError& e) {
            out.ms[method].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            // A refusal of the business rules is a catalogue key; anything else is the server failing.
            if (e.message().contains("Falha interna") || e.message().contains("ocupado"))
                error(out, method + ": " + e.message());
            else if (out.refused++ == 0)
                out.firstRefusal = method + ": " + e.message();
        } catch (const core::Error& e) {
            error(out, method + ": " + e.message());
        }
        return false;
    }
    static void error(Tally& out, const QString& what)
    {
        if (out.errors++ == 0)
            out.firstError = what;
    }

    int id_, operators_, port_;
    qint64 today_;
    std::mt19937 rng_;
    core::HttpTransport t_;
    QString token_;
};

double pct(std::vector<double>& v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    const int operators = argc > 2 ? std::atoi(argv[2]) : 50;
    const QString dbConnections = argc > 3 ? QString(argv[3]) : QString("6");
    const int entries = argc > 4 ? std::atoi(argv[4]) : 6000;
    if (!testsupport::PgTemp::available() || !testsupport::Proxy::available() || !testsupport::TestCa::available()) {
        std::fprintf(stderr, "needs PostgreSQL 15, haproxy and openssl (scripts/deps.sh)\n");
        return 1;
    }
    QTemporaryDir dir;
    if (qEnvironmentVariableIsSet("EXP_BENCH_KEEP")) { // keep the servers' and the proxy's logs
        dir.setAutoRemove(false);
        std::fprintf(stderr, "logs in %s\n", qPrintable(dir.path()));
    }
    QString why;
    testsupport::PgTemp pg(EXP_SOURCE_DIR);
    if (!pg.start(why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const QString dbText = "postgres:" + pg.conn;
    server::Database db(server::DbConfig::parse(dbText));
    {
        server::DemoOptions demo;
        demo.entries = entries;
        server::generateDemo(db, demo);
        for (int i = 0; i < operators; ++i)
            testsupport::ensureOperator(db, Operator::code(i));
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
    testsupport::Proxy proxy;
    const int port = testsupport::freePort();
    if (!proxy.start(QString(EXP_SOURCE_DIR) + "/deploy/haproxy/exp-appserver.cfg", port, ca.combinedFile,
                     {QString("127.0.0.1:%1").arg(app1.port()), QString("127.0.0.1:%1").arg(app2.port())},
                     dir.filePath("proxy.log"), why)) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const qint64 today = qint64(QDate(1899, 12, 30).daysTo(QDate::currentDate()));
    int listed = 0;
    {
        QSqlDatabase c = db.connection();
        QSqlQuery q(c);
        q.exec(QString("SELECT COUNT(*) FROM LANCTONF WHERE CDFILIAL = '0001' AND DTENTRSAID >= %1").arg(today - 6));
        if (q.next())
            listed = q.value(0).toInt();
    }
    std::printf(
        "%d operators, %.0f s, 2 servers x %s database connections behind HAProxy (HTTPS), list of %d entries\n",
        operators, seconds, qPrintable(dbConnections), listed);

    std::atomic<bool> stop{false};
    std::vector<Tally> tallies(static_cast<size_t>(operators));
    std::vector<std::thread> threads;
    for (int i = 0; i < operators; ++i)
        threads.emplace_back([&, i] { Operator(i, operators, port, ca.caFile, today).run(stop, tallies[size_t(i)]); });
    // The database connections the servers hold, sampled while they work.
    int peakConnections = 0;
    const auto t0 = Clock::now();
    {
        QSqlDatabase c = db.connection();
        while (std::chrono::duration<double>(Clock::now() - t0).count() < seconds) {
            QSqlQuery q(c);
            if (q.exec("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = 'exp_appserver' "
                       "AND pid <> pg_backend_pid()")
                && q.next())
                peakConnections = std::max(peakConnections, q.value(0).toInt());
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }
    stop = true;
    for (auto& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();

    Tally all;
    for (Tally& t : tallies) {
        for (auto& [m, v] : t.ms)
            all.ms[m].insert(all.ms[m].end(), v.begin(), v.end());
        all.errors += t.errors;
        all.refused += t.refused;
        all.cancelled += t.cancelled;
        if (all.firstError.isEmpty())
            all.firstError = t.firstError;
        if (all.firstRefusal.isEmpty())
            all.firstRefusal = t.firstRefusal;
    }
    size_t calls = 0;
    for (auto& [m, v] : all.ms)
        calls += v.size();
    std::printf("%-16s %8s %9s %10s %10s\n", "method", "calls", "calls/s", "p50 ms", "p99 ms");
    for (auto& [m, v] : all.ms)
        std::printf("%-16s %8zu %9.1f %10.1f %10.1f\n", qPrintable(m), v.size(), double(v.size()) / elapsed,
                    pct(v, 0.5), pct(v, 0.99));
    std::printf("all              %8zu %9.1f\n", calls, double(calls) / elapsed);
    std::printf("entries cancelled %d, business refusals %d%s%s, errors %d%s%s\n", all.cancelled, all.refused,
                all.refused ? " (first " : "", all.refused ? qPrintable(all.firstRefusal + ")") : "", all.errors,
                all.errors ? ": first " : "", qPrintable(all.firstError));
    std::printf("database connections of the servers at most %d (limit 2 x %s)\n", peakConnections,
                qPrintable(dbConnections));
    return all.errors == 0 ? 0 : 1;
}
