#pragma once
// The server's figures for a Prometheus scrape (GET /metrics): calls by
// method and outcome with their durations, the database workers busy and
// the calls waiting for one, live sessions, request bytes held, failed
// log-ins and list rows sent. Built on prometheus-cpp's core library (its
// registry and text format); the server's own HTTP front serves the text.
//
// Labels only ever take values from fixed sets: a method the registry does
// not know counts as "outro", so a caller cannot grow the series.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <string>

namespace server {

/// The kind of a call's outcome, from the text the call log gives it
/// ("ok, 12 rows", "raised: ...", "internal error 1A2B: ..."):
/// ok, raised, refused, bad_request, not_found, forbidden, busy,
/// internal_error, connection_lost or other.
std::string outcomeKind(const QString& outcome);

class ServerMetrics {
public:
    ServerMetrics();
    ~ServerMetrics();
    ServerMetrics(const ServerMetrics&) = delete;
    ServerMetrics& operator=(const ServerMetrics&) = delete;

    /// One call ended: `method` is "Server.Method" or "outro".
    void call(const std::string& method, const std::string& outcome, double seconds);
    void failedLogin();
    void rowsSent(std::int64_t rows);
    /// Request body bytes received and not yet answered: +n when a call's
    /// body is in, -n when its answer is out.
    void bodyBytes(std::int64_t delta);

    /// The figures sampled at scrape time.
    struct Sample {
        int workers = 0, busy = 0, waiting = 0;
        std::int64_t sessions = 0;
    };
    /// The text exposition format (version 0.0.4) of every figure.
    std::string scrape(const Sample& s);

    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// Whether `address` may read /metrics: 127.0.0.1 or ::1, or one of `allowed`
/// (exact addresses, as the server sees its callers).
bool metricsAllowed(const std::string& address, const QStringList& allowed);

} // namespace server
