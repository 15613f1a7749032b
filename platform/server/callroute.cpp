// The call route: one method of a remote module, from its body to its answer,
// a list written in parts while its rows are read.
#include "appserver.h"

#include "frontanswers.h"
#include "listreply.h"
#include "requestparser.h"

#include <chrono>

namespace server {

FrontReply AppServer::call(const Route&, FrontRequest& r)
{
    return answerCall(std::move(r.body), r.session.get());
}

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
        if (registry_.hasMethod(req.server, req.method))
            metricLabel = label.toStdString();
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
    } catch (...) {
        const Fault f = callFault(std::current_exception());
        a = json(f.status, raisedBody(f.message));
        outcome = f.outcome;
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    metrics_->call(metricLabel, outcomeKind(outcome), ms / 1000);
    logLine(label, session, session ? session->address : QString(), ms, outcome);
    return a;
}

} // namespace server
