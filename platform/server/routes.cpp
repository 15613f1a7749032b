// The application server's route table and what reads it: dispatch, the
// admission before a body is read, and the choice of the thread a request
// runs on.
#include "appserver.h"

#include "frontanswers.h"

#include <algorithm>

namespace server {

namespace {

const QString kSessionRefused = QStringLiteral("Sessão inválida ou expirada. Entre novamente.");
const QString kSessionBusy = QStringLiteral("Esta sessão já tem duas chamadas grandes em andamento; nada foi feito. "
                                            "Tente de novo quando terminarem.");

QString pathText(const std::string& path)
{
    return logSafe(QString::fromUtf8(path.data(), qsizetype(std::min<std::size_t>(path.size(), 200))), 100);
}

} // namespace

std::span<const AppServer::Route> AppServer::routes()
{
    // path, method, session, body limit, database worker, before a first password is changed, handler
    static const Route table[] = {
        {"/health", "GET", false, kMaxLoginBody, false, true, &AppServer::health},
        {"/metrics", "GET", false, kMaxLoginBody, false, true, &AppServer::metricsPage},
        {"/login", "POST", false, kMaxLoginBody, false, true, &AppServer::login},
        {"/logout", "POST", true, kMaxLoginBody, true, true, &AppServer::logout},
        {"/senha", "POST", true, kMaxLoginBody, false, true, &AppServer::changePassword},
        {"/call", "POST", true, 0, true, false, &AppServer::call},
    };
    return table;
}

const AppServer::Route* AppServer::findRoute(std::string_view path)
{
    for (const Route& r : routes())
        if (r.path == path)
            return &r;
    return nullptr;
}

namespace {
// The screen's routes take POST and say only that; a route read by tools
// (GET) names itself.
FrontReply wrongMethod(std::string_view method, std::string_view path)
{
    return json(405,
                raisedBody(method == "POST"
                               ? QStringLiteral("Use POST.")
                               : QString("Use %1 em %2.").arg(QLatin1String(method), QLatin1String(path))));
}
} // namespace

// Before the body is read: a session route needs a live session, whose
// operator the handler then uses; other routes (and unknown paths) take small
// bodies only, on the short deadline. An unknown caller can thus make the
// server read at most kMaxLoginBody bytes.
std::optional<FrontReply> AppServer::admit(FrontRequest& r)
{
    const Route* route = findRoute(r.path);
    if (!route || !route->session) {
        r.maxBody = route ? route->bodyLimit : kMaxLoginBody;
        r.shortBody = true;
        return std::nullopt;
    }
    if (r.method != route->method)
        return wrongMethod(route->method, route->path);
    const QString address = QString::fromStdString(r.address);
    const QString token = bearer(r.authorization);
    try {
        std::optional<Session> s;
        if (!token.isEmpty())
            pool_.run([&] { s = operators_.session(token, address); });
        if (!s) {
            refusal(route->name(), address, 0, "refused: sem sessão válida");
            return json(401, raisedBody(kSessionRefused));
        }
        // A first password: nothing but the change (its own route) or a log-out until it is changed.
        if (s->mustChange && !route->pendingPassword) {
            logLine(route->name(), &*s, address, 0, "refused: troca de senha pendente");
            return json(403, raisedBody(kMustChangePassword));
        }
        r.session = std::make_shared<const Session>(std::move(*s));
        if (r.large()) {
            std::lock_guard lock(largeMutex_);
            int& n = largeBySession_[token];
            if (n >= kLargeBodiesPerSession) {
                logLine(route->name(), r.session.get(), address, 0,
                        "refused: sessão com chamadas grandes em andamento");
                FrontReply busy = json(503, raisedBody(kSessionBusy));
                busy.headers.emplace_back("Retry-After", "2");
                return busy;
            }
            ++n;
            r.hold = std::shared_ptr<void>(static_cast<void*>(this), [this, token](void*) {
                std::lock_guard lock(largeMutex_);
                auto it = largeBySession_.find(token);
                if (it != largeBySession_.end() && --it->second <= 0)
                    largeBySession_.erase(it);
            });
        }
    } catch (const std::exception& e) {
        return internalFailure("call", nullptr, address, 0, internalDetail(e));
    }
    r.maxBody = route->bodyLimit;
    return std::nullopt;
}

// A call or a log-out runs whole on a database thread, from the session
// check to its answer: the thread hand-offs of a small call are the socket's
// to that thread and back.
bool AppServer::runOnDatabase(const FrontRequest& r, std::function<void()>& job)
{
    const Route* route = findRoute(r.path);
    if (!route || !route->databaseWorker)
        return false;
    const auto bytes = std::int64_t(r.body.size());
    metrics_->bodyBytes(bytes);
    postForSession(r.authorization.substr(0, 200), [this, bytes, job = std::move(job)] {
        job();
        metrics_->bodyBytes(-bytes);
    });
    return true;
}

FrontReply AppServer::route(FrontRequest& r)
{
    const Route* route = findRoute(r.path);
    if (!route)
        return json(404, raisedBody(QString("Caminho desconhecido: %1").arg(pathText(r.path))));
    if (r.method != route->method)
        return wrongMethod(route->method, route->path);
    if (route->bodyLimit && r.body.size() > route->bodyLimit)
        return json(413, raisedBody("Corpo da chamada grande demais."));
    if (route->session && !r.session) {
        // Not admitted before (an owner without admission): checked now.
        FrontRequest copy = r;
        if (auto refused = admit(copy))
            return *refused;
        r.session = std::move(copy.session);
    }
    return (this->*route->handler)(*route, r);
}

} // namespace server
