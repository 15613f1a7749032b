// The shipped proxy configuration under attack, with a real HAProxy ending
// TLS in front of a real exp_appserver (SQLite, loopback): trickled log-in
// bodies, too many connections, log-ins and calls from one address; its
// TLS 1.2 suites, its body limit against the server's, and the caller's
// address the server records behind it. A well-behaved operator on
// "another machine" (127.0.0.2) must keep its median small call and
// GET /health under 200 ms while an attack runs.
#include <server/appserver.h>
#include <server/database.h>
#include <server/schema.h>

#include <support/scalerig.h>
#include <support/testca.h>
#include <support/testsession.h>
#include <support/wire.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace std::chrono_literals;
using testsupport::Wire;
using testsupport::httpPost;

namespace {

const std::string kGetExp = R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]})";

std::string loginBody(const QString& code)
{
    return QJsonDocument(QJsonObject{{"operador", code}, {"senha", testsupport::kPassword}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

class ProxyEdge : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tls = testsupport::clientTls(); }
    static void TearDownTestSuite() { SSL_CTX_free(tls); }
    void SetUp() override
    {
        if (!testsupport::Proxy::available() || !testsupport::TestCa::available())
            GTEST_SKIP() << "haproxy or openssl not installed (scripts/deps.sh installs them)";
        ASSERT_TRUE(dir.isValid());
        dbText = "sqlite:" + dir.filePath("edge.db");
        {
            server::Database db(server::DbConfig::parse(dbText));
            server::migrateSchema(db);
            for (const char* code : {"BOM", "XFF", "DIRETO"})
                testsupport::ensureOperator(db, code);
        }
        QString why;
        ASSERT_TRUE(ca.make(dir.path(), {"DNS:localhost"})) << ca.error.toStdString();
        app = std::make_unique<testsupport::AppServerProcess>(EXP_APPSERVER_BIN, dbText, testsupport::freePort(),
                                                              dir.filePath("app.log"),
                                                              QStringList{"--trusted-proxy", "127.0.0.1"});
        ASSERT_TRUE(app->start(why)) << why.toStdString();
        port = testsupport::freePort();
        ASSERT_TRUE(proxy.start(QString(EXP_SOURCE_DIR) + "/deploy/haproxy/exp-appserver.cfg", port, ca.combinedFile,
                                {QString("127.0.0.1:%1").arg(app->port())}, dir.filePath("proxy.log"), why))
            << why.toStdString();
        // The proxy's first health check must have passed before calls go through.
        for (int i = 0; i < 50; ++i) {
            Wire w(port, "127.0.0.2", tls);
            if (w.exchange("GET /health HTTP/1.1\r\nHost: x\r\n\r\n", 2s) == 200)
                break;
            std::this_thread::sleep_for(100ms);
        }
        good = login("BOM", "127.0.0.2");
        ASSERT_FALSE(good.empty());
    }
    std::string login(const QString& code, const char* from, const std::string& extraHeader = {}, int toPort = 0)
    {
        Wire w(toPort ? toPort : port, from, toPort ? nullptr : tls);
        std::string req = httpPost("/login", loginBody(code));
        req.insert(req.find("\r\n") + 2, extraHeader);
        std::string body;
        if (w.exchange(req, 5s, &body) != 200)
            return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(body))
            .object()
            .value("token")
            .toString()
            .toStdString();
    }
    QString sessionAddress(const QString& code)
    {
        server::Database db(server::DbConfig::parse(dbText));
        QSqlDatabase c = db.connection();
        QSqlQuery q(c);
        q.exec(QString("SELECT DSENDERECO FROM SESSAO WHERE CDOPERADOR = '%1'").arg(code));
        return q.next() ? q.value(0).toString() : QString();
    }

    static inline SSL_CTX* tls = nullptr;
    QTemporaryDir dir;
    QString dbText;
    testsupport::TestCa ca;
    std::unique_ptr<testsupport::AppServerProcess> app;
    testsupport::Proxy proxy;
    int port = 0;
    std::string good;
};

} // namespace

TEST_F(ProxyEdge, TrickledLoginsAndFloodsFromOneAddressLeaveOthersServed)
{
    // 70 TLS connections announce a 4,000-byte log-in and send a byte a
    // second: the proxy holds them (its request deadline covers the body),
    // so they take none of the server's 32 connections.
    testsupport::WellBehaved caller(port, good, kGetExp, tls);
    std::vector<std::unique_ptr<Wire>> slow;
    for (int i = 0; i < 70; ++i) {
        slow.push_back(std::make_unique<Wire>(port, "127.0.0.1", tls));
        slow.back()->send("POST /login HTTP/1.1\r\nHost: x\r\nContent-Length: 4000\r\n\r\n{");
    }
    caller.reset();
    for (int s = 0; s < 3; ++s) {
        std::this_thread::sleep_for(1s);
        for (auto& w : slow)
            w->send(" ");
    }
    caller.finish();
    std::printf("well-behaved caller: small call %.1f ms, /health %.1f ms (medians of %zu)\n", caller.callMs(),
                caller.healthMs(), caller.samples());
    EXPECT_GE(caller.samples(), 5u);
    EXPECT_LT(caller.callMs(), 200) << "small call, median";
    EXPECT_LT(caller.healthMs(), 200) << "/health, median";
    slow.clear();

    // Connections from one address beyond 100 are closed at once.
    std::vector<std::unique_ptr<Wire>> many;
    for (int i = 0; i < 110; ++i)
        many.push_back(std::make_unique<Wire>(port, "127.0.0.3"));
    int open = 0;
    for (auto& w : many)
        open += w->closedWithin(30ms) ? 0 : 1;
    EXPECT_EQ(open, 100);
    many.clear();

    // More than 30 log-ins a minute from one address: the proxy answers 429 itself.
    Wire w(port, "127.0.0.4", tls);
    std::string body;
    int proxyRefused = 0;
    for (int i = 0; i < 34; ++i) {
        const int st = w.exchange(httpPost("/login", "{}"), 5s, &body);
        if (st == 429 && body.find("deste endereço") != std::string::npos)
            ++proxyRefused;
    }
    EXPECT_EQ(proxyRefused, 4);
}

TEST_F(ProxyEdge, TlsSuitesBodyLimitAndForwardedAddress)
{
    // TLS 1.2: ECDHE with AES-GCM or ChaCha20 only.
    for (const auto& [suite, accepted] :
         std::vector<std::pair<const char*, bool>>{{"ECDHE-ECDSA-AES128-SHA", false},
                                                   {"ECDHE-ECDSA-AES256-SHA384", false},
                                                   {"ECDHE-ECDSA-AES128-GCM-SHA256", true},
                                                   {"ECDHE-ECDSA-CHACHA20-POLY1305", true}}) {
        SSL_CTX* ctx = testsupport::clientTls(suite, true);
        EXPECT_EQ(Wire(port, "127.0.0.2", ctx).ok(), accepted) << suite;
        SSL_CTX_free(ctx);
    }

    // One body limit, the server's: derived from the list cap in both places.
    const QRegularExpression limit("EXP_MAX_BODY-(\\d+)");
    const auto m = limit.match(testsupport::fileText(QString(EXP_SOURCE_DIR) + "/deploy/haproxy/exp-appserver.cfg"));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(m.captured(1).toULongLong(), server::defaultMaxBody());
    auto announce = [&](std::size_t length, std::size_t send) {
        Wire w(port, "127.0.0.2", tls);
        w.send("POST /call HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + std::string(64, 'b')
               + "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" + std::string(send, ' '));
        return w.answer(5s);
    };
    EXPECT_EQ(announce(server::defaultMaxBody() + 1, 16000), 413); // refused by the proxy
    EXPECT_EQ(announce(server::defaultMaxBody(), 32768), 401);     // passed on; the server wants a session

    // The server trusts X-Forwarded-For from the proxy only, and only the
    // address the proxy wrote: a client's own header is no address.
    ASSERT_FALSE(login("XFF", "127.0.0.2", "X-Forwarded-For: 10.9.9.9\r\n").empty());
    EXPECT_EQ(sessionAddress("XFF"), "127.0.0.2");
    ASSERT_FALSE(login("DIRETO", "127.0.0.3", "X-Forwarded-For: 10.9.9.9\r\n", app->port()).empty());
    EXPECT_EQ(sessionAddress("DIRETO"), "127.0.0.3");
}
