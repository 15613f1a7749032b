// Attacks that try to exhaust a running exp_appserver process (the real
// executable, its log in a file), each bounded to a few seconds on loopback:
// trickled log-in bodies, a flood of wrong passwords, password guessing and
// code listing, one operator holding the database workers, world-readable
// files, and a flood of refused calls filling the log. While an attack runs,
// a well-behaved operator on "another machine" (127.0.0.2) keeps calling;
// its small call and GET /health must each stay under 200 ms at the median.
#include <server/database.h>
#include <server/loginthrottle.h>
#include <server/operators.h>
#include <server/schema.h>

#include <support/scalerig.h>
#include <support/testsession.h>
#include <support/wire.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;
using testsupport::Wire;
using testsupport::httpPost;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kGetExp = R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]})";
constexpr qint64 kDay = 46000;
constexpr double kMedianMs = 200;

std::string loginBody(const QString& code, const QString& password)
{
    return QJsonDocument(QJsonObject{{"operador", code}, {"senha", password}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

int mode(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

double msSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

class Exhaust : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        dbText = "sqlite:" + dir.filePath("exhaust.db");
        server::Database db(server::DbConfig::parse(dbText));
        server::migrateSchema(db);
        testsupport::ensureOperator(db, "BOM");
        testsupport::ensureOperator(db, "ATAQUE");
    }
    /// Starts the server (extra options after the rig's) and logs BOM in from 127.0.0.2.
    void start(QStringList extra = {})
    {
        QString why;
        app = std::make_unique<testsupport::AppServerProcess>(EXP_APPSERVER_BIN, dbText, testsupport::freePort(),
                                                              dir.filePath("server.log"), extra);
        ASSERT_TRUE(app->start(why)) << why.toStdString();
        good = login("BOM", "127.0.0.2");
        ASSERT_FALSE(good.empty());
    }
    std::string login(const QString& code, const char* from, const QString& password = testsupport::kPassword)
    {
        Wire w(app->port(), from);
        std::string body;
        if (w.exchange(httpPost("/login", loginBody(code, password)), 5s, &body) != 200)
            return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(body))
            .object()
            .value("token")
            .toString()
            .toStdString();
    }
    /// Checks the well-behaved caller's medians over the attack.
    static void expectServed(testsupport::WellBehaved& caller)
    {
        caller.finish();
        std::printf("well-behaved caller: small call %.1f ms, /health %.1f ms (medians of %zu)\n", caller.callMs(),
                    caller.healthMs(), caller.samples());
        EXPECT_GE(caller.samples(), 5u);
        EXPECT_LT(caller.callMs(), kMedianMs) << "small call, median";
        EXPECT_LT(caller.healthMs(), kMedianMs) << "/health, median";
    }

    /// `n` entries of branch 0001 on one day, for the large list calls.
    void addEntries(int n)
    {
        server::Database db(server::DbConfig::parse(dbText));
        QSqlDatabase c = db.connection();
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec("BEGIN"));
        q.prepare(
            "INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTENTRSAID, NREXPEDICAO, NRLANCESTQ, NMRAZSOCCLIE, "
            "IDSTATUS, CDFILIEMIT, CDROTATRANS) VALUES ('0001', ?, ?, '0000000001', ?, ?, 'P', '0001', 'R00001')");
        for (int i = 1; i <= n; ++i) {
            const QString nr = QString::number(i).rightJustified(10, '0');
            q.addBindValue(nr);
            q.addBindValue(kDay);
            q.addBindValue("9" + nr.mid(1));
            q.addBindValue(QString("Cliente de nome bem comprido número %1").arg(i));
            ASSERT_TRUE(q.exec());
        }
        ASSERT_TRUE(q.exec("COMMIT"));
    }

    QTemporaryDir dir;
    QString dbText;
    std::unique_ptr<testsupport::AppServerProcess> app;
    std::string good;
};

// 70 connections announce a 4,000-byte log-in body and send a byte every
// half second: each is cut at the short body deadline (3 s), not the 60 s
// of a logged-in caller's body, and holds no worker meanwhile.
TEST_F(Exhaust, TrickledLoginBodiesAreCutAtTheShortDeadline)
{
    start();
    testsupport::WellBehaved caller(app->port(), good, kGetExp);
    std::vector<std::unique_ptr<Wire>> slow;
    for (int i = 0; i < 70; ++i) {
        slow.push_back(std::make_unique<Wire>(app->port(), "127.0.0.1"));
        slow.back()->send("POST /login HTTP/1.1\r\nHost: x\r\nContent-Length: 4000\r\n\r\n{\"operador\":");
    }
    const auto t0 = Clock::now();
    int open = 70;
    while (open > 0 && Clock::now() - t0 < 6s) {
        std::this_thread::sleep_for(500ms);
        open = 0;
        for (auto& w : slow)
            open += w->send("x") ? 1 : 0;
    }
    EXPECT_EQ(open, 0) << "trickled log-ins outlived the short deadline";
    EXPECT_GT(msSince(t0), 2000);
    EXPECT_LT(msSince(t0), 5000);
    expectServed(caller);
}

// 32 connections from 32 addresses (so that no per-address wait stops them)
// send wrong passwords as fast as they are answered (20 ms apart after a
// 503): the checks queue on their own two threads, a check beyond the queue is answered 503 at once,
// and calls and health checks of others go on.
TEST_F(Exhaust, WrongPasswordFloodWaitsOnItsOwnBoundedPool)
{
    start({"--hash-queue", "4"});
    testsupport::WellBehaved caller(app->port(), good, kGetExp);
    std::atomic<int> other{0};
    std::mutex mutex;
    std::vector<double> busyMs, checkedMs;
    std::vector<std::thread> attackers;
    const auto t0 = Clock::now();
    for (int i = 0; i < 32; ++i)
        attackers.emplace_back([&, i] {
            const std::string from = "127.0.1." + std::to_string(i + 1);
            Wire w(app->port(), from.c_str());
            for (int n = 0; Clock::now() - t0 < 3s && w.ok(); ++n) {
                const auto t1 = Clock::now();
                const int st =
                    w.exchange(httpPost("/login", loginBody(QString("X%1_%2").arg(i).arg(n), "senha-errada-123")), 20s);
                std::lock_guard lock(mutex);
                if (st == 503)
                    busyMs.push_back(msSince(t1));
                else if (st == 401)
                    checkedMs.push_back(msSince(t1));
                else
                    ++other;
                if (st == 503)
                    std::this_thread::sleep_for(20ms);
            }
        });
    for (auto& t : attackers)
        t.join();
    expectServed(caller);
    EXPECT_FALSE(checkedMs.empty());
    ASSERT_FALSE(busyMs.empty()) << "the check queue never filled";
    // A 503 comes before any waiting: well before a checked refusal.
    EXPECT_LT(testsupport::median(busyMs), testsupport::median(checkedMs) / 2)
        << "503 " << testsupport::median(busyMs) << " ms, checked " << testsupport::median(checkedMs) << " ms";
    EXPECT_EQ(other.load(), 0);
}

// Guessing from one address slows that address (growing waits, logged)
// while the operator logs in at once from their own; an unknown code costs
// what a known one does.
TEST_F(Exhaust, GuessingIsSlowedPerAddressAndUnknownCodesCostTheSame)
{
    {
        server::Database db(server::DbConfig::parse(dbText));
        server::Operators(db, server::PasswordCost::Interactive).add("ANA", "Ana", "senha-da-ana-1", {"*"});
    }
    start();
    Wire guesser(app->port(), "127.0.0.3");
    std::vector<int> statuses;
    std::string body;
    for (int i = 0; i < 6; ++i)
        statuses.push_back(guesser.exchange(httpPost("/login", loginBody("ANA", "chute-errado")), 5s, &body));
    // Three free failures, a fourth that imposes a 1 s wait, then refused unchecked.
    EXPECT_EQ(statuses, (std::vector<int>{401, 401, 401, 401, 429, 429}));
    EXPECT_NE(body.find("tente de novo"), std::string::npos) << body;
    // The right password is refused from the guessing address during its wait, accepted from the operator's own.
    EXPECT_EQ(guesser.exchange(httpPost("/login", loginBody("ANA", "senha-da-ana-1")), 5s), 429);
    const auto t0 = Clock::now();
    EXPECT_FALSE(login("ANA", "127.0.0.2", "senha-da-ana-1").empty())
        << "the operator was locked out by another address";
    EXPECT_LT(msSince(t0), 1000);
    // After the wait the guesser may try again (and the next failure waits longer).
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(guesser.exchange(httpPost("/login", loginBody("ANA", "chute-errado")), 5s), 401);
    EXPECT_EQ(guesser.exchange(httpPost("/login", loginBody("ANA", "chute-errado")), 5s), 429);

    // Known and unknown codes, each from fresh addresses: the same cost.
    std::vector<double> known, unknown;
    for (int i = 0; i < 3; ++i)
        for (const char* code : {"ANA", "NINGUEM"}) {
            const std::string from = "127.0.2." + std::to_string(10 + i) + std::string(code[0] == 'A' ? "1" : "2");
            Wire w(app->port(), from.c_str());
            const auto t1 = Clock::now();
            EXPECT_EQ(w.exchange(httpPost("/login", loginBody(code, "chute-errado")), 5s), 401);
            (code[0] == 'A' ? known : unknown).push_back(msSince(t1));
        }
    const double k = testsupport::median(known), u = testsupport::median(unknown);
    std::printf("wrong password: known code %.1f ms, unknown code %.1f ms (medians)\n", k, u);
    EXPECT_GT(u, 0.6 * k) << "unknown " << u << " ms, known " << k << " ms";
    EXPECT_LT(u, 1.6 * k) << "unknown " << u << " ms, known " << k << " ms";
    EXPECT_TRUE(app->log().contains("next try from this address in 1 s")) << app->log().toStdString();
}

// One operator asks for a large list on four connections and never reads:
// they hold at most two database workers, each answer is cut once it makes
// no progress for 2 s, and another operator's calls go on.
TEST_F(Exhaust, OneSessionHoldsTwoWorkersAndStalledAnswersAreCut)
{
    addEntries(40000);
    start({"--stall-timeout", "2"});
    const std::string attacker = login("ATAQUE", "127.0.0.1");
    ASSERT_FALSE(attacker.empty());
    const std::string list =
        R"({"server":"Exp01800.rdmCancelNota","method":"GetLanctoNF","args":["0001",{"date":45990},)"
        R"({"date":46010},"","T","","T","","","T","T"]})";
    testsupport::WellBehaved caller(app->port(), good, kGetExp);
    std::vector<std::unique_ptr<Wire>> hogs;
    for (int i = 0; i < 4; ++i) {
        hogs.push_back(std::make_unique<Wire>(app->port(), "127.0.0.1", nullptr, 4096));
        ASSERT_TRUE(hogs.back()->send(httpPost("/call", list, attacker)));
    }
    // Not reading: two answers stall and are cut after 2 s, then the other two.
    std::this_thread::sleep_for(5500ms);
    expectServed(caller);
    for (auto& h : hogs) {
        bool closed = false;
        const std::string got = h->drain(3s, closed);
        EXPECT_TRUE(closed);
        EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u);
        EXPECT_FALSE(got.ends_with("\r\n0\r\n\r\n")) << "a stalled answer was not cut";
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(app->log().count("connection lost after"), 4) << app->log().right(3000).toStdString();
}

// The database (every operator's password hash), its -wal and -shm files and
// the log are the owner's only, whatever the umask: made so by `demo` and
// `serve`, and tightened when an older run left them readable.
TEST_F(Exhaust, DatabaseAndLogFilesAreTheOwnersOnly)
{
    const mode_t before = ::umask(022);
    QProcess demo;
    demo.start(EXP_APPSERVER_BIN, {"demo", "--db", "sqlite:" + dir.filePath("demo.db"), "--entries", "20"});
    ASSERT_TRUE(demo.waitForFinished(60000));
    ASSERT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().toStdString();
    EXPECT_EQ(mode(dir.filePath("demo.db")), 0600);

    // The fixture's database was made here, 0644 under this umask; the log file too.
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("exhaust.db"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    {
        QFile log(dir.filePath("server.log"));
        ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    }
    ASSERT_EQ(mode(dir.filePath("server.log")), 0644);
    start();
    ::umask(before);
    EXPECT_EQ(login("BOM", "127.0.0.2").empty(), false); // a write: the -wal file exists now
    for (const char* f : {"exhaust.db", "exhaust.db-wal", "exhaust.db-shm", "server.log"})
        EXPECT_EQ(mode(dir.filePath(f)), 0600) << f;
}

// A flood of calls with a made-up token from one address: a few lines in
// full, the rest counted in one summary line per address and period.
TEST_F(Exhaust, RefusedCallsAreCountedNotLoggedOneByOne)
{
    start();
    const qsizetype logBefore = app->log().size();
    const std::string madeUp(64, 'a');
    std::atomic<int> refused{0};
    std::vector<std::thread> flood;
    const auto t0 = Clock::now();
    for (int i = 0; i < 4; ++i)
        flood.emplace_back([&] {
            Wire w(app->port(), "127.0.0.3");
            while (Clock::now() - t0 < 2s && w.exchange(httpPost("/call", kGetExp, madeUp), 5s) == 401)
                ++refused;
        });
    for (auto& t : flood)
        t.join();
    ASSERT_GT(refused.load(), 2000);
    app->kill(SIGTERM); // the summaries still due are written at the stop
    const QString added = app->log().mid(logBefore);
    std::printf("%d refusals wrote %lld bytes of log\n", refused.load(), qint64(added.size()));
    EXPECT_LT(added.size(), 4000) << refused.load() << " refusals wrote " << added.size() << " bytes";
    const QRegularExpression summary("127\\.0\\.0\\.3.*refused (\\d+) more in");
    int counted = 0;
    for (auto it = summary.globalMatch(added); it.hasNext();)
        counted += it.next().captured(1).toInt();
    EXPECT_EQ(counted + added.count("sem sessão válida") - added.count("(last: refused: sem sessão válida)"),
              refused.load())
        << added.toStdString();
}

// Guessing spread over many addresses: once an operator's failures pass the
// alarm, every address waits after its first failure for that code; an
// address that has not failed still tries at once, and counts fade.
TEST(LoginThrottle, SpreadGuessingSlowsEveryFailingAddressButLocksNobodyOut)
{
    server::LoginThrottle::Options o;
    o.operatorAlarm = 5;
    server::LoginThrottle t(o);
    const auto now = server::LoginThrottle::Clock::now();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(t.failed("ANA", QString("10.0.0.%1").arg(i), now).count(), 0);
    EXPECT_EQ(t.failed("ANA", "10.0.0.9", now).count(), 1000); // the fifth: alarm, the address waits at once
    EXPECT_EQ(t.wait("ANA", "10.0.0.9", now).count(), 1000);
    EXPECT_EQ(t.wait("ANA", "10.0.0.2", now).count(), 0);    // failed once before the alarm: no wait yet
    EXPECT_EQ(t.wait("ANA", "192.168.1.7", now).count(), 0); // the operator's own machine
    EXPECT_EQ(t.wait("BETO", "10.0.0.9", now).count(), 0);   // other codes from that address: its own count
    t.succeeded("ANA", "10.0.0.9");
    EXPECT_EQ(t.wait("ANA", "10.0.0.9", now).count(), 0);
    EXPECT_EQ(t.failed("ANA", "10.0.0.3", now + o.window + std::chrono::seconds(1)).count(), 0)
        << "failures older than the window fade";
}

// A caller that goes away in the middle of a large list (as the client does
// when the operator interrupts a load): the server's next write fails, its
// row loop ends there rather than at the stall deadline, and the server's
// one database connection is free for the next call at once.
TEST_F(Exhaust, AListWhoseCallerLeavesStopsReadingRowsAndFreesItsConnection)
{
    addEntries(40000);
    start({"--db-connections", "1", "--stall-timeout", "60"});
    const std::string list =
        R"({"server":"Exp01800.rdmCancelNota","method":"GetLanctoNF","args":["0001",{"date":45990},)"
        R"({"date":46010},"","T","","T","","","T","T"]})";
    {
        Wire leaving(app->port(), "127.0.0.2", nullptr, 4096);
        ASSERT_TRUE(leaving.send(httpPost("/call", list, good)));
        std::this_thread::sleep_for(500ms); // the answer fills the socket buffers; nothing is read
    }
    const auto t0 = Clock::now();
    QRegularExpressionMatch m;
    while (!(m = QRegularExpression("connection lost after (\\d+) rows").match(app->log())).hasMatch()
           && Clock::now() - t0 < 5s)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(m.hasMatch()) << app->log().right(2000).toStdString();
    EXPECT_LT(m.captured(1).toInt(), 40000) << "the rows after the caller left were not read";
    Wire next(app->port(), "127.0.0.2");
    EXPECT_EQ(next.exchange(httpPost("/call", kGetExp, good), 5s), 200) << "the database connection was released";
    EXPECT_LT(msSince(t0), 5000.0);
}
