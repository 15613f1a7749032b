#include "appserver.h"

#include "cancelnota.h"
#include "frontanswers.h"

#include <unistd.h>

#include <chrono>

namespace server {

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
    : db_(db),
      opt_(std::move(options)),
      operators_(db),
      throttle_(throttleOptions(opt_)),
      hashPool_(2, opt_.hashQueue),
      metrics_(std::make_unique<ServerMetrics>()),
      pool_(opt_.dbConnections)
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
    for (const QString& a : opt_.trustedProxies)
        lim.trustedProxies.push_back(a.toStdString());
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
            default: return internalFailure("http", nullptr, QString(), 0, "exceção no atendimento");
            }
            return json(status, raisedBody(msg));
        },
        [this](FrontRequest& r) { return admit(r); },
        [this](const FrontRequest& r, std::function<void()>& job) { return runOnDatabase(r, job); });
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
            s.waiting.push_back(std::move(job)); // no worker held while it waits
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
        if (it == sessionJobs_.end())
            return;
        if (it->second.waiting.empty()) {
            if (--it->second.running <= 0)
                sessionJobs_.erase(it);
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
    if (!opt_.log)
        return;
    if (refusals_.note(address, outcome))
        logLine(what, nullptr, address, ms, outcome);
}

void AppServer::summarizeRefusals(bool all)
{
    for (const RefusalLog::Summary& s : refusals_.due(RefusalLog::Clock::now(), all))
        logLine("refusals", nullptr, s.address, 0,
                QString("refused %1 more in %2 s, not written one by one (last: %3)")
                    .arg(s.unwritten)
                    .arg(s.seconds, 0, 'f', 1)
                    .arg(s.last));
}

void AppServer::bind()
{
    try {
        port_ = front_->bind(opt_.listen.toStdString(), opt_.port);
    } catch (const std::exception& e) {
        throw core::Error(QString("Não foi possível escutar em %1:%2: %3")
                              .arg(opt_.listen)
                              .arg(opt_.port)
                              .arg(QString::fromUtf8(e.what())));
    }
}

void AppServer::run()
{
    front_->run();
    if (log_)
        log_->flush();
}

void AppServer::stop()
{
    if (front_)
        front_->stop();
}

FrontReply AppServer::internalFailure(const QString& what, const Session* s, const QString& address, double ms,
                                      const QString& detail) const
{
    const Fault f = internalFault(detail);
    logLine(what, s, address, ms, f.outcome);
    return json(f.status, raisedBody(f.message));
}

} // namespace server
