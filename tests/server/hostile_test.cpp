// The server under hostile input: each attack is refused within a bounded
// time and memory while a well-behaved client, logged in from another
// address, keeps getting its answers. Attackers connect from 127.0.0.2, the
// good client from 127.0.0.1 (both loopback).
#include "serverfixture.h"

#include <server/appserver.h>
#include <support/rawsocket.h>
#include <support/testsession.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <atomic>
#include <chrono>
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
                if (r && r->status == 200) ++ok_;
                else ++failed_;
                std::this_thread::sleep_for(20ms);
            }
        });
    }
    ~GoodClient() { finish(); }
    void finish()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
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
    return "POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nAuthorization: Bearer " +
           token.toStdString() + "\r\n" + extra + "\r\n";
}

std::string fieldDefs(int n)
{
    std::string f = "[";
    for (int i = 0; i < n; ++i) {
        if (i) f += ',';
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
        if (IsSkipped()) return;
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
    while (sent < (size_t(1) << 30) && Clock::now() - t0 < 20s && s.send(chunk)) sent += 0x10000;
    EXPECT_LT(sent, size_t(64) << 20) << "the server kept reading past its limit";
    EXPECT_LT(Clock::now() - t0, 10s);
    const std::string answer = s.readAll(3s);
    if (!answer.empty()) {  // the refusal may be lost to the reset of a connection still sending
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
    for (const char* encoding : {"Content-Encoding: gzip\r\nContent-Length: 1000000\r\n",
                                 "Content-Encoding: br\r\nTransfer-Encoding: chunked\r\n",
                                 "Transfer-Encoding: gzip, chunked\r\n"}) {
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
    const std::string body = R"({"server":"Exp01800.rdmCancelNota","method":"GetExp",)" + blanks + R"("args":["0001"]})";
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
        ASSERT_TRUE(s.send(body.substr(at) + callHeaders(token, "Content-Length: " + std::to_string(small.size()) + "\r\n") + small));
        std::string answers;
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < 5s) {
            answers += s.readAll(200ms);
            size_t n = 0, from = 0;
            while ((from = answers.find("HTTP/1.1 200 OK", from)) != std::string::npos) ++n, ++from;
            if (n == 2) break;
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
    const std::string manyFields = R"({"server":"Exp01800.rdmCancelNota","method":"GetVdCancela","args":[{"packet":{"fields":)" +
                                   fieldDefs(40000) + R"(,"rows":[]}},"0001"]})";
    ASSERT_GT(manyFields.size(), size_t(1) << 20);
    auto t0 = Clock::now();
    auto r = c.Post("/call", testsupport::bearer(token), manyFields, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_NE(r->body.find("campos"), std::string::npos) << r->body.substr(0, 200);
    EXPECT_LT(Clock::now() - t0, 2s);

    // Many repeated names among the allowed number: refused by one hash lookup per field.
    std::string repeated = "[";
    for (int i = 0; i < 250; ++i) repeated += std::string(i ? "," : "") + R"({"name":"F","type":"string","size":1})";
    repeated += "]";
    r = c.Post("/call", testsupport::bearer(token),
               R"({"server":"Exp01800.rdmCancelNota","method":"GetVdCancela","args":[{"packet":{"fields":)" + repeated +
                   R"(,"rows":[]}},"0001"]})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);

    // 80,000 ticked item rows in one CancelaItemNf.
    std::string items = R"({"server":"Exp01800.rdmCancelNota","method":"CancelaItemNf","args":["0001",{"packet":{"fields":[)"
                        R"({"name":"IDCHECK","type":"string","size":1},{"name":"NRSEQITPROD","type":"string","size":4}],"rows":[)";
    for (int i = 0; i < 80000; ++i) items += std::string(i ? "," : "") + "[\"S\",\"" + std::to_string(i % 10000) + "\"]";
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
    for (int i = 0; i < 6; ++i) slow.emplace_back(srv->port(), kAttacker);
    const std::string request = callHeaders(token, "Content-Length: 2\r\n") + "{}";
    const auto t0 = Clock::now();
    std::vector<bool> closed(slow.size(), false);
    size_t at = 0;
    while (Clock::now() - t0 < 4s && at < request.size()) {
        for (size_t i = 0; i < slow.size(); ++i)
            if (!closed[i] && !slow[i].send(request.substr(at, 1))) closed[i] = true;
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
    for (int i = 0; i < 64; ++i) many.emplace_back(srv->port(), kAttacker);
    std::this_thread::sleep_for(300ms);
    int open = 0;
    for (auto& s : many) open += s.closedWithin(50ms) ? 0 : 1;
    EXPECT_EQ(open, 8);
    EXPECT_EQ((*srv)->openConnections(kAttacker), 8);
    many.clear();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ((*srv)->openConnections(kAttacker), 0);  // closing them frees the address's places
}

INSTANTIATE_TEST_SUITE_P(Backends, Hostile, ::testing::Values("sqlite"), servertest::backendName);
