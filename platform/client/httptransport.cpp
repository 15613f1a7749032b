#include "httptransport.h"
#include "session.h"

#include "callguard.h"
#include "interruption.h"
#include <core/datapacket.h>
#include <core/errors.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace core {

namespace {
// What people are told when the application server cannot be used; the
// technical text (server, method, address, transport error) goes to the log.
QString unreachableText(const QString& where)
{
    return QStringLiteral("O servidor de aplicação (%1) não respondeu. Verifique a rede e se o servidor está no ar, e "
                          "tente de novo; se continuar, avise o suporte.")
        .arg(where);
}
QString notUnderstoodText()
{
    return QStringLiteral("O servidor de aplicação deu uma resposta que o sistema não entende. Tente de novo; se "
                          "continuar, avise o suporte.");
}
} // namespace

namespace {

using Clock = std::chrono::steady_clock;

/// A kept-alive connection is dropped after this much idleness rather than
/// risk sending a call on a socket the server is about to close.
constexpr auto kMaxIdle = std::chrono::seconds(3);

QString endpoint(const QString& host, int port)
{
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

/// "http://host/" and "host" both name the host; "https://host" asks for
/// TLS. The returned host keeps "https://" so that it stays its own endpoint.
QString bareHost(const QString& host)
{
    QString h = host.trimmed();
    if (h.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        h = h.mid(7);
    else if (h.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        h = QStringLiteral("https://") + h.mid(8);
    while (h.endsWith(QLatin1Char('/')))
        h.chop(1);
    return h;
}

bool isTls(const QString& bare)
{
    return bare.startsWith(QLatin1String("https://"));
}

/// A client for the host: plain, or TLS checking the server's certificate
/// against `caFile` (the system's authorities when empty) and the host name.
/// There is deliberately no way to skip the check.
std::unique_ptr<httplib::Client> makeClient(const QString& bare, int port, const std::string& caFile)
{
    if (!isTls(bare))
        return std::make_unique<httplib::Client>(bare.toStdString(), port);
    auto c = std::make_unique<httplib::Client>(endpoint(bare, port).toStdString());
    if (!caFile.empty())
        c->set_ca_cert_path(caFile);
    c->enable_server_certificate_verification(true);
    return c;
}

QString errorText(httplib::Error e)
{
    switch (e) {
    case httplib::Error::Connection: return QStringLiteral("conexão recusada ou servidor inacessível");
    case httplib::Error::ConnectionTimeout: return QStringLiteral("tempo de conexão esgotado");
    case httplib::Error::Read: return QStringLiteral("sem resposta no tempo limite ou conexão interrompida");
    case httplib::Error::Write: return QStringLiteral("conexão interrompida ao enviar");
    case httplib::Error::Canceled: return QStringLiteral("chamada cancelada");
    case httplib::Error::SSLConnection: return QStringLiteral("falha ao estabelecer a conexão segura (TLS)");
    case httplib::Error::SSLServerVerification:
        return QStringLiteral("certificado do servidor recusado (autoridade certificadora ou nome não conferem)");
    default: return QString::fromStdString(httplib::to_string(e));
    }
}

/// Runs `work` to its end. On the application's main thread it runs on a
/// worker thread while a local event loop keeps the windows painting and
/// ignores user input; elsewhere it runs right here. Exceptions reach the
/// caller unchanged.
void runBlocking(const std::function<void()>& work,
                 QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done.store(true);
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    while (!done.load())
        loop.exec(flags);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

bool onMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

/// The operator's stop of a call in flight, from the main thread: the
/// client's socket is shut (the server sees the connection go) and the
/// reading ends. A stop that comes before the exchange began keeps it unsent.
class StopSwitch {
public:
    void attach(httplib::Client* c)
    {
        std::lock_guard lock(mutex_);
        client_ = c;
    }
    void detach()
    {
        std::lock_guard lock(mutex_);
        client_ = nullptr;
    }
    void stop()
    {
        stopped_.store(true);
        std::lock_guard lock(mutex_);
        if (client_)
            client_->stop();
    }
    bool stopped() const { return stopped_.load(); }

private:
    std::mutex mutex_;
    httplib::Client* client_ = nullptr;
    std::atomic<bool> stopped_{false};
};

// --- keep-alive clients --------------------------------------------------------

struct IdleClient {
    std::unique_ptr<httplib::Client> client;
    Clock::time_point since;
};

} // namespace

struct HttpTransport::Impl {
    std::atomic<qint64> connectMs{3000};
    std::atomic<qint64> readMs{120000};
    std::atomic<std::size_t> maxAnswer{kDefaultMaxAnswer};
    std::mutex mutex;
    std::map<QString, std::vector<IdleClient>> idle;
    std::string caFile; ///< guarded by mutex

    std::string ca()
    {
        std::lock_guard lock(mutex);
        return caFile;
    }

    std::unique_ptr<httplib::Client> checkout(const QString& host, int port)
    {
        const QString key = endpoint(host, port);
        {
            std::lock_guard lock(mutex);
            auto& list = idle[key];
            while (!list.empty()) {
                IdleClient c = std::move(list.back());
                list.pop_back();
                if (Clock::now() - c.since < kMaxIdle)
                    return std::move(c.client);
            }
        }
        auto c = makeClient(host, port, ca());
        c->set_keep_alive(true);
        c->set_tcp_nodelay(true);
        c->set_decompress(false);
        return c;
    }

    void checkin(const QString& host, int port, std::unique_ptr<httplib::Client> c)
    {
        std::lock_guard lock(mutex);
        auto& list = idle[endpoint(host, port)];
        if (list.size() < 4)
            list.push_back({std::move(c), Clock::now()});
    }

    void applyTimeouts(httplib::Client& c) const
    {
        c.set_connection_timeout(std::chrono::milliseconds(connectMs.load()));
        c.set_read_timeout(std::chrono::milliseconds(readMs.load()));
        c.set_write_timeout(std::chrono::milliseconds(std::max<qint64>(readMs.load(), 1000)));
    }
};

HttpTransport::HttpTransport() : d(std::make_unique<Impl>())
{
    // A write on a connection the peer has closed (a kept-alive socket the
    // server or proxy dropped) must be an error of that call, not SIGPIPE
    // ending the program: OpenSSL writes without MSG_NOSIGNAL.
    static const bool ignored = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;
}

HttpTransport::~HttpTransport() = default;

HttpTransport& HttpTransport::shared()
{
    static HttpTransport* instance = [] {
        auto* t = new HttpTransport; // lives until exit: other statics may still call
        bool ok = false;
        const int secs = qEnvironmentVariableIntValue("EXP_CALL_TIMEOUT", &ok);
        if (ok && secs > 0)
            t->setReadTimeout(std::chrono::seconds(secs));
        if (qEnvironmentVariableIsSet("EXP_SERVER_CA"))
            t->setCaFile(qEnvironmentVariable("EXP_SERVER_CA"));
        return t;
    }();
    return *instance;
}

void HttpTransport::setConnectTimeout(std::chrono::milliseconds t)
{
    d->connectMs.store(std::max<qint64>(t.count(), 1));
}

void HttpTransport::setReadTimeout(std::chrono::milliseconds t)
{
    d->readMs.store(std::max<qint64>(t.count(), 1));
}

void HttpTransport::setCaFile(const QString& path)
{
    std::lock_guard lock(d->mutex);
    d->caFile = path.toStdString();
    d->idle.clear(); // kept-alive connections were checked against the former authority
}

QString HttpTransport::caFile() const
{
    std::lock_guard lock(d->mutex);
    return QString::fromStdString(d->caFile);
}

void HttpTransport::setMaxAnswer(std::size_t bytes)
{
    d->maxAnswer.store(std::max<std::size_t>(bytes, 1024));
}

std::chrono::milliseconds HttpTransport::readTimeout() const
{
    return std::chrono::milliseconds(d->readMs.load());
}

void HttpTransport::connect(const QString& hostIn, int port, const QString& server)
{
    const QString host = bareHost(hostIn);
    const std::string path = "/health?server=" + QUrl::toPercentEncoding(server).toStdString();
    int status = 0;
    httplib::Error err = httplib::Error::Success;
    runBlocking([&] {
        // A fresh client: a health check must see the server as it is now.
        // Bounded like a call: a small answer, never inflated, within the deadline.
        auto client = makeClient(host, port, d->ca());
        httplib::Client& c = *client;
        c.set_tcp_nodelay(true);
        c.set_decompress(false);
        c.set_connection_timeout(std::chrono::milliseconds(d->connectMs.load()));
        const auto deadline = std::chrono::milliseconds(std::min<qint64>(d->readMs.load(), 10000));
        c.set_read_timeout(deadline);
        httplib::Request req;
        req.method = "GET";
        req.path = path;
        BoundedAnswer answer(64 << 10);
        answer.attach(req);
        httplib::Response res;
        CallDeadline watch(deadline, [&c] { c.stop(); });
        if (c.send(req, res, err) && !answer.tooBig && !answer.encoded)
            status = res.status;
        else if (err == httplib::Error::Success)
            err = httplib::Error::Read;
    });
    if (err != httplib::Error::Success)
        throw ConnectionError(QStringLiteral("Não foi possível conectar ao servidor de aplicação %1 em %2: %3")
                                  .arg(server, endpoint(host, port), errorText(err)),
                              unreachableText(endpoint(host, port)));
    if (status == 404)
        throw ConnectionError(
            QStringLiteral("O servidor de aplicação %1 não é atendido em %2").arg(server, endpoint(host, port)),
            QStringLiteral("O servidor em %1 não atende esta tela. Verifique o endereço do servidor "
                           "de aplicação na configuração; se estiver certo, avise o suporte.")
                .arg(endpoint(host, port)));
    if (status != 200)
        throw ConnectionError(QStringLiteral("O servidor em %1 respondeu HTTP %2 à verificação de %3")
                                  .arg(endpoint(host, port))
                                  .arg(status)
                                  .arg(server),
                              unreachableText(endpoint(host, port)));
}

namespace {

/// One POST with the client's bounds: the overall deadline closes the socket,
/// the answer is read up to the cap and never inflated.
struct BoundedPost {
    int status = 0;
    std::string body;
    httplib::Error err = httplib::Error::Success;
    bool tooBig = false, encoded = false, late = false, refused = false;

    /// With `sink`, the answer's pieces go there as they arrive (see BoundedAnswer).
    void run(httplib::Client& c, const std::string& path, const QByteArray& payload, const QString& token,
             std::chrono::milliseconds deadline, std::size_t cap,
             std::function<bool(const char*, std::size_t)> sink = nullptr)
    {
        httplib::Request req;
        req.method = "POST";
        req.path = path;
        req.body.assign(payload.constData(), size_t(payload.size()));
        req.set_header("Content-Type", "application/json");
        if (!token.isEmpty())
            req.set_header("Authorization", "Bearer " + token.toStdString());
        BoundedAnswer answer(cap);
        answer.sink = std::move(sink);
        answer.attach(req);
        httplib::Response res;
        {
            CallDeadline watch(deadline, [&c] { c.stop(); });
            const bool ok = c.send(req, res, err);
            late = watch.expired();
            if (ok)
                err = httplib::Error::Success;
        }
        tooBig = answer.tooBig;
        encoded = answer.encoded;
        refused = answer.refused;
        status = res.status;
        body = std::move(answer.body);
    }
    bool failed() const { return late || tooBig || encoded || err != httplib::Error::Success; }
    QString why(std::chrono::milliseconds deadline, std::size_t cap) const
    {
        if (late)
            return QStringLiteral("a chamada passou de %1 s e foi interrompida").arg(deadline.count() / 1000.0);
        if (encoded)
            return QStringLiteral("resposta compactada recusada");
        if (tooBig)
            return QStringLiteral("resposta maior que o limite de %1 MB").arg(cap >> 20);
        return errorText(err);
    }
};

} // namespace

CallResponse HttpTransport::call(const QString& hostIn, int port, const CallRequest& req)
{
    const QString host = bareHost(hostIn);
    const QByteArray body = encodeRequest(req);
    const auto deadline = std::chrono::milliseconds(d->readMs.load());
    const std::size_t cap = d->maxAnswer.load();
    AnswerReader answer(req);
    BoundedPost post;
    // Within a scope the operator may stop, the call can be ended from the
    // progress animation (interruption.h); one already stopped is not sent.
    StopSwitch stopper;
    std::optional<interruption::CallHook> hook;
    if (onMainThread())
        hook.emplace([&stopper] { stopper.stop(); });
    runBlocking(
        [&] {
            std::unique_ptr<httplib::Client> c = d->checkout(host, port);
            d->applyTimeouts(*c);
            stopper.attach(c.get());
            if (stopper.stopped()) {
                stopper.detach();
                return;
            }
            // Each piece is decoded as it arrives, while the server goes on
            // writing; the cap and the deadline hold piece by piece, and a
            // malformed answer (or the operator's stop) ends the reading.
            post.run(*c, "/call", body, req.token, deadline, cap, [&answer, &stopper](const char* data, std::size_t n) {
                return !stopper.stopped() && answer.feed(data, qsizetype(n));
            });
            stopper.detach();
            if (!post.failed() && !stopper.stopped())
                d->checkin(host, port, std::move(c)); // a failed or stopped client is dropped with its socket
        },
        hook ? hook->loopFlags() : QEventLoop::ExcludeUserInputEvents);
    if (stopper.stopped())
        throw Interrupted();
    if (post.refused && !post.late)
        return answer.finish(post.status); // refused while reading: says why
    if (post.failed())
        throw ConnectionError(QStringLiteral("Sem resposta do servidor de aplicação %1 em %2 (método %3): %4")
                                  .arg(req.server, endpoint(host, port), req.method, post.why(deadline, cap)),
                              unreachableText(endpoint(host, port)));
    return answer.finish(post.status);
}

HttpTransport::AnswerReader::AnswerReader(const CallRequest& req)
    : req_(req), reader_(std::make_unique<codec::EnvelopeReader>())
{ }

HttpTransport::AnswerReader::~AnswerReader() = default;

bool HttpTransport::AnswerReader::feed(const char* data, qsizetype size)
{
    if (!fault_.isEmpty())
        return false;
    try {
        reader_->feed(data, size);
    } catch (const Error& e) {
        fault_ = e.message();
        return false;
    }
    return true;
}

qint64 HttpTransport::AnswerReader::size() const
{
    return reader_->size();
}

LoginAnswer HttpTransport::login(const QString& hostIn, int port, const QString& operador, const QString& senha)
{
    const QString host = bareHost(hostIn);
    const QByteArray body =
        QJsonDocument(QJsonObject{{"operador", operador}, {"senha", senha}}).toJson(QJsonDocument::Compact);
    const auto deadline = std::chrono::milliseconds(std::min<qint64>(d->readMs.load(), 30000));
    BoundedPost post;
    runBlocking([&] {
        auto client = makeClient(host, port, d->ca()); // the password travels over TLS for an https host
        httplib::Client& c = *client;
        c.set_tcp_nodelay(true);
        c.set_decompress(false);
        c.set_connection_timeout(std::chrono::milliseconds(d->connectMs.load()));
        c.set_read_timeout(deadline);
        post.run(c, "/login", body, QString(), deadline, 64 << 10);
    });
    if (post.failed())
        throw ConnectionError(QStringLiteral("Não foi possível entrar no servidor de aplicação em %1: %2")
                                  .arg(endpoint(host, port), post.why(deadline, 64 << 10)),
                              unreachableText(endpoint(host, port)));
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(post.body)).object();
    if (post.status == 401)
        throw SessionError(o.value(QStringLiteral("message")).toString(QStringLiteral("Operador ou senha inválidos.")));
    if (post.status != 200 || o.value(QStringLiteral("status")).toString() != QLatin1String("ok")
        || o.value(QStringLiteral("token")).toString().isEmpty())
        throw ConnectionError(QStringLiteral("Resposta inválida do servidor de aplicação ao entrar (HTTP %1): %2")
                                  .arg(post.status)
                                  .arg(o.value(QStringLiteral("message")).toString()),
                              notUnderstoodText());
    LoginAnswer a;
    a.token = o.value(QStringLiteral("token")).toString();
    a.operador = o.value(QStringLiteral("operador")).toString(operador);
    a.nome = o.value(QStringLiteral("nome")).toString();
    a.expira = qint64(o.value(QStringLiteral("expira")).toDouble());
    for (const QJsonValue& v : o.value(QStringLiteral("filiais")).toArray())
        if (v.isString())
            a.filiais << v.toString();
    mustChangePassword() = o.value(QStringLiteral("trocarSenha")).toBool();
    return a;
}

void HttpTransport::logout(const QString& hostIn, int port, const QString& token)
{
    const QString host = bareHost(hostIn);
    const auto deadline = std::chrono::milliseconds(std::min<qint64>(d->readMs.load(), 5000));
    BoundedPost post;
    runBlocking([&] {
        auto client = makeClient(host, port, d->ca());
        httplib::Client& c = *client;
        c.set_decompress(false);
        c.set_connection_timeout(std::chrono::milliseconds(d->connectMs.load()));
        c.set_read_timeout(deadline);
        post.run(c, "/logout", QByteArray("{}"), token, deadline, 64 << 10);
    });
}

// The session's operator changes their own password (declared in session.h):
// POST /senha with the session's token, over TLS for an https host.
int httpChangePassword(const QString& hostIn, int port, const QString& token, const QString& atual, const QString& nova)
{
    HttpTransport& t = HttpTransport::shared();
    const QString host = bareHost(hostIn);
    const QByteArray body = QJsonDocument(QJsonObject{{"atual", atual}, {"nova", nova}}).toJson(QJsonDocument::Compact);
    const auto deadline = std::chrono::milliseconds(std::min<qint64>(t.readTimeout().count(), 30000));
    const std::string ca = t.caFile().toStdString();
    BoundedPost post;
    runBlocking([&] {
        auto client = makeClient(host, port, ca);
        httplib::Client& c = *client;
        c.set_tcp_nodelay(true);
        c.set_decompress(false);
        c.set_connection_timeout(std::chrono::milliseconds(3000));
        c.set_read_timeout(deadline);
        post.run(c, "/senha", body, token, deadline, 64 << 10);
    });
    if (post.failed())
        throw ConnectionError(QStringLiteral("Não foi possível trocar a senha no servidor de aplicação em %1: %2")
                                  .arg(endpoint(host, port), post.why(deadline, 64 << 10)));
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(post.body)).object();
    const QString message = o.value(QStringLiteral("message")).toString();
    if (post.status == 401)
        throw SessionError(message.isEmpty() ? QStringLiteral("Senha atual não confere.") : message);
    if (post.status == 422 || post.status == 400)
        throw Error(message);
    if (post.status != 200)
        throw ConnectionError(QStringLiteral("Resposta inválida do servidor ao trocar a senha (HTTP %1): %2")
                                  .arg(post.status)
                                  .arg(message));
    return o.value(QStringLiteral("sessoesEncerradas")).toInt();
}

QByteArray HttpTransport::encodeRequest(const CallRequest& req)
{
    QByteArray out;
    out.reserve(256);
    out += "{\"server\":";
    out += codec::encodeVariant(Variant(req.server));
    out += ",\"method\":";
    out += codec::encodeVariant(Variant(req.method));
    out += ",\"args\":[";
    for (size_t i = 0; i < req.args.size(); ++i) {
        if (i)
            out += ',';
        out += codec::encodeVariant(req.args[i]);
    }
    out += "],\"byRef\":[";
    for (size_t i = 0; i < req.args.size(); ++i) {
        if (i)
            out += ',';
        out += (i < req.byRef.size() && req.byRef[i]) ? "true" : "false";
    }
    out += "]}";
    return out;
}

CallResponse HttpTransport::decodeResponse(int httpStatus, const QByteArray& body, const CallRequest& req)
{
    AnswerReader r(req);
    r.feed(body.constData(), body.size());
    return r.finish(httpStatus);
}

CallResponse HttpTransport::AnswerReader::finish(int httpStatus)
{
    if (fault_.isEmpty()) {
        try {
            reader_->end();
        } catch (const Error& e) {
            fault_ = e.message();
        }
    }
    const CallRequest& req = req_;
    const QByteArray& body = reader_->envelope();
    const QString where = QStringLiteral("%1.%2").arg(req.server, req.method);
    auto malformed = [&](const QString& why) {
        return ConnectionError(QStringLiteral("Resposta inválida do servidor de aplicação (%1, HTTP %2): %3")
                                   .arg(where)
                                   .arg(httpStatus)
                                   .arg(why),
                               notUnderstoodText());
    };

    // The envelope is split first and each member decoded once afterwards,
    // so a large packet is parsed only one time.
    codec::RawObject m;
    QString status;
    try {
        if (!fault_.isEmpty())
            throw Error(fault_);
        m = codec::splitObject(body);
        const QByteArray* s = m.find(u"status");
        if (!s)
            throw malformed(QStringLiteral("falta \"status\""));
        const Variant sv = codec::decodeVariant(*s);
        if (sv.type() != Variant::Type::String)
            throw malformed(QStringLiteral("\"status\" não é texto"));
        status = sv.toString();
    } catch (const ConnectionError&) {
        throw;
    } catch (const Error& e) {
        if (httpStatus == 401)
            throw SessionError(QStringLiteral("Sessão recusada pelo servidor de aplicação."));
        if (httpStatus != 200)
            throw malformed(QStringLiteral("resposta sem conteúdo reconhecível"));
        throw malformed(e.message());
    }

    auto text = [&](const QString& name) -> QString {
        const QByteArray* raw = m.find(name);
        if (!raw)
            throw malformed(QStringLiteral("falta \"%1\"").arg(name));
        Variant v;
        try {
            v = codec::decodeVariant(*raw);
        } catch (const Error& e) {
            throw malformed(e.message());
        }
        if (v.type() != Variant::Type::String)
            throw malformed(QStringLiteral("\"%1\" não é texto").arg(name));
        return v.toString();
    };

    if (status == QLatin1String("raised")) {
        if (httpStatus == 401)
            throw SessionError(text(QStringLiteral("message")));
        // A reverse proxy in front of the servers answers these itself: no
        // server gave the answer, so it is a connection failure with the
        // proxy's text.
        if (httpStatus == 502 || httpStatus == 503 || httpStatus == 504)
            throw ConnectionError(
                QStringLiteral("%1 (%2, HTTP %3)").arg(text(QStringLiteral("message")), where).arg(httpStatus),
                QStringLiteral("Nenhum servidor de aplicação está atendendo agora. Tente de novo em "
                               "alguns instantes; se continuar, avise o suporte."));
        const bool knownHttp = httpStatus == 200 || httpStatus == 400 || httpStatus == 403 || httpStatus == 404
            || httpStatus == 411 || httpStatus == 413 || httpStatus == 415 || httpStatus == 500;
        if (!knownHttp)
            throw malformed(QStringLiteral("erro com código HTTP inesperado"));
        const QString message = text(QStringLiteral("message"));
        // The server names the method that refused ("GetParExpedicao: o
        // operador ANA não tem acesso à filial 0001."): people are told the
        // refusal and what to do, the method goes to the log.
        if (httpStatus == 403) {
            const QString prefix = req.method + QStringLiteral(": ");
            QString refusal = (message.startsWith(prefix) ? message.mid(prefix.size()) : message).trimmed();
            if (!refusal.isEmpty())
                refusal[0] = refusal[0].toUpper();
            refusal += refusal.contains(QStringLiteral("acesso à filial"))
                ? QStringLiteral(" Peça acesso a ela, ou entre no sistema com uma das suas filiais.")
                : QStringLiteral(" Entre no sistema de novo; se continuar, avise o suporte.");
            throw ServerError(QStringLiteral("%1 (%2, HTTP 403)").arg(message, where), refusal);
        }
        throw ServerError(message);
    }
    if (httpStatus != 200)
        throw malformed(QStringLiteral("código HTTP inesperado para \"%1\"").arg(status));
    if (status == QLatin1String("failed"))
        return CallResponse{ServerResult::failure(text(QStringLiteral("message"))), {}};
    if (status != QLatin1String("ok"))
        throw malformed(QStringLiteral("\"status\" desconhecido \"%1\"").arg(status));

    CallResponse out;
    try {
        const QByteArray* p = m.find(u"payload");
        Variant payload = p ? codec::decodeVariant(*p) : Variant();
        if (reader_->streamed(codec::EnvelopeReader::kPayload))
            payload = codec::withRows(payload, reader_->takeRows(codec::EnvelopeReader::kPayload));
        if (payload.isArray()) {
            // Packets among the payload's elements whose rows were read as they arrived.
            VariantArray elements;
            bool any = false;
            for (int i = 0; i < payload.count(); ++i) {
                const int slot = codec::EnvelopeReader::payloadElement(i);
                const bool streamed = reader_->streamed(slot);
                elements.push_back(streamed ? codec::withRows(payload[i], reader_->takeRows(slot)) : payload[i]);
                any = any || streamed;
            }
            if (any)
                payload = Variant(std::move(elements));
        }
        out.result = ServerResult::success(std::move(payload));
        bool anyRef = false;
        for (bool b : req.byRef)
            anyRef = anyRef || b;
        if (const QByteArray* r = m.find(u"refs")) {
            const Variant refs = codec::decodeVariant(*r);
            if (!refs.isNull()) {
                if (!refs.isArray())
                    throw malformed(QStringLiteral("\"refs\" não é lista"));
                if (anyRef && size_t(refs.count()) != req.args.size())
                    throw malformed(QStringLiteral("\"refs\" com %1 valores para %2 argumentos")
                                        .arg(refs.count())
                                        .arg(req.args.size()));
                if (anyRef)
                    out.refs.assign(refs.elements().begin(), refs.elements().end());
            }
        }
        if (anyRef && out.refs.empty())
            throw malformed(QStringLiteral("faltam os valores por referência"));
    } catch (const ConnectionError&) {
        throw;
    } catch (const Error& e) {
        throw malformed(e.message());
    }
    return out;
}

} // namespace core
