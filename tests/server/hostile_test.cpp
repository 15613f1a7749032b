// The server under hostile input: each attack is refused within a bounded
// time and memory while a well-behaved client, logged in from another
// address, keeps getting its answers. Attackers connect from 127.0.0.2, the
// good client from 127.0.0.1 (both loopback).
#include "serverfixture.h"

#include <server/appserver.h>
#include <support/rawsocket.h>
#include <support/testsession.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

using namespace servertest;
using namespace std::chrono_literals;
using testsupport::RawSocket;

namespace {

using Clock = std::chrono::steady_clock;
const char* const kAttacker = "127.0.0.2";

/// Calls GetExp every 20 ms until stopped; counts failures and the slowest answer.
class GoodClient {
public:
    GoodClient(int port, QString token) : port_(port), token_(std::move(token))
    {
        thread_ = std::thread([this] {
            httplib::Client c("127.0.0.1", port_);
            c.set_read_timeout(10);
            const std::string body = R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]})";
            while (!stop_.load()) {
                const auto t0 = Clock::now();
                auto r = c.Post("/call", testsupport::bearer(token_), body, "application/json");
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
                slowest_ = std::max<long long>(slowest_, ms);
                if (r && r->status == 200)
                    ++ok_;
                else
                    ++failed_;
                std::this_thread::sleep_for(20ms);
            }
        });
    }
    ~GoodClient() { finish(); }
    void finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    /// Waits (bounded) until at least one call was answered, so a test whose
    /// attack is refused at once still sees the client served beside it.
    void waitForAnAnswer(std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit;
        while (ok_.load() + failed_.load() == 0 && Clock::now() < end)
            std::this_thread::sleep_for(5ms);
    }
    int ok() const { return ok_; }
    int failed() const { return failed_; }
    long long slowestMs() const { return slowest_; }

private:
    int port_;
    QString token_;
    std::atomic<bool> stop_{false};
    std::atomic<int> ok_{0}, failed_{0};
    std::atomic<long long> slowest_{0};
    std::thread thread_;
};

std::string callHeaders(const QString& token, const std::string& extra)
{
    return "POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nAuthorization: Bearer "
        + token.toStdString() + "\r\n" + extra + "\r\n";
}

std::string fieldDefs(int n)
{
    std::string f = "[";
    for (int i = 0; i < n; ++i) {
        if (i)
            f += ',';
        f += R"({"name":"F)" + std::to_string(i) + R"(","type":"string","size":1})";
    }
    return f + "]";
}

} // namespace

class Hostile : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        server::ServerOptions o;
        o.threads = 8;
        o.maxBody = 2u << 20;
        o.headerTimeoutMs = 1000;
        o.bodyTimeoutMs = 2000;
        o.perAddress = 8;
        srv = std::make_unique<Served>(*db, o);
        token = testsupport::tokenFor(*db, srv->port());
        addEntry("0001", "0000000001");
        addItem("0001", "0000000001", "0001", "P1", 2);
        good = std::make_unique<GoodClient>(srv->port(), token);
        rss0 = testsupport::residentBytes();
    }
    void TearDown() override
    {
        if (good) {
            good->waitForAnAnswer(5s);
            good->finish();
            EXPECT_EQ(good->failed(), 0) << "the well-behaved client lost calls";
            EXPECT_GT(good->ok(), 0);
            EXPECT_LT(good->slowestMs(), 2000) << "the well-behaved client waited too long";
            EXPECT_LT(testsupport::residentBytes() - rss0, 200l << 20) << "the attack cost too much memory";
        }
        srv.reset();
        ServerDb::TearDown();
    }
    static std::string statusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

    std::unique_ptr<Served> srv;
    QString token;
    std::unique_ptr<GoodClient> good;
    long rss0 = 0;
};

TEST_P(Hostile, OversizedChunkedBodyIsCutAtTheLimit)
{
    RawSocket s(srv->port(), kAttacker);
    ASSERT_TRUE(s.connected());
    const auto t0 = Clock::now();
    ASSERT_TRUE(s.send(callHeaders(token, "Transfer-Encoding: chunked\r\n")));
    const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
    size_t sent = 0;
    while (sent < (size_t(1) << 30) && Clock::now() - t0 < 20s && s.send(chunk))
        sent += 0x10000;
    EXPECT_LT(sent, size_t(64) << 20) << "the server kept reading past its limit";
    EXPECT_LT(Clock::now() - t0, 10s);
    const std::string answer = s.readAll(3s);
    if (!answer.empty()) { // the refusal may be lost to the reset of a connection still sending
        EXPECT_EQ(statusLine(answer), "HTTP/1.1 413 Payload Too Large");
    }
}

TEST_P(Hostile, DeclaredOversizedAndEncodedBodiesAreRefusedUnread)
{
    {
        RawSocket s(srv->port(), kAttacker);
        ASSERT_TRUE(s.send(callHeaders(token, "Content-Length: 1073741824\r\n")));
        EXPECT_EQ(statusLine(s.readAll(3s)), "HTTP/1.1 413 Payload Too Large");
    }
    for (const char* encoding :
         {"Content-Encoding: gzip\r\nContent-Length: 1000000\r\n",
          "Content-Encoding: br\r\nTransfer-Encoding: chunked\r\n", "Transfer-Encoding: gzip, chunked\r\n"}) {
        RawSocket s(srv->port(), kAttacker);
        // A gzip header and then nothing: the server must answer without waiting for (or inflating) a body.
        ASSERT_TRUE(s.send(callHeaders(token, encoding) + "\x1f\x8b\x08"));
        const auto t0 = Clock::now();
        EXPECT_EQ(statusLine(s.readAll(3s)), "HTTP/1.1 415 Unsupported Media Type") << encoding;
        EXPECT_LT(Clock::now() - t0, 3s);
    }
    // Without a session the body is not read at all.
    RawSocket s(srv->port(), kAttacker);
    ASSERT_TRUE(s.send("POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n"));
    EXPECT_EQ(statusLine(s.readAll(3s)), "HTTP/1.1 401 Unauthorized");
    RawSocket login(srv->port(), kAttacker);
    ASSERT_TRUE(login.send("POST /login HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\n"));
    EXPECT_EQ(statusLine(login.readAll(3s)), "HTTP/1.1 413 Payload Too Large");
}

// A large body announced by its length is read straight from the socket:
// pieces of any size, a request pipelined behind it, a body that stalls past
// its deadline and one cut off halfway must all be handled as the parser
// handles a small one.
TEST_P(Hostile, LargeBodiesArriveInAnyPiecesAndStalledOrCutOnesAreDropped)
{
    // About 300 KB of blanks inside the object: valid JSON, well past the size read with the header.
    const std::string blanks(300000, ' ');
    const std::string body =
        R"({"server":"Exp01800.rdmCancelNota","method":"GetExp",)" + blanks + R"("args":["0001"]})";
    const std::string head = callHeaders(token, "Content-Length: " + std::to_string(body.size()) + "\r\n");
    {
        // The header with the first bytes of the body, then uneven pieces, then a
        // second (small) call on the same connection in the same write as the end.
        RawSocket s(srv->port(), kAttacker);
        ASSERT_TRUE(s.send(head + body.substr(0, 1000)));
        size_t at = 1000;
        for (size_t piece : {1u, 7u, 4096u, 65536u, 3u, 100000u}) {
            std::this_thread::sleep_for(10ms);
            ASSERT_TRUE(s.send(body.substr(at, piece)));
            at += piece;
        }
        const std::string small = R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]})";
        ASSERT_TRUE(s.send(body.substr(at)
                           + callHeaders(token, "Content-Length: " + std::to_string(small.size()) + "\r\n") + small));
        std::string answers;
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < 5s) {
            answers += s.readAll(200ms);
            size_t n = 0, from = 0;
            while ((from = answers.find("HTTP/1.1 200 OK", from)) != std::string::npos)
                ++n, ++from;
            if (n == 2)
                break;
        }
        EXPECT_EQ(statusLine(answers), "HTTP/1.1 200 OK");
        EXPECT_NE(answers.find("HTTP/1.1 200 OK", 10), std::string::npos) << "the pipelined call was not answered";
        EXPECT_EQ(answers.find("raised"), std::string::npos) << answers.substr(0, 400);
    }
    {
        // Stalled halfway: cut at the body deadline (2 s here), without an answer.
        RawSocket s(srv->port(), kAttacker);
        const auto t0 = Clock::now();
        ASSERT_TRUE(s.send(head + body.substr(0, 150000)));
        EXPECT_TRUE(s.closedWithin(4s)) << "a stalled body outlived its deadline";
        EXPECT_LT(Clock::now() - t0, 4s);
        EXPECT_GT(Clock::now() - t0, 1500ms);
    }
    {
        // Cut off halfway by the caller: dropped, nothing run (a cancellation
        // cut off this way would otherwise run on half a list).
        RawSocket s(srv->port(), kAttacker);
        ASSERT_TRUE(s.send(head + body.substr(0, 200000)));
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
}

TEST_P(Hostile, ThousandsOfFieldDefinitionsAndEightyThousandItemsAreRefusedFast)
{
    httplib::Client c("127.0.0.1", srv->port());
    c.set_read_timeout(10);
    const std::string manyFields =
        R"({"server":"Exp01800.rdmCancelNota","method":"GetVdCancela","args":[{"packet":{"fields":)" + fieldDefs(40000)
        + R"(,"rows":[]}},"0001"]})";
    ASSERT_GT(manyFields.size(), size_t(1) << 20);
    auto t0 = Clock::now();
    auto r = c.Post("/call", testsupport::bearer(token), manyFields, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(r->body.find("campos"), std::string::npos) << r->body.substr(0, 200);
    EXPECT_LT(Clock::now() - t0, 2s);

    // Many repeated names among the allowed number: refused by one hash lookup per field.
    std::string repeated = "[";
    for (int i = 0; i < 250; ++i)
        repeated += std::string(i ? "," : "") + R"({"name":"F","type":"string","size":1})";
    repeated += "]";
    r = c.Post("/call", testsupport::bearer(token),
               R"({"server":"Exp01800.rdmCancelNota","method":"GetVdCancela","args":[{"packet":{"fields":)" + repeated
                   + R"(,"rows":[]}},"0001"]})",
               "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);

    // 80,000 ticked item rows in one CancelaItemNf.
    std::string items =
        R"({"server":"Exp01800.rdmCancelNota","method":"CancelaItemNf","args":["0001",{"packet":{"fields":[)"
        R"({"name":"IDCHECK","type":"string","size":1},{"name":"NRSEQITPROD","type":"string","size":4}],"rows":[)";
    for (int i = 0; i < 80000; ++i)
        items += std::string(i ? "," : "") + "[\"S\",\"" + std::to_string(i % 10000) + "\"]";
    items += R"(]}},"0000000001","0000000001","9000000001",{"date":46000},"0001","TESTE"]})";
    t0 = Clock::now();
    r = c.Post("/call", testsupport::bearer(token), items, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(r->body.find("itens"), std::string::npos) << r->body.substr(0, 200);
    EXPECT_LT(Clock::now() - t0, 2s);
    EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE IDCANCELADO = 'S'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
}

TEST_P(Hostile, SlowHeadersAreCutAtTheirDeadline)
{
    // 6 connections (under the per-address cap) sending a byte every 300 ms.
    std::vector<RawSocket> slow;
    for (int i = 0; i < 6; ++i)
        slow.emplace_back(srv->port(), kAttacker);
    const std::string request = callHeaders(token, "Content-Length: 2\r\n") + "{}";
    const auto t0 = Clock::now();
    std::vector<bool> closed(slow.size(), false);
    size_t at = 0;
    while (Clock::now() - t0 < 4s && at < request.size()) {
        for (size_t i = 0; i < slow.size(); ++i)
            if (!closed[i] && !slow[i].send(request.substr(at, 1)))
                closed[i] = true;
        ++at;
        std::this_thread::sleep_for(300ms);
    }
    for (size_t i = 0; i < slow.size(); ++i)
        EXPECT_TRUE(closed[i] || slow[i].closedWithin(1s)) << "connection " << i << " outlived the header deadline";
    EXPECT_LT(Clock::now() - t0, 6s);
}

TEST_P(Hostile, ConnectionsFromOneAddressAreCapped)
{
    std::vector<RawSocket> many;
    for (int i = 0; i < 64; ++i)
        many.emplace_back(srv->port(), kAttacker);
    std::this_thread::sleep_for(300ms);
    int open = 0;
    for (auto& s : many)
        open += s.closedWithin(50ms) ? 0 : 1;
    EXPECT_EQ(open, 8);
    EXPECT_EQ((*srv)->openConnections(kAttacker), 8);
    many.clear();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ((*srv)->openConnections(kAttacker), 0); // closing them frees the address's places
}

INSTANTIATE_TEST_SUITE_P(Backends, Hostile, ::testing::Values("sqlite"), servertest::backendName);

// ---- memory of one request, against the real server process -----------------
// Each memory case starts its own exp_appserver, so the peak it reads from
// /proc (VmHWM) is that case's alone.

namespace {

const char* const kMethodHead = R"({"server":"Exp01800.rdmCancelNota","method":)";

long procStatusKb(qint64 pid, const char* key)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').first().toLong();
    return -1;
}

struct Answer {
    int status = 0;
    std::string head, body;
};

Answer parseAnswer(const std::string& raw)
{
    Answer a;
    const size_t sp = raw.find(' ');
    if (sp != std::string::npos)
        a.status = std::atoi(raw.c_str() + sp + 1);
    const size_t end = raw.find("\r\n\r\n");
    a.head = raw.substr(0, end);
    if (end != std::string::npos)
        a.body = raw.substr(end + 4);
    return a;
}

/// A demo database with one operator, shared by the cases below.
class ServerProcessDb {
public:
    static ServerProcessDb& get()
    {
        static ServerProcessDb db;
        return db;
    }
    QString dbArgument() const { return "sqlite:" + dir.filePath("demo.db"); }
    bool ready = false;

private:
    ServerProcessDb()
    {
        QProcess demo;
        demo.start(EXP_APPSERVER_BIN, {"demo", "--db", dbArgument(), "--entries", "20", "--seed", "5"});
        if (!demo.waitForFinished(60000) || demo.exitCode() != 0)
            return;
        QProcess op;
        op.start(EXP_APPSERVER_BIN, {"operator", "add", "teste", "--db", dbArgument(), "--branches", "0001"});
        op.write((testsupport::kPassword + "\n").toUtf8());
        op.closeWriteChannel();
        ready = op.waitForFinished(60000) && op.exitCode() == 0;
    }
    QTemporaryDir dir;
};

/// One exp_appserver serving the demo database on a free port.
class ServerProcess {
public:
    explicit ServerProcess(const QStringList& extra = {})
    {
        if (!ServerProcessDb::get().ready)
            return;
        proc_.start(EXP_APPSERVER_BIN,
                    QStringList{"serve", "--db", ServerProcessDb::get().dbArgument(), "--port", "0", "--threads", "8"}
                        + extra);
        const QRegularExpression re("escutando em 127\\.0\\.0\\.1:(\\d+)");
        QByteArray log;
        for (int i = 0; i < 100 && !port_; ++i) {
            proc_.waitForReadyRead(100);
            log += proc_.readAllStandardError();
            const auto m = re.match(QString::fromUtf8(log));
            if (m.hasMatch())
                port_ = m.captured(1).toInt();
        }
    }
    ~ServerProcess()
    {
        proc_.terminate();
        if (!proc_.waitForFinished(10000))
            proc_.kill();
    }
    int port() const { return port_; }
    QString login() const
    {
        return core::HttpTransport::shared().login("127.0.0.1", port_, "TESTE", testsupport::kPassword).token;
    }
    long peakMb() const { return procStatusKb(proc_.processId(), "VmHWM:") / 1024; }
    std::string log()
    {
        proc_.waitForReadyRead(500);
        return proc_.readAllStandardError().right(2000).toStdString();
    }
    long residentMb() const { return procStatusKb(proc_.processId(), "VmRSS:") / 1024; }

    /// Sends one call and reads its answer (the reply head and a bounded body).
    Answer call(const QString& token, const std::string& body) const
    {
        RawSocket s(port_);
        s.send(callHeaders(token, "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n"));
        s.send(body);
        return parseAnswer(s.readAll(120s, size_t(256) << 20));
    }

private:
    QProcess proc_;
    int port_ = 0;
};

constexpr size_t kMb = size_t(1) << 20;

// The realistic list the screen sends back: 250,000 entries of the list's 20 fields.
std::string entryList(int entries)
{
    static const char* const fields =
        R"([{"name":"IDCHECK","type":"string","size":1},{"name":"CDFILIAL","type":"string","size":4},)"
        R"({"name":"DTENTRSAID","type":"datetime"},{"name":"NRLANCTONF","type":"string","size":10},)"
        R"({"name":"NREXPEDICAO","type":"string","size":10},{"name":"NRLANCESTQ","type":"string","size":10},)"
        R"({"name":"CDCLIENTE","type":"string","size":21},{"name":"NMRAZSOCCLIE","type":"string","size":50},)"
        R"({"name":"NRNOTAFISC","type":"string","size":20},{"name":"DTEMISSAO","type":"datetime"},)"
        R"({"name":"IDSISTEMA","type":"string","size":3},{"name":"NMFANTCLIE","type":"string","size":50},)"
        R"({"name":"IDSTATUS","type":"string","size":1},{"name":"IDSTATUSNFE","type":"string","size":1},)"
        R"({"name":"CDFILIEMIT","type":"string","size":4},{"name":"NRACESSONFE","type":"string","size":50},)"
        R"({"name":"CDEMPRESA","type":"string","size":2},{"name":"IDTIPOEMISNFE","type":"string","size":1},)"
        R"({"name":"CDINSCESTA","type":"string","size":16},{"name":"NRVERSAO","type":"integer"}])";
    std::string out =
        std::string(kMethodHead) + R"("VerReplic","args":[{"packet":{"fields":)" + fields + R"(,"rows":[)";
    out.reserve(size_t(entries) * 360 + 4096);
    char row[512];
    for (int i = 0; i < entries; ++i) {
        const int client = i % 4000;
        std::snprintf(
            row, sizeof row,
            R"(%s["N","0001",%d,"%010d","%010d","%010d","CLI%018d","COMERCIAL DE ALIMENTOS E BEBIDA CLIENTE %05d LTDA",)"
            R"("%020d",%d.%010d,"EXP","SUPERMERCADO BOM PRECO DA ESQUINA DO CLIENTE %05d","P","A","0001","35%042d",)"
            R"("01","1","%016d",%d])",
            i ? "," : "", 46000 + i % 300, i + 1, i / 40 + 1, i + 1, client, client, i + 1, 46000 + i % 300,
            (i * 7919) % 1000000000, client, i + 1, client, 1 + i % 5);
        out += row;
    }
    return out + R"(]}},"0001","0000000001"]})";
}

} // namespace

// One hostile body of about 100 MB from a logged-in caller, in each shape the
// decoder meets: refused with the server's peak memory below twice the body.
TEST(HostileMemory, HundredMegabyteBodiesOfAnyShapeAreRefusedWithinTwiceTheirSize)
{
    struct Shape {
        const char* name;
        std::function<std::string()> body;
        const char* refusal;
    };
    const size_t n = 100 * kMb;
    const std::vector<Shape> shapes = {
        {"rows like [1], to VerReplic",
         [&] {
             std::string b = std::string(kMethodHead)
                 + R"("VerReplic","args":[{"packet":{"fields":[{"name":"X","type":"integer"}],"rows":[[1])";
             b.reserve(n + 100);
             while (b.size() < n)
                 b += ",[1]";
             return b + R"(]}},"0001","1"]})";
         },
         "linhas"},
        {"33 million empty arguments",
         [&] {
             std::string b = std::string(kMethodHead) + R"("GetExp","args":["")";
             b.reserve(n + 100);
             while (b.size() < n)
                 b += ",\"\"";
             return b + "]}";
         },
         "bytes"},
        {"one 100 MB text",
         [&] {
             std::string b = std::string(kMethodHead) + R"("GetExp","args":[")";
             b.append(n, 'A');
             return b + "\"]}";
         },
         "bytes"},
    };
    for (const Shape& shape : shapes) {
        ServerProcess srv;
        ASSERT_NE(srv.port(), 0);
        const QString token = srv.login();
        const long before = srv.peakMb();
        std::string body = shape.body();
        const long bodyMb = long(body.size() / kMb);
        const Answer a = srv.call(token, body);
        body = {};
        EXPECT_EQ(a.status, 400) << shape.name << ": " << a.body.substr(0, 300);
        EXPECT_NE(a.body.find(shape.refusal), std::string::npos) << shape.name << ": " << a.body.substr(0, 300);
        EXPECT_LT(a.body.size(), 1000u) << shape.name;
        const long peak = srv.peakMb();
        std::printf("[ figures  ] %s: body %ld MB, server peak %ld MB (%ld MB before it)\n", shape.name, bodyMb, peak,
                    before);
        EXPECT_LT(peak, 2 * bodyMb) << shape.name;
    }
}

// The largest list the screen sends (a tick-all of 250,000 entries) is
// answered with the server's peak below 2.5 times the body, and the memory
// it freed is given back.
TEST(HostileMemory, TheLargestRealListStaysWithinTwoAndAHalfTimesItsSize)
{
    ServerProcess srv;
    ASSERT_NE(srv.port(), 0);
    const QString token = srv.login();
    std::string body = entryList(250000);
    const auto t0 = Clock::now();
    const long bodyMb = long(body.size() / kMb);
    const Answer a = srv.call(token, body);
    body = {};
    EXPECT_EQ(a.status, 200) << a.body.substr(0, 300) << srv.log();
    EXPECT_NE(a.body.find("\"status\":\"ok\""), std::string::npos)
        << a.body.substr(a.body.size() > 300 ? a.body.size() - 300 : 0);
    const long peak = srv.peakMb();
    std::this_thread::sleep_for(200ms);
    const long after = srv.residentMb();
    std::printf(
        "[ figures  ] 250,000-entry list: body %ld MB, answered in %.1f s, server peak %ld MB, resident after %ld MB\n",
        bodyMb, std::chrono::duration<double>(Clock::now() - t0).count(), peak, after);
    EXPECT_LT(double(peak), 2.5 * double(bodyMb));
    EXPECT_LT(after, 100) << "the memory of the call was kept";
}

// Four 100 MB bodies at once from four sessions, with room for two in the
// in-flight budget: two are read, two answered 503 with Retry-After before
// a byte of them is read; the peak stays within the budget plus a fixed
// overhead, and the memory is given back afterwards.
TEST(HostileMemory, BodiesBeyondTheInFlightBudgetWaitTheirTurn)
{
    const size_t budget = 220 * kMb;
    ServerProcess srv({"--max-inflight", QString::number(budget)});
    ASSERT_NE(srv.port(), 0);
    std::string body = std::string(kMethodHead) + R"("GetExp","args":[")";
    body.append(100 * kMb, 'A');
    body += "\"]}";
    std::vector<std::unique_ptr<RawSocket>> sockets;
    for (int i = 0; i < 4; ++i) {
        sockets.push_back(std::make_unique<RawSocket>(srv.port(), kAttacker));
        ASSERT_TRUE(
            sockets.back()->send(callHeaders(srv.login(), "Content-Length: " + std::to_string(body.size()) + "\r\n")));
    }
    std::this_thread::sleep_for(500ms); // every header admitted or refused
    std::vector<std::thread> senders;
    std::vector<Answer> answers(4);
    int busy = 0;
    for (int i = 0; i < 4; ++i) {
        const std::string early = sockets[size_t(i)]->readAll(50ms);
        if (!early.empty()) {
            answers[size_t(i)] = parseAnswer(early);
            ++busy;
            continue;
        }
        senders.emplace_back([&, i] {
            sockets[size_t(i)]->send(body);
            answers[size_t(i)] = parseAnswer(sockets[size_t(i)]->readAll(60s, 1 << 16));
        });
    }
    for (auto& t : senders)
        t.join();
    EXPECT_EQ(busy, 2);
    int refusedAsHostile = 0;
    for (const Answer& a : answers) {
        if (a.status == 503) {
            EXPECT_NE(a.head.find("Retry-After: 2"), std::string::npos) << a.head;
            EXPECT_NE(a.body.find("ocupado"), std::string::npos) << a.body;
        } else {
            EXPECT_EQ(a.status, 400) << a.body.substr(0, 300);
            ++refusedAsHostile;
        }
    }
    EXPECT_EQ(refusedAsHostile, 2);
    const long peak = srv.peakMb();
    std::this_thread::sleep_for(200ms);
    const long after = srv.residentMb();
    std::printf("[ figures  ] four 100 MB bodies, budget %zu MB: server peak %ld MB, resident after %ld MB\n",
                budget / kMb, peak, after);
    EXPECT_LT(peak, long(budget / kMb) + 100);
    EXPECT_LT(after, 100) << "the memory of the calls was kept";
}

// One session may have two large bodies under way at once; a third waits
// (503 with Retry-After) however much room the server has. And an answer
// quotes only a few dozen characters of a forged value, whatever its size.
TEST(HostileMemory, ASessionHasTwoLargeBodiesAtOnceAndMessagesQuoteValuesShort)
{
    ServerProcess srv;
    ASSERT_NE(srv.port(), 0);
    const QString token = srv.login();
    std::vector<std::unique_ptr<RawSocket>> sockets;
    for (int i = 0; i < 3; ++i) {
        sockets.push_back(std::make_unique<RawSocket>(srv.port()));
        ASSERT_TRUE(sockets.back()->send(callHeaders(token, "Content-Length: 1000000\r\n")));
    }
    std::this_thread::sleep_for(500ms);
    int busy = 0;
    for (auto& s : sockets) {
        const Answer a = parseAnswer(s->readAll(100ms));
        if (a.status == 0)
            continue;
        EXPECT_EQ(a.status, 503);
        EXPECT_NE(a.head.find("Retry-After:"), std::string::npos) << a.head;
        EXPECT_NE(a.body.find("duas chamadas grandes"), std::string::npos) << a.body;
        ++busy;
    }
    EXPECT_EQ(busy, 1);
    sockets.clear(); // the bodies never come: their places are freed with the connections
    std::this_thread::sleep_for(200ms);

    // A forged branch of 200,000 characters (under the text bound) and one
    // method name as long: the refusals quote a few dozen characters.
    const std::string forged(200000, 'F');
    Answer a = srv.call(token, std::string(kMethodHead) + R"("GetExp","args":[")" + forged + "\"]}");
    EXPECT_EQ(a.status, 403) << a.body.substr(0, 300);
    EXPECT_LT(a.body.size(), 300u) << a.body.substr(0, 300);
    a = srv.call(token, R"({"server":"Exp01800.rdmCancelNota","method":")" + forged + R"(","args":[]})");
    EXPECT_EQ(a.status, 404) << a.body.substr(0, 300);
    EXPECT_LT(a.body.size(), 300u) << a.body.substr(0, 300);
    // The large bodies' places were given back: a large call is served again.
    a = srv.call(token, std::string(kMethodHead) + R"("GetExp",)" + std::string(200000, ' ') + R"("args":["0001"]})");
    EXPECT_EQ(a.status, 200) << a.body.substr(0, 300);
}
