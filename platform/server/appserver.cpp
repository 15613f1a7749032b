#include "appserver.h"

#include "cancelnota.h"

#include <core/datapacket.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QUrlQuery>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <functional>
#include <optional>

namespace server {

namespace {

// Messages quote a caller's values cut short (see quoted()); this bound
// holds for any message, so an answer never grows with the request.
constexpr int kMaxMessage = 2000;

std::string raisedBody(const QString& message)
{
    const QString m = message.size() > kMaxMessage ? message.left(kMaxMessage) + "..." : message;
    return QJsonDocument(QJsonObject{{"status", "raised"}, {"message", m}}).toJson(QJsonDocument::Compact).toStdString();
}

// Bounds on one call's body, applied while it is decoded: a body of any
// shape is refused at a memory cost bounded by them, never by its size.
// Rows: the longest list a method takes; values: that many rows of the
// widest entry row; texts: a picked list of every key a screen may send, with
// room; the envelope outside packet rows (names, plain arguments, field
// lists): a few KB in practice.
constexpr qint64 kMaxCallRows = kMaxListEntries;
constexpr qint64 kMaxCallCells = qint64(kMaxListEntries) * kMaxEntryFields;
constexpr qint64 kMaxCallText = 256 * 1024;
constexpr qint64 kMaxCallKept = 4 << 20;

core::codec::DecodeLimits callLimits()
{
    core::codec::DecodeLimits l;
    l.maxRows = kMaxCallRows;
    l.maxCells = kMaxCallCells;
    l.maxText = kMaxCallText;
    l.maxKept = kMaxCallKept;
    return l;
}

CallRequest parseRequest(core::codec::EnvelopeReader& body, QString& label, const Registry& registry)
{
    // Split the envelope first, then decode each value once with the packet
    // codec: the arguments may hold a large packet, whose rows were already
    // read while the body arrived. The body outlives the raw slices, which
    // are views into it.
    const QByteArray& bytes = body.envelope();
    core::codec::RawObject m;
    try {
        m = core::codec::splitObject(bytes);
    } catch (const core::Error& e) {
        throw BadRequest(QString("Corpo da chamada não é JSON válido: %1.").arg(e.message()));
    }
    auto text = [&](QStringView name) {
        const QByteArray* raw = m.find(name);
        if (!raw) throw BadRequest(QString("Chamada sem \"%1\".").arg(name));
        core::Variant v;
        try {
            v = core::codec::decodeVariant(*raw);
        } catch (const core::Error& e) {
            throw BadRequest(QString("\"%1\" malformado: %2").arg(name, e.message()));
        }
        if (v.type() != core::Variant::Type::String) throw BadRequest(QString("\"%1\" deve ser um texto.").arg(name));
        return v.toString();
    };
    CallRequest r;
    r.server = text(u"server");
    r.method = text(u"method");
    label = r.server + "." + r.method;
    // The method's own argument count bounds the list before it is split.
    const int expected = registry.argCount(r.server, r.method);
    // Other members are ignored; splitObject has already checked that they are well-formed JSON.
    const QByteArray* args = m.find(u"args");
    if (!args || !args->startsWith('['))
        throw BadRequest("Chamada sem \"args\" (lista).");
    // Every failure below is the caller's: a core::Error must not reach
    // handleCall, which would answer it as an error raised by the method.
    auto elements = [](const QByteArray& list, const QString& why, qint64 most) {
        try {
            return core::codec::splitArray(list, most);
        } catch (const core::Error& e) {
            throw BadRequest(why + " " + e.message());
        }
    };
    const std::vector<QByteArray> items =
        elements(*args, QString("%1: esperados %2 argumentos.").arg(quoted(r.method)).arg(expected), expected);
    r.args.reserve(qsizetype(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        try {
            core::Variant v = core::codec::decodeVariant(items[i]);
            if (body.streamed(int(i)))
                v = body.packetWithRows(int(i), v);
            r.args.append(std::move(v));
        } catch (const core::Error& e) {
            throw BadRequest(QString("Argumento %1 malformado: %2").arg(i + 1).arg(e.message()));
        }
    }
    if (const QByteArray* byRef = m.find(u"byRef")) {
        const QString wrong = "\"byRef\" deve ser uma lista de valores lógicos.";
        if (!byRef->startsWith('[')) throw BadRequest(wrong);
        for (const QByteArray& b : elements(*byRef, wrong, expected)) {
            if (b == "true") r.byRef << true;
            else if (b == "false") r.byRef << false;
            else throw BadRequest(wrong);
        }
    }
    return r;
}

std::string refsList(const core::VariantArray& refs)
{
    std::string out = "[";
    for (int i = 0; i < refs.size(); ++i) {
        if (i) out += ',';
        out += core::codec::encodeVariant(refs[i]).toStdString();
    }
    out += "]";
    return out;
}

std::string okBody(const CallResult& r)
{
    std::string out = "{\"status\":\"ok\",\"payload\":";
    out += core::codec::encodeVariant(r.payload).toStdString();
    out += ",\"refs\":";
    out += refsList(r.refs);
    out += "}";
    return out;
}

constexpr qsizetype kStreamPart = 64 * 1024;

// A body refused while it was read: the argument whose rows were being read, or the body.
QString bodyFault(const core::codec::EnvelopeReader& body, const core::Error& e)
{
    const int arg = body.readingRowsOf();
    return arg >= 0 ? QString("Argumento %1 malformado: %2").arg(arg + 1).arg(e.message())
                    : QString("Corpo da chamada malformado: %1").arg(e.message());
}

QString newReference()
{
    return QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0').toUpper();
}

const QString kSessionRefused = QStringLiteral("Sessão inválida ou expirada. Entre novamente.");
const QString kBusy = QStringLiteral("Servidor ocupado com outras chamadas grandes; nada foi feito. Tente de novo em alguns segundos.");
const QString kSessionBusy = QStringLiteral("Esta sessão já tem duas chamadas grandes em andamento; nada foi feito. "
                                            "Tente de novo quando terminarem.");
constexpr std::size_t kMaxLoginBody = 4096;

FrontReply json(int status, std::string body)
{
    return FrontReply{status, std::move(body), "application/json", nullptr, {}};
}

QString bearer(const std::string& header)
{
    const QString h = QString::fromLatin1(header.data(), qsizetype(std::min<std::size_t>(header.size(), 200))).trimmed();
    return h.startsWith("Bearer ", Qt::CaseInsensitive) ? h.mid(7).trimmed() : QString();
}

} // namespace

StreamedAnswer::StreamedAnswer(std::shared_ptr<RowSource> rows, const core::VariantArray& refs)
{
    segments_.push_back({"{\"payload\":{\"packet\":", nullptr, nullptr, {}});
    segments_.push_back({{}, std::move(rows), nullptr, "}"});
    segments_.push_back({"},\"refs\":" + refsList(refs) + ",\"status\":\"ok\"}", nullptr, nullptr, {}});
}

namespace {
// Packets of fewer rows are written with the text around them.
constexpr int kStreamedPacketRows = 1000;

bool largePacket(const core::Variant& v)
{
    return v.type() == core::Variant::Type::Packet && v.packet().rowCount() >= kStreamedPacketRows;
}
} // namespace

bool StreamedAnswer::worthStreaming(const core::Variant& payload)
{
    if (largePacket(payload)) return true;
    if (payload.isArray())
        for (const core::Variant& e : payload.elements())
            if (largePacket(e)) return true;
    return false;
}

void StreamedAnswer::addPacket(const core::Variant& packet, std::string closer)
{
    segments_.back().text += "{\"packet\":";
    segments_.push_back({{}, nullptr, packet.packetPtr(), std::move(closer)});
    segments_.push_back({"}", nullptr, nullptr, {}});
}

StreamedAnswer::StreamedAnswer(const core::Variant& payload, const core::VariantArray& refs)
{
    segments_.push_back({"{\"payload\":", nullptr, nullptr, {}});
    if (largePacket(payload)) {
        addPacket(payload, "}");
    } else if (payload.isArray()) {
        segments_.back().text += "[";
        const auto& elements = payload.elements();
        for (qsizetype i = 0; i < elements.size(); ++i) {
            if (i) segments_.back().text += ",";
            if (largePacket(elements[i])) addPacket(elements[i], "}]");
            else segments_.back().text += core::codec::encodeVariant(elements[i]).toStdString();
        }
        segments_.back().text += "]";
    } else {
        segments_.back().text += core::codec::encodeVariant(payload).toStdString();
    }
    segments_.back().text += ",\"refs\":" + refsList(refs) + ",\"status\":\"ok\"}";
}

StreamedAnswer::~StreamedAnswer() = default;

bool StreamedAnswer::next(std::string& out)
{
    out.clear();
    if (ended_) return false;
    while (at_ < segments_.size() && qsizetype(out.size()) < kStreamPart) {
        Segment& seg = segments_[at_];
        if (!seg.source && !seg.packet) {
            out += seg.text;
            ++at_;
            continue;
        }
        if (!writer_) writer_ = std::make_unique<core::codec::PacketStreamWriter>(seg.source ? seg.source->fields() : seg.packet->fields());
        try {
            bool more = true;
            if (seg.source) {
                core::PacketRow row;
                while (writer_->pending() < kStreamPart && (more = seg.source->next(row))) writer_->row(row);
            } else {
                // A compact packet (a list the caller sent, sent back) is read row by row.
                core::PacketRow row;
                const int count = seg.packet->rowCount();
                while (writer_->pending() < kStreamPart && (more = rowAt_ < count)) {
                    seg.packet->readRow(rowAt_++, row);
                    writer_->row(row);
                }
            }
            if (!more) {
                writer_->end();
                rows_ += writer_->rowCount();
                const QByteArray part = writer_->take();
                out.append(part.constData(), size_t(part.size()));
                writer_.reset();
                rowAt_ = 0;
                ++at_;
                continue;
            }
        } catch (const std::exception& e) {
            const core::Error* ce = dynamic_cast<const core::Error*>(&e);
            failure_ = ce ? ce->message() : QString("Falha interna do servidor: %1").arg(QString::fromUtf8(e.what()));
            writer_->end();
            rows_ += writer_->rowCount();
            writer_->raw(QByteArray::fromStdString(seg.closer) + ",\"status\":\"raised\",\"message\":" +
                         core::codec::encodeVariant(core::Variant(failure_)) + "}");
            const QByteArray part = writer_->take();
            out.append(part.constData(), size_t(part.size()));
            ended_ = true;
            return true;
        }
        const QByteArray part = writer_->take();
        out.append(part.constData(), size_t(part.size()));
        break;  // a part full of rows
    }
    if (at_ == segments_.size()) ended_ = true;
    return true;
}

std::size_t defaultMaxBody()
{
    return std::size_t(kMaxListEntries) * kMaxEntryRowBytes + (1u << 20);
}

std::size_t defaultMaxInflight(std::size_t maxBody)
{
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    const std::size_t memory = pages > 0 && size > 0 ? std::size_t(pages) * std::size_t(size) : std::size_t(4) << 30;
    return std::max(memory / 8, 2 * maxBody);
}

QString logSafe(const QString& text, int max)
{
    QString out;
    out.reserve(std::min<qsizetype>(text.size(), max) + 8);
    for (QChar c : text) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        const ushort u = c.unicode();
        if (u == '\\') out += "\\\\";
        else if (u == '\n') out += "\\n";
        else if (u == '\r') out += "\\r";
        else if (u == '\t') out += "\\t";
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QString("\\u%1").arg(u, 4, 16, QChar('0'));
        else out += c;
    }
    return out;
}

namespace {
LoginThrottle::Options throttleOptions(const ServerOptions& o)
{
    LoginThrottle::Options t;
    t.freePerPair = o.loginFreePerPair;
    t.freePerAddress = o.loginFreePerAddress;
    return t;
}
} // namespace

AppServer::AppServer(Database& db, ServerOptions options, std::shared_ptr<SefazPort> port)
    : db_(db), opt_(std::move(options)), operators_(db), throttle_(throttleOptions(opt_)),
      hashPool_(2, opt_.hashQueue), metrics_(std::make_unique<ServerMetrics>()), pool_(opt_.dbConnections)
{
    if (opt_.log) {
        log_ = std::make_unique<LogWriter>(2);
        summaries_ = std::thread([this] {
            std::unique_lock lock(summaryMutex_);
            while (!summaryWake_.wait_for(lock, std::chrono::seconds(1), [this] { return summaryStop_; })) {
                lock.unlock();
                summarizeRefusals(false);
                lock.lock();
            }
        });
    }
    registerCancelNota(registry_);
    registerSituacao(registry_, port ? port : std::make_shared<StoredAnswerSimulator>());

    FrontLimits lim;
    lim.maxBody = opt_.maxBody;
    lim.headerTimeout = std::chrono::milliseconds(opt_.headerTimeoutMs);
    lim.bodyTimeout = std::chrono::milliseconds(opt_.bodyTimeoutMs);
    lim.shortBodyTimeout = std::chrono::milliseconds(opt_.shortBodyTimeoutMs);
    lim.stallTimeout = std::chrono::milliseconds(opt_.stallTimeoutMs);
    for (const QString& a : opt_.trustedProxies) lim.trustedProxies.push_back(a.toStdString());
    lim.perAddress = opt_.perAddress;
    lim.maxConnections = opt_.maxConnections;
    lim.workers = opt_.threads;
    lim.maxInflight = opt_.maxInflight ? opt_.maxInflight : defaultMaxInflight(opt_.maxBody);
    front_ = std::make_unique<HttpFront>(
        lim, [this](FrontRequest& r) { return route(r); },
        [this](int status) {
            QString msg;
            switch (status) {
            case 413: msg = "Corpo da chamada grande demais."; break;
            case 415: msg = "Corpo codificado não é aceito: envie o JSON sem compactação."; break;
            case 431: msg = "Cabeçalhos HTTP grandes demais."; break;
            case 400: msg = "Requisição HTTP malformada."; break;
            case 503: msg = kBusy; break;
            default: {
                const QString ref = newReference();
                msg = QString("Falha interna do servidor (referência %1).").arg(ref);
                logLine("http", nullptr, QString(), 0, QString("internal error %1: exceção no atendimento").arg(ref));
            }
            }
            return json(status, raisedBody(msg));
        },
        [this](FrontRequest& r) { return admit(r); },
        // A call or a log-out runs whole on a database thread, from the
        // session check to its answer: the thread hand-offs of a small call
        // are the socket's to that thread and back.
        [this](const FrontRequest& r, std::function<void()>& job) {
            if (r.path != "/call" && r.path != "/logout") return false;
            const auto bytes = std::int64_t(r.body.size());
            metrics_->bodyBytes(bytes);
            postForSession(r.authorization.substr(0, 200), [this, bytes, job = std::move(job)] {
                job();
                metrics_->bodyBytes(-bytes);
            });
            return true;
        });
}

// Before the body is read: a call needs a live session, whose operator the
// handler then uses; other routes take small bodies only. An unknown caller
// can thus make the server read at most kMaxLoginBody bytes.
std::optional<FrontReply> AppServer::admit(FrontRequest& r)
{
    if (r.path != "/call" && r.path != "/logout" && r.path != "/senha") {
        r.maxBody = kMaxLoginBody;
        r.shortBody = true;
        return std::nullopt;
    }
    if (r.method != "POST") return json(405, raisedBody("Use POST."));
    const QString address = QString::fromStdString(r.address);
    const QString token = bearer(r.authorization);
    try {
        std::optional<Session> s;
        if (!token.isEmpty()) pool_.run([&] { s = operators_.session(token, address); });
        if (!s) {
            refusal(r.path == "/call" ? QStringLiteral("call") : QString::fromStdString(r.path.substr(1)), address, 0,
                    "refused: sem sessão válida");
            return json(401, raisedBody(kSessionRefused));
        }
        // A first password: nothing but the change (its own route) or a log-out until it is changed.
        if (s->mustChange && r.path == "/call") {
            logLine("call", &*s, address, 0, "refused: troca de senha pendente");
            return json(403, raisedBody(kMustChangePassword));
        }
        r.state = std::make_shared<Session>(std::move(*s));
        if (r.large()) {
            std::lock_guard lock(largeMutex_);
            int& n = largeBySession_[token];
            if (n >= kLargeBodiesPerSession) {
                logLine("call", static_cast<const Session*>(r.state.get()), address, 0, "refused: sessão com chamadas grandes em andamento");
                FrontReply busy = json(503, raisedBody(kSessionBusy));
                busy.headers.emplace_back("Retry-After", "2");
                return busy;
            }
            ++n;
            r.hold = std::shared_ptr<void>(static_cast<void*>(this), [this, token](void*) {
                std::lock_guard lock(largeMutex_);
                auto it = largeBySession_.find(token);
                if (it != largeBySession_.end() && --it->second <= 0) largeBySession_.erase(it);
            });
        }
    } catch (const std::exception& e) {
        const QString ref = newReference();
        logLine("call", nullptr, address, 0, QString("internal error %1: %2").arg(ref, QString::fromUtf8(e.what())));
        return json(500, raisedBody(QString("Falha interna do servidor (referência %1).").arg(ref)));
    }
    if (r.path == "/logout" || r.path == "/senha") r.maxBody = kMaxLoginBody;
    return std::nullopt;
}

AppServer::~AppServer()
{
    stop();
    if (summaries_.joinable()) {
        {
            std::lock_guard lock(summaryMutex_);
            summaryStop_ = true;
        }
        summaryWake_.notify_all();
        summaries_.join();
        summarizeRefusals(true);
        log_->flush();
    }
}

void AppServer::postForSession(const std::string& token, std::function<void()> job)
{
    {
        std::lock_guard lock(sessionMutex_);
        SessionJobs& s = sessionJobs_[token];
        if (s.running >= opt_.sessionWorkers) {
            s.waiting.push_back(std::move(job));  // no worker held while it waits
            return;
        }
        ++s.running;
    }
    pool_.post([this, token, job = std::move(job)] {
        job();
        sessionJobDone(token);
    });
}

void AppServer::sessionJobDone(const std::string& token)
{
    std::function<void()> next;
    {
        std::lock_guard lock(sessionMutex_);
        auto it = sessionJobs_.find(token);
        if (it == sessionJobs_.end()) return;
        if (it->second.waiting.empty()) {
            if (--it->second.running <= 0) sessionJobs_.erase(it);
            return;
        }
        next = std::move(it->second.waiting.front());
        it->second.waiting.pop_front();
    }
    pool_.post([this, token, next = std::move(next)] {
        next();
        sessionJobDone(token);
    });
}

void AppServer::refusal(const QString& what, const QString& address, double ms, const QString& outcome)
{
    if (!opt_.log) return;
    if (refusals_.note(address, outcome)) logLine(what, nullptr, address, ms, outcome);
}

void AppServer::summarizeRefusals(bool all)
{
    for (const RefusalLog::Summary& s : refusals_.due(RefusalLog::Clock::now(), all))
        logLine("refusals", nullptr, s.address, 0,
                QString("refused %1 more in %2 s, not written one by one (last: %3)")
                    .arg(s.unwritten).arg(s.seconds, 0, 'f', 1).arg(s.last));
}

void AppServer::bind()
{
    try {
        port_ = front_->bind(opt_.listen.toStdString(), opt_.port);
    } catch (const std::exception& e) {
        throw core::Error(QString("Não foi possível escutar em %1:%2: %3").arg(opt_.listen).arg(opt_.port).arg(QString::fromUtf8(e.what())));
    }
}

void AppServer::run()
{
    front_->run();
    if (log_) log_->flush();
}

void AppServer::stop()
{
    if (front_) front_->stop();
}

FrontReply AppServer::route(FrontRequest& r)
{
    const QString address = QString::fromStdString(r.address);
    if (r.path == "/health") {
        if (r.method != "GET") return json(405, raisedBody("Use GET em /health."));
        const QUrlQuery q(QString::fromUtf8(r.query.data(), qsizetype(std::min<std::size_t>(r.query.size(), 1000))));
        if (q.hasQueryItem("server")) {
            const bool known = registry_.hasServer(q.queryItemValue("server", QUrl::FullyDecoded));
            return json(known ? 200 : 404, known ? R"({"status":"ok"})" : raisedBody("Servidor desconhecido."));
        }
        QJsonArray names;
        for (const QString& n : registry_.servers()) names << n;
        return json(200, QJsonDocument(QJsonObject{{"status", "ok"}, {"servers", names}}).toJson(QJsonDocument::Compact).toStdString());
    }
    if (r.path == "/metrics") return metricsPage(r);
    if (r.path != "/call" && r.path != "/login" && r.path != "/logout" && r.path != "/senha")
        return json(404, raisedBody(QString("Caminho desconhecido: %1").arg(logSafe(QString::fromUtf8(r.path.data(), qsizetype(std::min<std::size_t>(r.path.size(), 200))), 100))));
    if (r.method != "POST") return json(405, raisedBody("Use POST."));
    if (r.path == "/login") return login(r);

    const QString token = bearer(r.authorization);
    std::optional<Session> session;
    if (r.state) {
        session = *std::static_pointer_cast<Session>(r.state);
    } else {
        FrontRequest copy = r;
        if (auto refused = admit(copy)) return *refused;
        session = *std::static_pointer_cast<Session>(copy.state);
    }
    if (r.path == "/logout") {
        pool_.run([&] { operators_.logout(token); });
        logLine("logout", &*session, address, 0, "ok");
        return json(200, R"({"status":"ok"})");
    }
    if (r.path == "/senha") return changePassword(r, *session, token);
    return answerCall(std::move(r.body), &*session);
}

FrontReply AppServer::login(const FrontRequest& r)
{
    const QString address = QString::fromStdString(r.address);
    const auto t0 = std::chrono::steady_clock::now();
    auto ms = [&] { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(); };
    if (r.body.size() > kMaxLoginBody) return json(413, raisedBody("Corpo da chamada grande demais."));
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    const QString code = o.value("operador").toString().trimmed().toUpper();
    const QString password = o.value("senha").toString();
    const QString what = "login " + logSafe(code, 20);
    auto refused = [&](const QString& outcome) {
        refusal(what, address, ms(), outcome);
        metrics_->failedLogin();
        metrics_->call("login", "refused", ms() / 1000);
        return json(401, raisedBody(Operators::refusedText()));
    };
    try {
        // Tries during an address's wait are refused before anything is looked up.
        if (const auto wait = throttle_.wait(code.left(Operators::kMaxCode), address); wait.count() > 0) {
            const qint64 secs = (wait.count() + 999) / 1000;
            refusal(what, address, ms(), QString("throttled: tentativa %1 s antes da hora").arg(secs));
            FrontReply a = json(429, raisedBody(QString("Tentativas de entrada demais; tente de novo em %1 s.").arg(secs)));
            a.headers.emplace_back("Retry-After", std::to_string(secs));
            return a;
        }
        if (!Operators::plausibleCode(code) || password.isEmpty() || password.size() > Operators::kMaxPassword) {
            throttle_.failed(code.left(Operators::kMaxCode), address);
            return refused("refused");
        }
        // The check runs on the password threads; this worker waits for it
        // holding no database connection, or answers at once when too many
        // checks wait (before any other work for this log-in).
        const std::optional<HashPool::Place> place = hashPool_.reserve();
        if (!place) {
            refusal(what, address, ms(), "busy: fila de verificação de senhas cheia");
            FrontReply a = json(503, raisedBody("Muitas entradas ao mesmo tempo; tente de novo em alguns segundos."));
            a.headers.emplace_back("Retry-After", "2");
            return a;
        }
        StoredLogin account;
        pool_.run([&] { account = operators_.stored(code); });
        const bool ok = hashPool_.run(*place, [&] { return operators_.verify(account, password); });
        if (!ok) {
            const auto wait = throttle_.failed(code, address);
            return refused(wait.count() > 0 ? QString("refused; next try from this address in %1 s").arg((wait.count() + 999) / 1000)
                                            : QString("refused"));
        }
        throttle_.succeeded(code, address);
        LoginResult lr;
        pool_.run([&] { lr = operators_.openSession(code, account.name, address, opt_.sessionSecs, account.mustChange); });
        logLine(what, nullptr, address, ms(), lr.mustChange ? "ok, troca de senha pendente" : "ok");
        metrics_->call("login", "ok", ms() / 1000);
        QJsonObject answer{{"status", "ok"}, {"token", lr.token}, {"operador", code}, {"nome", lr.operatorName},
                           {"expira", lr.expiresAt}, {"filiais", QJsonArray::fromStringList(lr.branches)}};
        if (lr.mustChange) answer.insert("trocarSenha", true);
        return json(200, QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
    } catch (const Unauthorized& e) {
        refusal(what, address, ms(), "refused");
        metrics_->failedLogin();
        metrics_->call("login", "refused", ms() / 1000);
        return json(401, raisedBody(e.message()));
    } catch (const std::exception& e) {
        const QString ref = newReference();
        logLine(what, nullptr, address, ms(), QString("internal error %1: %2").arg(ref, QString::fromUtf8(e.what())));
        return json(500, raisedBody(QString("Falha interna do servidor (referência %1).").arg(ref)));
    }
}

namespace {
// A value of the call log: as it stands when it is one word, else in double
// quotes with the quote escaped (logSafe has already escaped the backslash
// and every control character).
void putValue(std::string& line, const QString& text)
{
    const QByteArray u = text.toUtf8();
    const bool plain = !u.isEmpty() && !u.contains(' ') && !u.contains('"') && !u.contains('=');
    if (plain) {
        line.append(u.constData(), size_t(u.size()));
        return;
    }
    line += '"';
    for (char c : u) {
        if (c == '"') line += '\\';
        line += c;
    }
    line += '"';
}
} // namespace

FrontReply AppServer::metricsPage(const FrontRequest& r)
{
    if (r.method != "GET") return json(405, raisedBody("Use GET em /metrics."));
    if (!metricsAllowed(r.address, opt_.metricsAllow)) {
        logLine("metrics", nullptr, QString::fromStdString(r.address), 0, "refused: endereço sem acesso às métricas");
        return json(403, raisedBody("Métricas disponíveis só no próprio servidor e nos endereços de --metrics-allow."));
    }
    ServerMetrics::Sample s;
    s.workers = pool_.size();
    s.busy = pool_.busy();
    s.waiting = pool_.waiting();
    try {
        pool_.run([&] {
            QSqlDatabase conn = db_.connection();
            QSqlQuery q = prepare(conn, "SELECT COUNT(*) FROM SESSAO WHERE DTHREXPIRA > ?");
            q.addBindValue(QDateTime::currentSecsSinceEpoch());
            exec(q);
            if (q.next()) s.sessions = q.value(0).toLongLong();
        });
    } catch (const std::exception&) {
        s.sessions = -1;  // the database is unreachable: the figure says so rather than failing the scrape
    }
    return FrontReply{200, metrics_->scrape(s), ServerMetrics::kContentType, nullptr, {}};
}

// The operator changes their own password: {"atual": ..., "nova": ...}. The
// check of the current password and the hash of the new one run on the
// password threads, like a log-in's, never on a database worker.
FrontReply AppServer::changePassword(const FrontRequest& r, const Session& session, const QString& token)
{
    const QString address = QString::fromStdString(r.address);
    if (r.body.size() > kMaxLoginBody) return json(413, raisedBody("Corpo da chamada grande demais."));
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    if (!o.value("atual").isString() || !o.value("nova").isString())
        return json(400, raisedBody("Informe a senha atual (\"atual\") e a nova (\"nova\")."));
    const QString current = o.value("atual").toString();
    const QString next = o.value("nova").toString();
    try {
        const std::optional<HashPool::Place> place = hashPool_.reserve();
        if (!place) {
            logLine("senha", &session, address, 0, "busy: fila de verificação de senhas cheia");
            FrontReply a = json(503, raisedBody("Muitas verificações de senha ao mesmo tempo; tente de novo em alguns segundos."));
            a.headers.emplace_back("Retry-After", "2");
            return a;
        }
        StoredLogin account;
        pool_.run([&] { account = operators_.stored(session.operatorCode); });
        if (!hashPool_.run(*place, [&] { return operators_.verify(account, current); }))
            throw Unauthorized(QStringLiteral("A senha atual não confere."));
        if (next == current) throw core::Error(QStringLiteral("A nova senha deve ser diferente da atual."));
        QString newHash;
        hashPool_.run(*place, [&] {
            newHash = operators_.hash(next);  // the rules of every password
            return true;
        });
        int ended = 0;
        pool_.run([&] { ended = operators_.changeOwnPassword(token, session.operatorCode, newHash); });
        logLine("senha", &session, address, 0, QString("ok, %1 outra(s) sessão(ões) encerrada(s)").arg(ended));
        return json(200, QJsonDocument(QJsonObject{{"status", "ok"}, {"sessoesEncerradas", ended}})
                             .toJson(QJsonDocument::Compact)
                             .toStdString());
    } catch (const Unauthorized& e) {
        logLine("senha", &session, address, 0, "refused");
        return json(401, raisedBody(e.message()));
    } catch (const InternalError& e) {
        const QString ref = newReference();
        logLine("senha", &session, address, 0, QString("internal error %1: %2").arg(ref, e.message()));
        return json(500, raisedBody(QString("Falha interna do servidor (referência %1).").arg(ref)));
    } catch (const core::Error& e) {
        logLine("senha", &session, address, 0, "refused: " + e.message());
        return json(422, raisedBody(e.message()));
    } catch (const std::exception& e) {
        const QString ref = newReference();
        logLine("senha", &session, address, 0, QString("internal error %1: %2").arg(ref, QString::fromUtf8(e.what())));
        return json(500, raisedBody(QString("Falha interna do servidor (referência %1).").arg(ref)));
    }
}

void AppServer::logLine(const QString& what, const Session* s, const QString& address, double ms, const QString& outcome) const
{
    if (!opt_.log) return;
    // One line of key=value pairs (journald and log tools read them as
    // fields). Put together piece by piece: the caller's texts are copied
    // in, never read as a format (a method named "%5" stays "%5").
    const qint64 now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch()).count();
    std::string line = "ts=" + logTimestamp(now);
    line.reserve(line.size() + 200);
    // "login CODE": the operator of a log-in is named before there is a session.
    const QString call = what.section(' ', 0, 0);
    const QString named = what.section(' ', 1);
    line += " call=";
    putValue(line, logSafe(call, 120));
    line += " op=";
    if (s) putValue(line, logSafe(s->operatorCode, 20));
    else if (!named.isEmpty()) putValue(line, named);
    else line += '-';
    line += " addr=";
    if (address.isEmpty()) line += '-';
    else putValue(line, address);
    line += " ms=";
    const QByteArray duration = QByteArray::number(ms, 'f', 1);
    line.append(duration.constData(), size_t(duration.size()));
    line += " outcome=";
    const std::string kind = outcomeKind(outcome);
    line += kind;
    if (outcome != QLatin1String(kind.c_str())) {
        line += " msg=";
        putValue(line, logSafe(outcome, 600));
    }
    line += '\n';
    log_->add(line);
}

namespace {

// A list answer on its way out, read and written on the database thread that
// ran the call (its rows come from that thread's connection); the call's log
// line is written once the last part went out (or the connection was lost),
// with the rows sent and the outcome.
class ListReply final : public ReplyParts {
public:
    using Log = std::function<void(double ms, const QString& outcome, int rows)>;
    ListReply(std::unique_ptr<StreamedAnswer> list, std::chrono::steady_clock::time_point t0, Log log)
        : list_(std::move(list)), t0_(t0), log_(std::move(log))
    {
    }
    bool next(std::string& out) override { return list_->next(out); }
    void finished(bool sent) override
    {
        const int rows = list_->rowCount();
        const QString& failure = list_->failure();
        QString outcome = failure.isEmpty() ? QString("ok, %1 rows").arg(rows)
                                            : QString("raised after %1 rows: %2").arg(rows).arg(failure);
        if (!sent) outcome = QString("connection lost after %1 rows (%2)").arg(rows).arg(outcome);
        if (log_) log_(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0_).count(), outcome, rows);
    }

private:
    std::unique_ptr<StreamedAnswer> list_;
    std::chrono::steady_clock::time_point t0_;
    Log log_;
};

void joinParts(FrontReply& rep)
{
    if (!rep.parts) return;
    std::string part;
    while (rep.parts->next(part)) rep.body += part;
    rep.parts->finished(true);
    rep.parts.reset();
}

} // namespace

HttpAnswer AppServer::handleCall(const std::string& body, const Session* session)
{
    FrontReply rep = answerCall(body, session);
    return {rep.status, std::move(rep.body)};
}

FrontReply AppServer::answerCall(std::string body, const Session* session)
{
    if (!pool_.onWorker()) {
        // Off the database threads (in-process callers): the whole call runs
        // on one of them, a list joined there.
        FrontReply rep;
        pool_.run([&] {
            rep = answerCall(std::move(body), session);
            joinParts(rep);
        });
        return rep;
    }
    const auto t0 = std::chrono::steady_clock::now();
    QString label = "?";
    std::string metricLabel = "outro";
    QString outcome;
    FrontReply a;
    auto fail = [&](int status, const QString& message) {
        a = json(status, raisedBody(message));
    };
    auto internal = [&](const QString& details) {
        const QString ref = newReference();
        fail(500, QString("Falha interna do servidor (referência %1).").arg(ref));
        outcome = QString("internal error %1: %2").arg(ref, details);
    };
    try {
        // One pass over the body: a packet argument's rows are decoded while
        // the envelope is scanned, the rest once it is split.
        core::codec::EnvelopeReader reader;
        reader.setLimits(callLimits());
        reader.setCompactRows(true);
        try {
            reader.feed(body.data(), qsizetype(body.size()));
            reader.end();
        } catch (const core::Error& e) {
            std::string().swap(body);
            throw BadRequest(bodyFault(reader, e));
        }
        // Read whole: the rows are held compact, the rest in the reader.
        std::string().swap(body);
        const CallRequest req = parseRequest(reader, label, registry_);
        if (registry_.hasMethod(req.server, req.method)) metricLabel = label.toStdString();
        // Here on a database thread: the call, and the reading of a list
        // while its parts are written, run on this thread's connection. A
        // small answer goes whole; a list read while it is written, or a
        // computed answer holding a large packet, in parts encoded while the
        // first ones are on their way.
        CallResult r = registry_.callStreamed(db_, req, session);
        const bool computedList = !r.rows && StreamedAnswer::worthStreaming(r.payload);
        if (r.rows || computedList) {
            std::optional<Session> caller = session ? std::optional<Session>(*session) : std::nullopt;
            ListReply::Log log = [this, label, metricLabel, caller](double ms, const QString& outcome, int rows) {
                metrics_->rowsSent(rows);
                metrics_->call(metricLabel, outcomeKind(outcome), ms / 1000);
                logLine(label, caller ? &*caller : nullptr, caller ? caller->address : QString(), ms, outcome);
            };
            auto list = computedList ? std::make_unique<StreamedAnswer>(r.payload, r.refs)
                                     : std::make_unique<StreamedAnswer>(std::move(r.rows), r.refs);
            a.parts = std::make_shared<ListReply>(std::move(list), t0, std::move(log));
            return a;
        }
        a.body = okBody(r);
        outcome = "ok";
    } catch (const BadRequest& e) {
        fail(400, e.message());
        outcome = "bad request: " + e.message();
    } catch (const NotFound& e) {
        fail(404, e.message());
        outcome = "not found: " + e.message();
    } catch (const Forbidden& e) {
        fail(403, e.message());
        outcome = "forbidden: " + e.message();
    } catch (const BusyError& e) {
        // Said plainly: nothing was done and trying again is the remedy. The message holds no SQL.
        fail(503, e.message());
        outcome = "busy: " + e.message() + " | " + e.detail();
    } catch (const InternalError& e) {
        internal(e.message() + (e.detail().isEmpty() ? QString() : " | " + e.detail()));
    } catch (const core::Error& e) {
        fail(200, e.message());
        outcome = "raised: " + e.message();
    } catch (const std::exception& e) {
        internal(QString::fromUtf8(e.what()));
    } catch (...) {
        internal("exceção desconhecida");
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    metrics_->call(metricLabel, outcomeKind(outcome), ms / 1000);
    logLine(label, session, session ? session->address : QString(), ms, outcome);
    return a;
}

} // namespace server
