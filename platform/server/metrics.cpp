#include "metrics.h"

#include <QStringList>

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <atomic>
#include <sstream>

namespace server {

std::string outcomeKind(const QString& outcome)
{
    static const std::pair<const char*, const char*> kKinds[] = {
        {"ok", "ok"},
        {"raised", "raised"},
        {"refused", "refused"},
        {"bad request", "bad_request"},
        {"not found", "not_found"},
        {"forbidden", "forbidden"},
        {"busy", "busy"},
        {"internal error", "internal_error"},
        {"connection lost", "connection_lost"},
    };
    for (const auto& [prefix, kind] : kKinds)
        if (outcome.startsWith(QLatin1String(prefix)))
            return kind;
    return "other";
}

struct ServerMetrics::Impl {
    prometheus::Registry registry;
    prometheus::Family<prometheus::Counter>& calls = prometheus::BuildCounter()
                                                         .Name("exp_appserver_calls_total")
                                                         .Help("Calls answered, by method and outcome")
                                                         .Register(registry);
    prometheus::Family<prometheus::Histogram>& durations =
        prometheus::BuildHistogram()
            .Name("exp_appserver_call_duration_seconds")
            .Help("Time from a call's body in to its answer out, by method")
            .Register(registry);
    prometheus::Gauge& workers = prometheus::BuildGauge()
                                     .Name("exp_appserver_db_workers")
                                     .Help("Database workers (and connections) of this process")
                                     .Register(registry)
                                     .Add({});
    prometheus::Gauge& busy = prometheus::BuildGauge()
                                  .Name("exp_appserver_db_workers_busy")
                                  .Help("Database workers running a call")
                                  .Register(registry)
                                  .Add({});
    prometheus::Gauge& waiting = prometheus::BuildGauge()
                                     .Name("exp_appserver_db_calls_waiting")
                                     .Help("Calls waiting for a database worker")
                                     .Register(registry)
                                     .Add({});
    prometheus::Gauge& sessions = prometheus::BuildGauge()
                                      .Name("exp_appserver_sessions_live")
                                      .Help("Sessions not expired, of every server on the database")
                                      .Register(registry)
                                      .Add({});
    prometheus::Gauge& inFlight = prometheus::BuildGauge()
                                      .Name("exp_appserver_request_bytes_in_flight")
                                      .Help("Bytes of call bodies received and not yet answered")
                                      .Register(registry)
                                      .Add({});
    prometheus::Counter& failedLogins = prometheus::BuildCounter()
                                            .Name("exp_appserver_failed_logins_total")
                                            .Help("Log-ins refused (wrong operator or password, disabled)")
                                            .Register(registry)
                                            .Add({});
    prometheus::Counter& rows = prometheus::BuildCounter()
                                    .Name("exp_appserver_list_rows_sent_total")
                                    .Help("Rows of list answers written to callers")
                                    .Register(registry)
                                    .Add({});
};

namespace {
// From a millisecond call to the two-minute limit of the clients.
const prometheus::Histogram::BucketBoundaries kBuckets{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                       0.5,   1,      2.5,   5,    10,    30,   60,  120};
} // namespace

ServerMetrics::ServerMetrics() : d(std::make_unique<Impl>()) { }
ServerMetrics::~ServerMetrics() = default;

void ServerMetrics::call(const std::string& method, const std::string& outcome, double seconds)
{
    d->calls.Add({{"method", method}, {"outcome", outcome}}).Increment();
    d->durations.Add({{"method", method}}, kBuckets).Observe(seconds);
}

void ServerMetrics::failedLogin()
{
    d->failedLogins.Increment();
}

void ServerMetrics::rowsSent(std::int64_t rows)
{
    if (rows > 0)
        d->rows.Increment(double(rows));
}

void ServerMetrics::bodyBytes(std::int64_t delta)
{
    d->inFlight.Increment(double(delta));
}

std::string ServerMetrics::scrape(const Sample& s)
{
    d->workers.Set(s.workers);
    d->busy.Set(s.busy);
    d->waiting.Set(s.waiting);
    d->sessions.Set(double(s.sessions));
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, d->registry.Collect());
    return out.str();
}

bool metricsAllowed(const std::string& address, const QStringList& allowed)
{
    const QString a = QString::fromStdString(address);
    // The machine itself (127.0.0.1); other 127.x addresses are treated as
    // other machines, as tests and local proxies use them.
    if (a == "127.0.0.1" || a == "::1" || a == "::ffff:127.0.0.1")
        return true;
    return allowed.contains(a);
}

} // namespace server
