// Server calls over real HTTP: a cpp-httplib endpoint on an ephemeral
// loopback port plays the application server, and raw sockets play servers
// that misbehave (close mid-call, send half an answer, never answer).
#include <client/clientdataset.h>
#include <core/datapacket.h>
#include <core/errors.h>
#include <client/httptransport.h>
#include <client/netconnection.h>

#include <httplib.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using core::Variant;

namespace {

const QString kServer = QStringLiteral("Exp01800.rdmCancelNota");

/// A tiny application server: GET /health and POST /call answered by a
/// replaceable handler that sees the decoded request.
class TestServer {
public:
    using CallHandler = std::function<void(const QJsonObject& req, httplib::Response& res)>;

    TestServer()
    {
        svr_.set_tcp_nodelay(true);
        svr_.Get("/health", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string name = req.get_param_value("server");
            res.status = name == kServer.toStdString() ? 200 : 404;
            res.set_content(res.status == 200 ? "{\"status\":\"ok\"}" : "{\"status\":\"raised\",\"message\":\"x\"}",
                            "application/json");
        });
        svr_.Post("/call", [this](const httplib::Request& req, httplib::Response& res) {
            CallHandler h;
            {
                std::lock_guard lock(mutex_);
                h = handler_;
                remotePorts_.push_back(req.remote_port);
                lastBody_ = QByteArray::fromStdString(req.body);
            }
            h(QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object(), res);
        });
        port_ = svr_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { svr_.listen_after_bind(); });
        while (!svr_.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~TestServer()
    {
        svr_.stop();
        thread_.join();
    }

    int port() const { return port_; }
    void onCall(CallHandler h)
    {
        std::lock_guard lock(mutex_);
        handler_ = std::move(h);
    }
    /// Answers every call with this raw body and HTTP status.
    void answerRaw(int status, const std::string& body)
    {
        onCall([=](const QJsonObject&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, "application/json");
        });
    }
    std::vector<int> remotePorts() const
    {
        std::lock_guard lock(mutex_);
        return remotePorts_;
    }
    QByteArray lastBody() const
    {
        std::lock_guard lock(mutex_);
        return lastBody_;
    }

private:
    httplib::Server svr_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    CallHandler handler_ = [](const QJsonObject&, httplib::Response& res) { res.status = 500; };
    std::vector<int> remotePorts_;
    QByteArray lastBody_;
};

/// A listening socket that reads one request and then does `behave` with
/// the accepted socket (close it, write half an answer, or sit silent).
class RawServer {
public:
    explicit RawServer(std::function<void(int fd)> behave)
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 4);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, behave] {
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0)
                return;
            char buf[4096];
            (void)::recv(fd, buf, sizeof buf, 0);
            behave(fd);
            ::close(fd);
        });
    }
    ~RawServer()
    {
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        thread_.join();
    }
    int port() const { return port_; }

private:
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

/// A port on which nothing listens (bound, then released).
int closedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

std::string json(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

class HttpCallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        transport.setReadTimeout(5s);
        net.ServerName = kServer;
        net.setTransport(&transport);
        net.BeforeConnect = [this](core::TNetConnection& c) {
            c.Host = QStringLiteral("127.0.0.1");
            c.Port = server.port();
        };
    }
    /// Connects to another port (the health check passes through `server`).
    void connectTo(int port)
    {
        net.Connect();
        net.Port = port;
    }

    TestServer server;
    core::HttpTransport transport;
    core::TNetConnection net{QStringLiteral("netCancelExp")};
};

TEST_F(HttpCallTest, ConnectRunsBeforeConnectAndChecksTheServerIsServed)
{
    net.Connect();
    EXPECT_TRUE(net.Connected());
    EXPECT_EQ(net.Port, server.port());
    net.Disconnect();
    EXPECT_FALSE(net.Connected());

    net.ServerName = QStringLiteral("DFS99999.rdmOutro");
    try {
        net.Connect();
        FAIL() << "a server not served here must not connect";
    } catch (const core::ConnectionError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("DFS99999.rdmOutro"))) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("127.0.0.1:%1").arg(server.port()))) << e.what();
    }
    EXPECT_FALSE(net.Connected());
}

TEST_F(HttpCallTest, ConnectWhereNothingListensFailsQuicklyNamingTheAddress)
{
    const int port = closedPort();
    net.BeforeConnect = [port](core::TNetConnection& c) {
        c.Host = QStringLiteral("127.0.0.1");
        c.Port = port;
    };
    const auto t0 = std::chrono::steady_clock::now();
    try {
        net.Connect();
        FAIL() << "connect must fail";
    } catch (const core::ConnectionError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("127.0.0.1:%1").arg(port))) << e.what();
        EXPECT_TRUE(e.message().contains(kServer)) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 4s);
    EXPECT_FALSE(net.Connected());
    EXPECT_THROW(net.call(QStringLiteral("GetExp"), {"0001"}), core::ConnectionError);
}

TEST_F(HttpCallTest, PayloadArrivesAndByReferenceValuesAreWrittenBack)
{
    server.onCall([](const QJsonObject& req, httplib::Response& res) {
        // Echo what arrived so the test can check the request, and change the
        // by-reference argument.
        QJsonObject packet{
            {"fields", QJsonArray{QJsonObject{{"name", "NREXPEDICAO"}, {"type", "string"}, {"size", 10}}}},
            {"rows", QJsonArray{QJsonArray{"0000000012"}, QJsonArray{"0000000015"}}}};
        QJsonObject answer{
            {"status", "ok"},
            {"payload",
             QJsonArray{QJsonObject{{"packet", packet}}, req.value("method"), req.value("args"), req.value("byRef")}},
            {"refs", QJsonArray{QJsonValue(), "novo", QJsonValue()}}};
        res.set_content(json(answer), "application/json");
    });
    net.Connect();

    Variant status = QStringLiteral("R");
    const core::Date day{45000};
    const core::ServerResult r =
        net.call(QStringLiteral("GetAtual_Situ"), {QStringLiteral("0001"), core::Arg::ref(status), Variant(day)});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(status, Variant(QStringLiteral("novo")));

    const Variant& p = r.payload;
    ASSERT_EQ(p.count(), 4);
    EXPECT_EQ(p[0].packet().rowCount(), 2);
    EXPECT_EQ(p[0].packet().value(1, QStringLiteral("NREXPEDICAO")), Variant(QStringLiteral("0000000015")));
    EXPECT_EQ(p[1], Variant(QStringLiteral("GetAtual_Situ")));
    // The arguments travel in order with their types; the date as a day count.
    EXPECT_EQ(p[2],
              Variant(core::VariantArray{Variant(QStringLiteral("0001")), Variant(QStringLiteral("R")), Variant(day)}));
    EXPECT_EQ(p[3], Variant(core::VariantArray{Variant(false), Variant(true), Variant(false)}));
    EXPECT_TRUE(server.lastBody().contains("\"server\":\"Exp01800.rdmCancelNota\""));
}

TEST_F(HttpCallTest, FailedResultIsReturnedAndRaisedErrorKeepsItsText)
{
    net.Connect();
    server.answerRaw(200, R"({"status":"failed","message":"Filial não cadastrada"})");
    Variant keep = QStringLiteral("antes");
    const core::ServerResult r = net.call(QStringLiteral("GetExp"), {"0001", core::Arg::ref(keep)});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, QStringLiteral("Filial não cadastrada"));
    EXPECT_EQ(keep, Variant(QStringLiteral("antes"))) << "a failed call writes nothing back";

    net.ThrowException = true;
    try {
        net.call(QStringLiteral("GetExp"), {"0001"});
        FAIL() << "ThrowException turns a failed result into an error";
    } catch (const core::ServerError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Filial não cadastrada"));
    }
    net.ThrowException = false;

    for (int status : {200, 400, 404, 413, 500}) {
        server.answerRaw(status, R"({"status":"raised","message":"NOTA_ALT"})");
        try {
            net.call(QStringLiteral("CancelaNota"), {"0001"});
            FAIL() << "raised error expected for HTTP " << status;
        } catch (const core::ServerError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("NOTA_ALT")) << status;
        }
    }
}

TEST_F(HttpCallTest, MalformedAnswersAreConnectionErrorsAndLeaveVariablesAlone)
{
    net.Connect();
    const std::pair<int, std::string> bad[] = {
        {200, "not json at all"},
        {200, ""},
        {200,
         R"({"status":"ok","payload":{"packet":{"fields":[{"name":"A","type":"string"}],"rows":[[1]]}},"refs":[null,"x"]})"},
        {200, R"({"status":"ok","payload":"x","refs":[null]})"}, // wrong count of refs
        {200, R"({"status":"ok","payload":"x"})"},               // refs missing for a by-ref call
        {200, R"({"status":"maybe","message":"?"})"},
        {200, R"({"status":"failed"})"}, // no message
        {200, R"({"status":"ok","payload":"x","refs":[null,"y"]} trailing)"},
        {200, R"({"status":"ok","payload":42,"refs":[null,"y"]})"},  // untyped number
        {200, R"({"status":"ok","status":"ok","refs":[null,"y"]})"}, // repeated member
        {502, "<html>Bad Gateway</html>"},
        {503, R"({"status":"raised","message":"x"})"},
        {404, R"({"status":"ok","payload":"x","refs":[null,"y"]})"},
    };
    for (const auto& [status, body] : bad) {
        server.answerRaw(status, body);
        Variant ref = QStringLiteral("intacto");
        EXPECT_THROW(net.call(QStringLiteral("GetItem"), {"0001", core::Arg::ref(ref)}), core::ConnectionError)
            << status << " " << body;
        EXPECT_EQ(ref, Variant(QStringLiteral("intacto"))) << body;
    }
}

TEST_F(HttpCallTest, AProxysOwnErrorIsAConnectionErrorWithItsText)
{
    net.Connect();
    server.answerRaw(503, R"({"status":"raised","message":"Nenhum servidor de aplicação disponível no momento."})");
    try {
        net.call(QStringLiteral("GetItem"), {"0001"});
        ADD_FAILURE() << "a 503 is no answer of the method";
    } catch (const core::ConnectionError& e) {
        EXPECT_TRUE(e.message().startsWith("Nenhum servidor de aplicação disponível")) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("GetItem")) << e.message().toStdString();
    }
}

TEST_F(HttpCallTest, PeopleAreToldWhatHappenedWhileTheMessageKeepsTheDetail)
{
    net.Connect();
    server.answerRaw(
        403, R"({"status":"raised","message":"GetParExpedicao: o operador ANA não tem acesso à filial 0001."})");
    try {
        net.call(QStringLiteral("GetParExpedicao"), {"0001"});
        ADD_FAILURE() << "a 403 is a refusal";
    } catch (const core::ServerError& e) {
        EXPECT_EQ(e.forPeople(),
                  QStringLiteral("O operador ANA não tem acesso à filial 0001. Peça acesso a ela, ou "
                                 "entre no sistema com uma das suas filiais."));
        EXPECT_TRUE(e.message().startsWith("GetParExpedicao: o operador ANA")) << e.message().toStdString();
    }
    server.answerRaw(200, "not json at all");
    try {
        net.call(QStringLiteral("GetItem"), {"0001"});
        ADD_FAILURE() << "a malformed answer is an error";
    } catch (const core::ConnectionError& e) {
        EXPECT_FALSE(e.forPeople().contains("GetItem")) << e.forPeople().toStdString();
        EXPECT_TRUE(e.forPeople().contains("avise o suporte"));
        EXPECT_TRUE(e.message().contains("GetItem"));
    }
}

TEST_F(HttpCallTest, ServerThatNeverAnswersTimesOut)
{
    // Shared with the handler: it may still be sleeping when this test ends.
    auto release = std::make_shared<std::atomic<bool>>(false);
    server.onCall([release](const QJsonObject&, httplib::Response& res) {
        while (!release->load())
            std::this_thread::sleep_for(5ms);
        res.set_content(R"({"status":"ok","payload":null})", "application/json");
    });
    net.Connect();
    transport.setReadTimeout(300ms);
    const auto t0 = std::chrono::steady_clock::now();
    try {
        net.call(QStringLiteral("GetLanctoNF"), {"0001"});
        ADD_FAILURE() << "a silent server must time out";
    } catch (const core::ConnectionError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("GetLanctoNF"))) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    *release = true;

    // The connection stays usable once the server answers again.
    transport.setReadTimeout(5s);
    server.answerRaw(200, R"({"status":"ok","payload":"de novo"})");
    EXPECT_EQ(net.call(QStringLiteral("GetExp"), {"0001"}).payload, Variant(QStringLiteral("de novo")));
}

TEST_F(HttpCallTest, ServerDroppingTheConnectionMidCallIsAConnectionError)
{
    net.Connect();
    const std::function<void(int)> behaviours[] = {
        [](int) {},  // reads the request, closes without a word
        [](int fd) { // headers promise more than is sent
            const char half[] =
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 500\r\n\r\n{\"status\":\"ok\",";
            (void)::send(fd, half, sizeof half - 1, 0);
        },
        [](int fd) { // garbage instead of HTTP
            const char junk[] = "SSH-2.0-OpenSSH\r\n";
            (void)::send(fd, junk, sizeof junk - 1, 0);
        },
    };
    for (const auto& behave : behaviours) {
        RawServer raw(behave);
        net.Port = raw.port();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_THROW(net.call(QStringLiteral("CancelaNota"), {"0001"}), core::ConnectionError);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    }
}

TEST_F(HttpCallTest, ListDroppedMidAnswerIsAConnectionErrorAndTheDatasetKeepsItsRows)
{
    net.Connect();
    core::DataPacket list({{"NRLANCTONF", core::FieldType::String, 10, false, false}});
    for (int i = 0; i < 5000; ++i)
        list.appendRow({QStringLiteral("%1").arg(i, 10, 10, QChar('0'))});
    const QByteArray whole = "{\"payload\":{\"packet\":" + core::codec::encodePacket(list) + "},\"status\":\"ok\"}";

    core::ClientDataset ds;
    ds.addString(QStringLiteral("NRLANCTONF"), 10);
    server.answerRaw(200, whole.toStdString());
    ds.setData(net.call(QStringLiteral("GetLanctoNF"), {"0001"}).payload);
    ASSERT_EQ(ds.recordCount(), 5000);

    // Chunked, then the connection drops in the middle of a row.
    const QByteArray half = whole.left(whole.size() / 2);
    RawServer raw([half](int fd) {
        QByteArray out = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
        out += QByteArray::number(half.size(), 16) + "\r\n" + half + "\r\n";
        (void)::send(fd, out.constData(), size_t(out.size()), 0);
    });
    net.Port = raw.port();
    try {
        ds.setData(net.call(QStringLiteral("GetLanctoNF"), {"0001"}).payload);
        ADD_FAILURE() << "half an answer was accepted";
    } catch (const core::ConnectionError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("GetLanctoNF"))) << e.message().toStdString();
    }
    EXPECT_EQ(ds.recordCount(), 5000);
}

TEST_F(HttpCallTest, ServerStoppedBetweenCallsIsAConnectionError)
{
    auto other = std::make_unique<TestServer>();
    other->answerRaw(200, R"({"status":"ok","payload":"ok"})");
    net.Connect();
    net.Port = other->port();
    EXPECT_TRUE(net.call(QStringLiteral("GetExp"), {"0001"}).ok);
    other.reset(); // the kept-alive socket now leads nowhere
    EXPECT_THROW(net.call(QStringLiteral("GetExp"), {"0001"}), core::ConnectionError);
}

TEST_F(HttpCallTest, ConsecutiveCallsReuseOneKeptAliveConnection)
{
    server.answerRaw(200, R"({"status":"ok","payload":null})");
    net.Connect();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(net.call(QStringLiteral("GetExp"), {"0001"}).ok);
    const std::vector<int> ports = server.remotePorts();
    ASSERT_EQ(ports.size(), 5u);
    for (int p : ports)
        EXPECT_EQ(p, ports.front());
}

TEST_F(HttpCallTest, EventsKeepFlowingWhileACallWaits)
{
    // Timers stand for painting and the progress animation: they must run
    // while the main thread waits for the answer. (User input is held back by
    // the loop's ExcludeUserInputEvents; it arrives through the platform
    // plug-in, which a test cannot feed without Qt's private headers.)
    server.onCall([](const QJsonObject&, httplib::Response& res) {
        std::this_thread::sleep_for(400ms);
        res.set_content(R"({"status":"ok","payload":"fim"})", "application/json");
    });
    net.Connect();

    int ticks = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    const core::ServerResult r = net.call(QStringLiteral("GetLanctoNF"), {"0001"});
    timer.stop();

    EXPECT_EQ(r.payload, Variant(QStringLiteral("fim")));
    EXPECT_GE(ticks, 5) << "timers (and painting) must run while the call waits";
}

TEST(HttpWire, RequestBodyFollowsTheProtocol)
{
    core::CallRequest req{QStringLiteral("Exp01800.rdmCancelNota"),
                          QStringLiteral("GetItem"),
                          {Variant(QStringLiteral("0001")), Variant(qint64(42)), Variant(), Variant(core::Date{45000})},
                          {false, true, false, false}};
    const QJsonObject o = QJsonDocument::fromJson(core::HttpTransport::encodeRequest(req)).object();
    EXPECT_EQ(o.value("server").toString(), req.server);
    EXPECT_EQ(o.value("method").toString(), QStringLiteral("GetItem"));
    const QJsonArray args = o.value("args").toArray();
    ASSERT_EQ(args.size(), 4);
    EXPECT_EQ(args[0].toString(), QStringLiteral("0001"));
    EXPECT_EQ(args[1].toObject().value("int").toInt(), 42);
    EXPECT_TRUE(args[2].isNull());
    EXPECT_EQ(args[3].toObject().value("date").toDouble(), 45000.0);
    EXPECT_EQ(o.value("byRef").toArray(), (QJsonArray{false, true, false, false}));
}

TEST(HttpWire, AnswerWithoutByReferenceArgumentsNeedsNoRefs)
{
    core::CallRequest req{kServer, QStringLiteral("GetExp"), {Variant(QStringLiteral("0001"))}, {false}};
    const core::CallResponse r =
        core::HttpTransport::decodeResponse(200, R"( { "status" : "ok" , "payload" : [ null , "a\"}" ] } )", req);
    EXPECT_TRUE(r.result.ok);
    EXPECT_EQ(r.result.payload, Variant(core::VariantArray{Variant(), Variant(QStringLiteral("a\"}"))}));
    const core::CallResponse empty = core::HttpTransport::decodeResponse(200, R"({"status":"ok"})", req);
    EXPECT_TRUE(empty.result.payload.isNull()) << "a method without a result answers without payload";
}

} // namespace

namespace {

/// Resident memory of this process, in bytes.
long residentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

/// `n` zero bytes, gzip-compressed (about 1 KB per MB).
std::string gzipOfZeros(size_t n)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buf[1 << 16];
    for (size_t done = 0; done < n;) {
        const size_t part = std::min(zeros.size(), n - done);
        done += part;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        z.avail_in = uInt(part);
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            deflate(&z, done == n ? Z_FINISH : Z_NO_FLUSH);
            out.append(buf, sizeof buf - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

void sendAll(int fd, const std::string& s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

} // namespace

TEST_F(HttpCallTest, HostileAnswersAreCutBySizeDeadlineAndNeverInflated)
{
    transport.setMaxAnswer(1 << 20);
    transport.setReadTimeout(3s);
    net.Connect();
    const std::string bomb = gzipOfZeros(size_t(1) << 30); // 1 GB of zeros in about 1 MB
    const long rss0 = residentBytes();
    const struct {
        const char* name;
        std::function<void(int)> behave;
        const char* hint;
    } cases[] = {
        {"huge declared answer",
         [](int fd) {
             sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1073741824\r\n\r\n");
             const std::string block(1 << 16, ' ');
             for (int i = 0; i < 16384; ++i)
                 sendAll(fd, block);
         },
         "limite"},
        {"huge chunked answer",
         [](int fd) {
             sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
             const std::string chunk = "10000\r\n" + std::string(1 << 16, ' ') + "\r\n";
             for (int i = 0; i < 16384; ++i)
                 sendAll(fd, chunk);
         },
         "limite"},
        {"gzip bomb",
         [&bomb](int fd) {
             sendAll(fd,
                     "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nContent-Length: "
                         + std::to_string(bomb.size()) + "\r\n\r\n" + bomb);
         },
         "compactada"},
        {"one byte a second",
         [](int fd) {
             const std::string answer =
                 "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 33\r\n\r\n"
                 R"({"status":"ok","payload":"tarde"})";
             for (char c : answer) {
                 if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1)
                     return;
                 std::this_thread::sleep_for(1s);
             }
         },
         "interrompida"},
    };
    for (const auto& c : cases) {
        RawServer raw(c.behave);
        net.Port = raw.port();
        const auto t0 = std::chrono::steady_clock::now();
        try {
            net.call(QStringLiteral("GetLanctoNF"), {"0001"});
            ADD_FAILURE() << c.name << ": the answer was accepted";
        } catch (const core::ConnectionError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.hint))) << c.name << ": " << e.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s) << c.name;
        EXPECT_LT(residentBytes() - rss0, 64l << 20) << c.name << ": the client held too much";
    }
}
