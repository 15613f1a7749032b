// The server over real HTTP: health, bad requests, and two clients cancelling
// overlapping entries at the same moment.
#include "serverfixture.h"

#include <server/appserver.h>
#include <support/rawsocket.h>
#include <support/testsession.h>

#include <client/clientdataset.h>
#include <client/httptransport.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <latch>
#include <thread>

using namespace servertest;

namespace {

struct Answer {
    int http = 0;
    QString status, message;
    Variant payload;
};

Answer parse(const httplib::Result& r)
{
    Answer a;
    if (!r)
        return a;
    a.http = r->status;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object();
    a.status = o.value("status").toString();
    a.message = o.value("message").toString();
    if (o.contains("payload"))
        a.payload = core::codec::variantFromJson(o.value("payload"));
    return a;
}

/// One chunked answer read from a raw socket: its head, its body joined, and
/// how many chunks carried the body; `complete` once the last chunk came.
struct Chunked {
    std::string head, body;
    int chunks = 0;
    bool complete = false;
};

Chunked readChunked(testsupport::RawSocket& s)
{
    Chunked c;
    std::string in;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        in += s.readAll(std::chrono::milliseconds(20));
        const size_t h = in.find("\r\n\r\n");
        if (h == std::string::npos)
            continue;
        c.head = in.substr(0, h + 2);
        c.body.clear();
        c.chunks = 0;
        for (size_t at = h + 4;;) {
            const size_t eol = in.find("\r\n", at);
            if (eol == std::string::npos)
                break;
            const size_t n = std::stoul(in.substr(at, eol - at), nullptr, 16);
            if (in.size() < eol + 2 + n + 2)
                break;
            if (n == 0) {
                c.complete = true;
                return c;
            }
            c.body += in.substr(eol + 2, n);
            ++c.chunks;
            at = eol + 2 + n + 2;
        }
    }
    return c;
}

std::string rawCall(const QString& token, const std::string& body)
{
    return "POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nAuthorization: Bearer "
        + token.toStdString() + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

class OverHttp : public ServerDb {
protected:
    void SetUp() override
    {
        ServerDb::SetUp();
        if (IsSkipped())
            return;
        server::ServerOptions o;
        o.threads = 8;
        o.maxBody = 1 << 20;
        srv = std::make_unique<Served>(*db, o);
        token = testsupport::tokenFor(*db, srv->port());
    }
    void TearDown() override
    {
        srv.reset();
        ServerDb::TearDown();
    }
    httplib::Client client()
    {
        httplib::Client c("127.0.0.1", srv->port());
        c.set_read_timeout(30);
        return c;
    }
    Answer post(const std::string& body, const QString& as = QString())
    {
        auto c = client();
        return parse(c.Post("/call", testsupport::bearer(as.isEmpty() ? token : as), body, "application/json"));
    }

    QString token;
    std::unique_ptr<Served> srv;
};

TEST_P(OverHttp, HealthAndAPlainCall)
{
    auto c = client();
    auto h = c.Get("/health");
    ASSERT_TRUE(h);
    EXPECT_EQ(h->status, 200);
    EXPECT_NE(h->body.find("Exp01800.rdmCancelNota"), std::string::npos);
    EXPECT_NE(h->body.find("DFS52000.rdmSituacao"), std::string::npos);
    EXPECT_EQ(c.Get("/health?server=DFS52000.rdmSituacao")->status, 200);
    EXPECT_EQ(c.Get("/health?server=Nada")->status, 404);

    addEntry("0001", "0000000001");
    const Answer a =
        post(callBody(server::kCancelNotaServer, "GetLanctoNF",
                      {"0001", double(kDay), core::Date{double(kDay)}, "", "T", "", "T", "", "", "T", "T"}));
    EXPECT_EQ(a.http, 200);
    ASSERT_EQ(a.status, "ok") << qPrintable(a.message);
    EXPECT_EQ(a.payload.packet().rowCount(), 1);
}

// What the route table answers before any handler, over a socket pair
// served as an accepted connection: unknown paths, other methods, a missing
// session, and each route's own body limit.
TEST_P(OverHttp, UnknownPathsWrongMethodsAndBodyLimitsComeFromTheRouteTable)
{
    auto exchange = [&](const std::string& request) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        EXPECT_TRUE((*srv)->adopt(fds[0], "127.0.0.1"));
        EXPECT_EQ(::send(fds[1], request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
        ::shutdown(fds[1], SHUT_WR);
        std::string out;
        char buf[4096];
        timeval wait{10, 0};
        ::setsockopt(fds[1], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        for (ssize_t n; (n = ::recv(fds[1], buf, sizeof buf, 0)) > 0;)
            out.append(buf, size_t(n));
        ::close(fds[1]);
        return out;
    };
    const std::string auth = "Authorization: Bearer " + token.toStdString() + "\r\n";
    const std::string big(5000, 'x');
    const struct {
        std::string method, path, headers, body;
        int status;
        QString message;
    } cases[] = {
        {"GET", "/nada", "", "", 404, "Caminho desconhecido: /nada"},
        {"POST", "/health", "", "", 405, "Use GET em /health."},
        {"POST", "/metrics", "", "", 405, "Use GET em /metrics."},
        {"GET", "/login", "", "", 405, "Use POST."},
        {"GET", "/call", auth, "", 405, "Use POST."},
        {"PUT", "/logout", auth, "", 405, "Use POST."},
        {"POST", "/call", "", "{}", 401, "Sessão inválida ou expirada. Entre novamente."},
        {"POST", "/login", "", big, 413, "Corpo da chamada grande demais."},
        {"POST", "/senha", auth, big, 413, "Corpo da chamada grande demais."},
        {"POST", "/call", auth, big, 400, ""}, // past the small routes' limit, within the server's
    };
    for (const auto& c : cases) {
        const std::string out =
            exchange(c.method + " " + c.path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + c.headers
                     + "Content-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body);
        EXPECT_EQ(out.substr(0, 12), "HTTP/1.1 " + std::to_string(c.status)) << c.method << " " << c.path;
        const size_t at = out.find("\r\n\r\n");
        const QJsonObject o =
            QJsonDocument::fromJson(QByteArray::fromStdString(at == std::string::npos ? "" : out.substr(at + 4)))
                .object();
        EXPECT_EQ(o.value("status").toString(), "raised") << c.method << " " << c.path;
        if (!c.message.isEmpty()) {
            EXPECT_EQ(o.value("message").toString(), c.message) << c.method << " " << c.path;
        }
    }
}

TEST_P(OverHttp, BadRequestsGetClearErrorsAndChangeNothing)
{
    addEntry("0001", "0000000001");
    const std::string packetWithBadRow =
        R"({"server":"Exp01800.rdmCancelNota","method":"CancelaNota","args":["0001",{"packet":{"fields":[{"name":"IDCHECK","type":"string","size":1},{"name":"CDFILIAL","type":"string","size":4},{"name":"NRLANCTONF","type":"string","size":10}],"rows":[["S","0001"]]}},"0001","op","T"]})";
    const struct {
        std::string body;
        int http;
        const char* hint;
    } cases[] = {
        {"{not json", 400, "JSON"},
        {"[1,2]", 400, "objeto"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetItem"})", 400, "args"},
        {callBody("Nada.rdmNada", "GetItem", {"0001", "1"}), 404, "Servidor"},
        {callBody(server::kCancelNotaServer, "ApagaTudo", {}), 404, "Método"},
        {callBody(server::kCancelNotaServer, "GetItem", {"0001"}), 400, "argumentos"},
        {callBody(server::kCancelNotaServer, "GetItem", {"0001", qint64(1)}), 400, "string"},
        {callBody(server::kCancelNotaServer, "CancelaNota", {"0001", "'0000000001'", "0001", "op", "T"}), 400,
         "packet"},
        {packetWithBadRow, 400, "linha 1"},
        {callBody(server::kCancelNotaServer, "GetGradePesq", {"0001", "ontem", double(kDay)}), 400, "data"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetItem","args":["0001","1"],"byRef":[true]})", 400, "byRef"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"],"byRef":[1]})", 400, "byRef"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","server":"Nada.rdmNada","args":["0001"]})", 400,
         "repetido"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"]} {})", 400, "dados a mais"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001"],"extra":[1,]})", 400, "JSON"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetItem","args":["0001",42]})", 400, "Argumento 2"},
        {R"({"server":"Exp01800.rdmCancelNota","method":"GetExp","args":["0001","0001"]})", 400,
         "esperados 1 argumentos"},
        {callBody(server::kCancelNotaServer, "GetLanctoNF",
                  {"0001", double(kDay), double(kDay), "'R1' OR 1=1", "", "", "T", "", "", "T", "T"}),
         400, "Lista de rotas"},
        {std::string(2 << 20, ' '), 413, "grande"},
    };
    for (const auto& c : cases) {
        const Answer a = post(c.body);
        EXPECT_EQ(a.http, c.http) << c.body.substr(0, 80);
        EXPECT_EQ(a.status, "raised") << c.body.substr(0, 80);
        EXPECT_TRUE(a.message.contains(c.hint)) << qPrintable(a.message);
    }
    auto cl = client();
    auto unknownPath = cl.Get("/nada");
    ASSERT_TRUE(unknownPath);
    EXPECT_EQ(unknownPath->status, 404);
    EXPECT_NE(unknownPath->body.find("raised"), std::string::npos);
    EXPECT_EQ(status("0001", "0000000001"), "P");
    EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 0);
    // The server still answers after all of that.
    EXPECT_EQ(post(callBody(server::kCancelNotaServer, "GetExp", {"0001"})).status, "ok");
}

TEST_P(OverHttp, MangledRequestsNeverCrashOrChangeData)
{
    addEntry("0001", "0000000001");
    const core::DataPacket list = tick(listEntries("0001"), {"0000000001"});
    const std::string valid = callBody(server::kCancelNotaServer, "CancelaNota", {"0001", list, "0001", "op", "T"});
    quint64 state = 12345;
    auto rnd = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 33;
    };
    const char alphabet[] = "{}[]\",:0123456789.eE-+ tfnu\\\x01\xc3\xa7'";
    for (int i = 0; i < 400; ++i) {
        std::string body = valid;
        const int edits = 1 + int(rnd() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = rnd() % body.size();
            switch (rnd() % 3) {
            case 0: body[at] = alphabet[rnd() % (sizeof(alphabet) - 1)]; break;
            case 1: body.erase(at, 1 + rnd() % 8); break;
            default: body.insert(at, 1, alphabet[rnd() % (sizeof(alphabet) - 1)]);
            }
            if (body.empty())
                body = "{";
        }
        const server::HttpAnswer a = (*srv)->handleCall(body);
        EXPECT_TRUE(a.status == 200 || a.status == 400 || a.status == 404) << a.status << " " << body;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(a.body)).object();
        EXPECT_TRUE(o.value("status") == "ok" || o.value("status") == "raised") << a.body;
    }
    // A mangled call may still be a valid cancellation of the ticked entry; nothing else may change.
    EXPECT_LE(count("SELECT COUNT(*) FROM AUDITCANC"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM LANCTONF"), 1);
}

TEST_P(OverHttp, ListIsWrittenRowByRowAndAFailureAmongTheRowsReachesTheClient)
{
    for (int i = 1; i <= 400; ++i)
        addEntry("0001", QString("%1").arg(i, 10, 10, QChar('0')));
    const core::CallRequest req{server::kCancelNotaServer,
                                "GetLanctoNF",
                                {"0001", double(kDay), core::Date{double(kDay)}, "", "T", "", "T", "", "", "T", "T"},
                                {},
                                token};
    core::HttpTransport transport;
    const core::CallResponse r = transport.call("127.0.0.1", srv->port(), req);
    ASSERT_TRUE(r.result.ok);
    server::CallRequest same{req.server, req.method, core::VariantArray(req.args.begin(), req.args.end()), {}};
    EXPECT_EQ(r.result.payload, (*srv)->registry().call(*db, same).payload);
    EXPECT_EQ(r.result.payload.packet().rowCount(), 400);

    // The list is written row by row, status last.
    auto c = client();
    auto raw =
        c.Post("/call", testsupport::bearer(token), transport.encodeRequest(req).toStdString(), "application/json");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->body.substr(0, 21), "{\"payload\":{\"packet\":");
    const std::string end = "],\"status\":\"ok\"}";
    EXPECT_EQ(raw->body.substr(raw->body.size() - end.size()), end);

    if (GetParam() != "sqlite")
        return; // only SQLite stores a name longer than its column
    sql("UPDATE LANCTONF SET NMRAZSOCCLIE = ? WHERE NRLANCTONF = '0000000390'", {QString(60, 'x')});
    try {
        transport.call("127.0.0.1", srv->port(), req);
        ADD_FAILURE() << "a list with a bad row was accepted";
    } catch (const core::ServerError& e) {
        EXPECT_TRUE(e.message().contains("linha 390")) << qPrintable(e.message());
        EXPECT_TRUE(e.message().contains("NMRAZSOCCLIE")) << qPrintable(e.message());
    }
    // The connection and the server are fine afterwards.
    EXPECT_TRUE(
        transport.call("127.0.0.1", srv->port(), {server::kCancelNotaServer, "GetExp", {"0001"}, {}, token}).result.ok);
}

TEST_P(OverHttp, ListIsSentInChunksWhileItIsReadAndTheConnectionServesTheNextCall)
{
    for (int i = 1; i <= 1500; ++i)
        addEntry("0001", QString("%1").arg(i, 10, 10, QChar('0')));
    const core::VariantArray args{"0001", double(kDay), core::Date{double(kDay)}, "", "T", "", "T", "", "", "T", "T"};
    const std::string body = callBody(server::kCancelNotaServer, "GetLanctoNF", args);
    const server::HttpAnswer whole = (*srv)->handleCall(body);
    ASSERT_EQ(whole.status, 200);

    testsupport::RawSocket s(srv->port());
    ASSERT_TRUE(s.connected());
    for (int round = 0; round < 2; ++round) { // twice on one kept-alive connection
        ASSERT_TRUE(s.send(rawCall(token, body)));
        const Chunked a = readChunked(s);
        ASSERT_TRUE(a.complete) << "round " << round;
        EXPECT_EQ(a.head.substr(0, 15), "HTTP/1.1 200 OK");
        EXPECT_NE(a.head.find("Transfer-Encoding: chunked"), std::string::npos) << a.head;
        EXPECT_EQ(a.head.find("Content-Length"), std::string::npos) << a.head;
        EXPECT_GE(a.chunks, 4) << "parts of about 64 KB";
        EXPECT_EQ(a.body, whole.body);
    }
    // The client decodes the chunks to the rows the method lists.
    const core::CallRequest req{
        server::kCancelNotaServer, "GetLanctoNF", std::vector<Variant>(args.begin(), args.end()), {}, token};
    core::HttpTransport transport;
    const core::CallResponse r = transport.call("127.0.0.1", srv->port(), req);
    ASSERT_TRUE(r.result.ok);
    EXPECT_EQ(r.result.payload.packet().rowCount(), 1500);
    EXPECT_EQ(r.result.payload, (*srv)->registry().call(*db, {req.server, req.method, args, {}}).payload);

    // Callers that hang up after the first chunk, more of them than there
    // are workers: each worker stops reading and is free for the next call.
    for (int i = 0; i < 12; ++i) {
        testsupport::RawSocket gone(srv->port());
        ASSERT_TRUE(gone.send(rawCall(token, body)));
        EXPECT_FALSE(gone.readAll(std::chrono::milliseconds(2000), 1000).empty());
    }
    EXPECT_EQ(transport.call("127.0.0.1", srv->port(), req).result.payload.packet().rowCount(), 1500);

    if (GetParam() != "sqlite")
        return; // only SQLite stores a name longer than its column
    // A failure after rows went out: the chunks end the answer as raised; the
    // client reports the error and its dataset keeps the rows it had.
    core::ClientDataset ds;
    ds.addString("NRLANCTONF", 10);
    ds.loadFromPacket(r.result.payload.packet());
    sql("UPDATE LANCTONF SET NMRAZSOCCLIE = ? WHERE NRLANCTONF = '0000001400'", {QString(60, 'x')});
    ASSERT_TRUE(s.send(rawCall(token, body)));
    const Chunked cut = readChunked(s);
    ASSERT_TRUE(cut.complete);
    EXPECT_GE(cut.chunks, 4) << "rows were sent before the failure";
    EXPECT_EQ(cut.body.substr(0, 21), "{\"payload\":{\"packet\":");
    EXPECT_NE(cut.body.find("\"status\":\"raised\",\"message\":"), std::string::npos);
    EXPECT_NE(cut.body.find("linha 1400"), std::string::npos);
    try {
        ds.setData(transport.call("127.0.0.1", srv->port(), req).result.payload);
        ADD_FAILURE() << "a list with a bad row was accepted";
    } catch (const core::ServerError& e) {
        EXPECT_TRUE(e.message().contains("linha 1400")) << qPrintable(e.message());
    }
    EXPECT_EQ(ds.recordCount(), 1500);
    // The same connection serves the next call.
    ASSERT_TRUE(s.send(rawCall(token, callBody(server::kCancelNotaServer, "GetExp", {"0001"}))));
    const std::string next = s.readAll(std::chrono::milliseconds(1000));
    EXPECT_EQ(next.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(next.find("\"status\":\"ok\""), std::string::npos) << next;
}

// A computed answer that holds a long list (the tick-all's list, with the
// replicated documents and the count beside it) goes in parts too, encoded
// while the first parts are on their way; a short one still goes whole.
TEST_P(OverHttp, AComputedAnswerHoldingALongListIsSentInParts)
{
    for (int i = 1; i <= 1500; ++i)
        addEntry("0001", QString("%1").arg(i, 10, 10, QChar('0')));
    addReplica("0001", "0000000007", "0003", "0000000100", "P");
    const core::DataPacket list = listEntries("0001");
    const std::string body =
        core::HttpTransport::encodeRequest({server::kCancelNotaServer, "VerReplic", {list, "", ""}, {}}).toStdString();
    const server::HttpAnswer whole = (*srv)->handleCall(body);
    ASSERT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body.substr(0, 22), "{\"payload\":[{\"packet\":");
    EXPECT_EQ(whole.body.substr(whole.body.size() - 40), "],\"refs\":[null,null,null],\"status\":\"ok\"}");

    testsupport::RawSocket s(srv->port());
    ASSERT_TRUE(s.send(rawCall(token, body)));
    const Chunked a = readChunked(s);
    ASSERT_TRUE(a.complete);
    EXPECT_NE(a.head.find("Transfer-Encoding: chunked"), std::string::npos) << a.head;
    EXPECT_GE(a.chunks, 4) << "parts of about 64 KB";
    EXPECT_EQ(a.body, whole.body);

    // The client puts the rows it read on the way back in their place.
    core::HttpTransport transport;
    const core::CallRequest req{server::kCancelNotaServer, "VerReplic", {list, "", ""}, {}, token};
    const core::CallResponse r = transport.call("127.0.0.1", srv->port(), req);
    ASSERT_TRUE(r.result.ok);
    const Variant direct = (*srv)->registry().call(*db, {req.server, req.method, {list, "", ""}, {}}).payload;
    EXPECT_EQ(r.result.payload, direct);
    EXPECT_EQ(r.result.payload[0].packet().rowCount(), 1500);
    EXPECT_EQ(column(r.result.payload[1].packet(), "NRLANCTONF"), QStringList{"0000000007"});
    EXPECT_EQ(r.result.payload[2].toInt(), 1500);

    // A short list: one answer with its length, status first.
    core::DataPacket few(list.fields());
    few.rows().assign(list.rows().begin(), list.rows().begin() + 10);
    ASSERT_TRUE(
        s.send(rawCall(token,
                       core::HttpTransport::encodeRequest({server::kCancelNotaServer, "VerReplic", {few, "", ""}, {}})
                           .toStdString())));
    const std::string small = s.readAll(std::chrono::milliseconds(1000));
    EXPECT_NE(small.find("Content-Length"), std::string::npos) << small.substr(0, 300);
    EXPECT_NE(small.find("{\"status\":\"ok\",\"payload\":[{\"packet\""), std::string::npos) << small.substr(0, 300);
}

TEST_P(OverHttp, RequestBodiesAreReadWhileTheyArriveWhateverTheirChunks)
{
    for (int i = 1; i <= 50; ++i)
        addEntry("0001", QString("%1").arg(i, 10, 10, QChar('0')));
    const core::DataPacket list = listEntries("0001");
    const std::string body =
        core::HttpTransport::encodeRequest({server::kCancelNotaServer, "VerReplic", {list, "", ""}, {}}).toStdString();
    const server::HttpAnswer whole = (*srv)->handleCall(body);
    ASSERT_EQ(whole.status, 200) << whole.body;
    for (size_t piece : {size_t(1), size_t(7), size_t(1000)}) {
        auto c = client();
        auto r = c.Post(
            "/call", testsupport::bearer(token),
            [&](size_t offset, httplib::DataSink& sink) {
                if (offset >= body.size()) {
                    sink.done();
                    return true;
                }
                return sink.write(body.data() + offset, std::min(piece, body.size() - offset));
            },
            "application/json");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 200);
        EXPECT_EQ(r->body, whole.body) << "piece " << piece;
    }
    // A chunked body over the limit is refused while it is read.
    auto c = client();
    const std::string big(1 << 16, ' ');
    auto r = c.Post(
        "/call", testsupport::bearer(token),
        [&](size_t offset, httplib::DataSink& sink) {
            if (offset >= (2u << 20)) {
                sink.done();
                return true;
            }
            return sink.write(big.data(), big.size());
        },
        "application/json");
    if (r) { // the server may close before the client has sent everything
        EXPECT_EQ(r->status, 413);
        EXPECT_NE(r->body.find("grande"), std::string::npos);
    }
    // A bad row in a packet argument names the argument and the row.
    core::DataPacket bad = list;
    const std::string badBody = [&] {
        std::string b = core::HttpTransport::encodeRequest({server::kCancelNotaServer, "VerReplic", {bad, "", ""}, {}})
                            .toStdString();
        const size_t at = b.rfind("[\"N\"");
        b.replace(at, 5, "[\"NN\"");
        return b;
    }();
    const Answer a = post(badBody);
    EXPECT_EQ(a.http, 400);
    EXPECT_TRUE(a.message.contains("Argumento 1")) << qPrintable(a.message);
    EXPECT_TRUE(a.message.contains("linha 50")) << qPrintable(a.message);
}

TEST_P(OverHttp, TwoClientsCancellingOverlappingEntriesCancelEachOnce)
{
    for (int round = 0; round < 3; ++round) {
        sql("DELETE FROM LANCTONF");
        sql("DELETE FROM AUDITCANC");
        QStringList all;
        for (int i = 1; i <= 20; ++i) {
            const QString nr = QString::number(round * 100 + i).rightJustified(10, '0');
            addEntry("0001", nr);
            addItem("0001", nr, "0001", "P1", 1);
            all << nr;
        }
        const core::DataPacket loaded = listEntries("0001");
        const std::string bodyA = callBody(server::kCancelNotaServer, "CancelaNota",
                                           {"0001", tick(loaded, all.mid(0, 14)), "0001", "OPA", "T"});
        const std::string bodyB = callBody(server::kCancelNotaServer, "CancelaNota",
                                           {"0001", tick(loaded, all.mid(6, 14)), "0001", "OPB", "T"});
        const QString tokenA = testsupport::tokenFor(*db, srv->port(), "OPA");
        const QString tokenB = testsupport::tokenFor(*db, srv->port(), "OPB");
        Answer a, b;
        std::latch go(2);
        std::thread ta([&] {
            go.arrive_and_wait();
            a = post(bodyA, tokenA);
        });
        std::thread tb([&] {
            go.arrive_and_wait();
            b = post(bodyB, tokenB);
        });
        ta.join();
        tb.join();
        ASSERT_EQ(a.http, 200);
        ASSERT_EQ(b.http, 200);
        // One of them won everything it asked for; the other was told that some were not cancelled.
        const bool aWon = a.status == "ok";
        const Answer& loser = aWon ? b : a;
        EXPECT_EQ((aWon ? a : b).status, "ok") << qPrintable((aWon ? a : b).message);
        EXPECT_EQ(loser.status, "raised");
        EXPECT_EQ(loser.message, "NOTAS_N_CANC");
        EXPECT_EQ(count("SELECT COUNT(*) FROM LANCTONF WHERE IDSTATUS = 'C'"), 20);
        EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC"), 20);
        EXPECT_EQ(
            count("SELECT COUNT(*) FROM (SELECT NRLANCTONF FROM AUDITCANC GROUP BY NRLANCTONF HAVING COUNT(*) > 1) X"),
            0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM AUDITCANC WHERE CDOPERADOR = ?", {aWon ? "OPA" : "OPB"}), 14);
        EXPECT_EQ(count("SELECT COUNT(*) FROM ITLANCTONF WHERE IDCANCELADO = 'N'"), 0);
    }
}

namespace {
// An authority that takes its time, so a call is surely running when the server is stopped.
class SlowAuthority : public server::SefazPort {
public:
    std::latch entered{1};
    server::SefazAnswer query(server::Database&, const server::SefazQuery&) override
    {
        entered.count_down();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return {true, 100, {}};
    }
};
} // namespace

TEST(ServerStop, RunningCallsFinishBeforeTheServerStops)
{
    QTemporaryDir dir;
    server::Database db(server::DbConfig::parse("sqlite:" + dir.filePath("stop.db")));
    server::migrateSchema(db);
    auto slow = std::make_shared<SlowAuthority>();
    server::ServerOptions o;
    o.port = 0;
    o.threads = 4;
    o.log = false;
    server::AppServer srv(db, o, slow);
    srv.bind();
    std::thread runner([&] { srv.run(); });
    const QString token = testsupport::tokenFor(db, srv.port());
    Answer inFlight;
    std::thread caller([&] {
        httplib::Client c("127.0.0.1", srv.port());
        inFlight =
            parse(c.Post("/call", testsupport::bearer(token),
                         callBody(server::kSituacaoServer, "GetSituacao", {"2", "C", "K", "SP", "01", "35", "1", "I"}),
                         "application/json"));
    });
    slow->entered.wait();
    const auto t0 = std::chrono::steady_clock::now();
    srv.stop();
    runner.join(); // run() returns only once the running call has answered
    caller.join();
    EXPECT_EQ(inFlight.http, 200);
    EXPECT_EQ(inFlight.status, "ok");
    EXPECT_EQ(inFlight.payload, Variant::array({"S", "100"}));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200));
    httplib::Client after("127.0.0.1", srv.port());
    after.set_connection_timeout(1);
    EXPECT_FALSE(after.Get("/health")); // no longer accepting
}

SERVER_BACKENDS(OverHttp);
