#pragma once
// The HTTP front of the application server (wire format in docs/protocol.md):
// POST /call runs one method through the registry, GET /health answers
// liveness. Every call is logged in one line (method, duration, outcome);
// every escaped exception becomes a JSON "raised" answer with a fitting
// status code.

#include "database.h"
#include "registry.h"
#include "situacao.h"

#include <core/datapacket.h>

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace httplib { class Server; }

namespace server {

struct ServerOptions {
    QString listen = "127.0.0.1";
    int port = 8211;          ///< 0 picks a free port
    int threads = 64;         ///< worker pool; keep it above the expected keep-alive connections
    size_t maxBody = 64u << 20;
    bool log = true;
};

class StreamedAnswer;

struct HttpAnswer {
    int status = 200;
    std::string body;
    /// When set, the body is written from it while the rows are read
    /// (status 200; the outcome travels at the end of the body).
    std::shared_ptr<StreamedAnswer> stream;
};

/// An "ok" answer whose packet payload is written while its rows are read:
/// `{"payload":{"packet":{"fields":[...],"rows":[...]}},"refs":[...],"status":"ok"}`.
/// A failure after the first bytes ends the rows and the payload and closes
/// the answer with `"status":"raised"` and the message instead.
class StreamedAnswer {
public:
    StreamedAnswer(std::shared_ptr<RowSource> rows, const core::VariantArray& refs);
    ~StreamedAnswer();
    /// The next part of the body (about 64 KB, ending at a row); false once
    /// the whole body was given.
    bool next(std::string& out);
    int rowCount() const;
    /// Empty while the rows read well; else the failure sent at the end.
    const QString& failure() const { return failure_; }
    /// Runs once when the body is complete.
    void onEnd(std::function<void(const StreamedAnswer&)> f) { onEnd_ = std::move(f); }

private:
    std::shared_ptr<RowSource> rows_;
    std::unique_ptr<core::codec::PacketStreamWriter> writer_;
    std::string refs_;
    QString failure_;
    bool started_ = false;
    bool ended_ = false;
    std::function<void(const StreamedAnswer&)> onEnd_;
};

class AppServer {
public:
    AppServer(Database& db, ServerOptions options, std::shared_ptr<SefazPort> port = nullptr);
    ~AppServer();

    /// Binds the listening socket; throws core::Error when it cannot.
    void bind();
    int port() const { return port_; }
    /// Serves until stop(); running calls finish before it returns.
    void run();
    /// Stops accepting; safe from any thread (and from a signal-waiting thread).
    void stop();

    /// One call, from its JSON body to the whole answer.
    HttpAnswer handleCall(const std::string& body);
    /// One call whose body was read (possibly while it arrived) by `body`;
    /// a streamed answer is left in `stream`, and logged when it ends.
    HttpAnswer handleCall(core::codec::EnvelopeReader& body);
    const Registry& registry() const { return registry_; }

private:
    void logCall(const QString& label, std::chrono::steady_clock::time_point t0, const QString& outcome) const;

    Database& db_;
    ServerOptions opt_;
    Registry registry_;
    std::unique_ptr<httplib::Server> http_;
    int port_ = 0;
};

} // namespace server
