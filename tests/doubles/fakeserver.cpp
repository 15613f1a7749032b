#include "doubles/fakeserver.h"

#include <core/errors.h>

namespace core {

FakeTransport::Answer FakeTransport::payload(Variant v, std::map<int, Variant> refs)
{
    Answer a;
    a.kind = Answer::Kind::Payload;
    a.payload = std::move(v);
    a.refs = std::move(refs);
    return a;
}

FakeTransport::Answer FakeTransport::failed(const QString& message)
{
    Answer a;
    a.kind = Answer::Kind::Failed;
    a.message = message;
    return a;
}

FakeTransport::Answer FakeTransport::raised(const QString& message)
{
    Answer a;
    a.kind = Answer::Kind::Raised;
    a.message = message;
    return a;
}

void FakeTransport::on(const QString& server, const QString& method, Handler h)
{
    std::lock_guard lock(mutex_);
    scripts_[{server, method}].handler = std::move(h);
}

void FakeTransport::enqueue(const QString& server, const QString& method, Answer a)
{
    std::lock_guard lock(mutex_);
    scripts_[{server, method}].queue.push_back(std::move(a));
}

void FakeTransport::setDefault(const QString& server, const QString& method, Answer a)
{
    std::lock_guard lock(mutex_);
    scripts_[{server, method}].fallback = std::move(a);
}

void FakeTransport::reset()
{
    std::lock_guard lock(mutex_);
    scripts_.clear();
    calls_.clear();
    connects_.clear();
    refuse_ = false;
    refuseText_.clear();
}

void FakeTransport::refuseConnect(bool refuse, const QString& text)
{
    std::lock_guard lock(mutex_);
    refuse_ = refuse;
    refuseText_ = text;
}

std::vector<FakeTransport::Record> FakeTransport::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<FakeTransport::Record> FakeTransport::callsTo(const QString& method) const
{
    std::lock_guard lock(mutex_);
    std::vector<Record> out;
    for (const Record& r : calls_)
        if (r.request.method == method)
            out.push_back(r);
    return out;
}

std::vector<FakeTransport::Record> FakeTransport::connects() const
{
    std::lock_guard lock(mutex_);
    return connects_;
}

int FakeTransport::pendingAnswers() const
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& [key, s] : scripts_)
        n += int(s.queue.size());
    return n;
}

void FakeTransport::connect(const QString& host, int port, const QString& server)
{
    QString refusal;
    {
        std::lock_guard lock(mutex_);
        Record r;
        r.host = host;
        r.port = port;
        r.request.server = server;
        connects_.push_back(r);
        if (!refuse_)
            return;
        refusal = refuseText_;
    }
    if (refusal.isEmpty())
        refusal = QStringLiteral("Não foi possível conectar ao servidor de aplicação %1 em %2:%3")
                      .arg(server, host)
                      .arg(port);
    throw ConnectionError(refusal);
}

FakeTransport::Script* FakeTransport::find(const QString& server, const QString& method)
{
    auto usable = [](const Script& s) { return !s.queue.empty() || s.handler || s.fallback; };
    auto it = scripts_.find({server, method});
    if (it != scripts_.end() && usable(it->second))
        return &it->second;
    it = scripts_.find({QString(), method});
    if (it != scripts_.end() && usable(it->second))
        return &it->second;
    return nullptr;
}

CallResponse FakeTransport::call(const QString& host, int port, const CallRequest& req)
{
    std::optional<Answer> answer;
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(Record{host, port, req});
        Script* s = find(req.server, req.method);
        if (!s)
            throw ServerError(QStringLiteral("unexpected call %1").arg(req.method));
        if (!s->queue.empty()) {
            answer = std::move(s->queue.front());
            s->queue.pop_front();
        } else if (s->handler) {
            handler = s->handler;
        } else {
            answer = *s->fallback;
        }
    }
    // The handler runs unlocked: it may inspect the records or script more answers.
    if (handler) {
        CallResponse r = handler(req);
        // A handler that leaves the by-reference values out echoes the arguments.
        if (r.result.ok && r.refs.empty()) {
            r.refs.resize(req.args.size());
            for (size_t i = 0; i < req.args.size() && i < req.byRef.size(); ++i)
                if (req.byRef[i])
                    r.refs[i] = req.args[i];
        }
        return r;
    }
    return respond(*answer, req);
}

CallResponse FakeTransport::respond(const Answer& a, const CallRequest& req)
{
    switch (a.kind) {
    case Answer::Kind::Raised: throw ServerError(a.message);
    case Answer::Kind::Failed: return CallResponse{ServerResult::failure(a.message), {}};
    case Answer::Kind::Payload: break;
    }
    CallResponse r{ServerResult::success(a.payload), {}};
    r.refs.resize(req.args.size());
    for (size_t i = 0; i < req.args.size(); ++i) {
        if (i >= req.byRef.size() || !req.byRef[i])
            continue;
        const auto it = a.refs.find(int(i));
        r.refs[i] = it != a.refs.end() ? it->second : req.args[i];
    }
    return r;
}

TransportInstall::TransportInstall(Transport& t) : previous_(&defaultTransport())
{
    setDefaultTransport(&t);
}

TransportInstall::~TransportInstall()
{
    setDefaultTransport(previous_);
}

} // namespace core
