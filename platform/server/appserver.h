#pragma once
// The HTTP front of the application server (wire format in docs/protocol.md,
// promises in docs/security.md): POST /login opens a session, POST /logout
// ends it, POST /call runs one method through the registry for the session's
// operator, GET /health answers liveness and is the only route open without
// a session. Every call is logged in one line (method, operator, address,
// duration, outcome) with the caller's text escaped; every escaped exception
// becomes a JSON "raised" answer with a fitting status code, and an internal
// failure shows the caller only a reference that the log holds.

#include "database.h"
#include "dbpool.h"
#include "hashpool.h"
#include "httpfront.h"
#include "loginthrottle.h"
#include "logwriter.h"
#include "operators.h"
#include "refusallog.h"
#include "registry.h"
#include "situacao.h"

#include <core/datapacket.h>

#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace server {

/// The default body limit: the largest entry list the screen may send back
/// (kMaxListEntries rows of the widest entry row, kMaxEntryRowBytes) with
/// room for the call's other arguments. See docs/security.md.
constexpr std::size_t kMaxEntryRowBytes = 448;
std::size_t defaultMaxBody();

struct ServerOptions {
    QString listen = "127.0.0.1";
    int port = 8211;          ///< 0 picks a free port
    int threads = 64;         ///< worker pool: calls running at once
    int dbConnections = 8;    ///< database connections (and database worker threads) of this process
    size_t maxBody = defaultMaxBody();
    int headerTimeoutMs = 10000;
    int bodyTimeoutMs = 60000;
    int shortBodyTimeoutMs = 3000;  ///< bodies read before the session is known, and log-in bodies
    int stallTimeoutMs = 5000;      ///< each part of a list answer must be taken within this
    int sessionWorkers = 2;   ///< database workers one session holds at once; its further calls wait their turn
    int hashQueue = 16;       ///< password checks waiting for the two checking threads; beyond, 503
    int loginFreePerPair = 3;       ///< failed log-ins of one code from one address before waits begin
    int loginFreePerAddress = 10;   ///< failed log-ins from one address (any code) before waits begin
    QStringList trustedProxies;     ///< addresses whose X-Forwarded-For names the caller
    int perAddress = 32;      ///< connections open at once from one address (a proxy is one address)
    int maxConnections = 1024;
    qint64 sessionSecs = 12 * 3600;
    bool log = true;
};

struct HttpAnswer {
    int status = 200;
    std::string body;
};

/// An "ok" answer written in parts of about 64 KB, `status` last:
/// `{"payload":{"packet":{"fields":[...],"rows":[...]}},"refs":[...],"status":"ok"}`.
/// Either the payload is the packet of rows still to be read (a list read
/// while it is written), or it is a computed payload whose large packets
/// (the payload itself, or elements of a payload list) are encoded row by row
/// while the first parts are on their way. A failure after the first bytes
/// ends the rows and the payload and closes the answer with
/// `"status":"raised"` and the message instead.
class StreamedAnswer {
public:
    StreamedAnswer(std::shared_ptr<RowSource> rows, const core::VariantArray& refs);
    StreamedAnswer(const core::Variant& payload, const core::VariantArray& refs);
    ~StreamedAnswer();
    /// Whether a computed payload is large enough to be sent in parts.
    static bool worthStreaming(const core::Variant& payload);
    /// The next part of the body (about 64 KB, ending at a row); false once
    /// the whole body was given.
    bool next(std::string& out);
    int rowCount() const { return rows_; }
    /// Empty while the rows read well; else the failure sent at the end.
    const QString& failure() const { return failure_; }

private:
    /// The body as a sequence: text, then the rows of a packet, and so on.
    struct Segment {
        std::string text;                        ///< written as it stands
        std::shared_ptr<RowSource> source;       ///< rows read while written, or
        std::shared_ptr<const core::DataPacket> packet;  ///< rows already in memory
        std::string closer;                      ///< closes what is open when the rows fail
    };
    void addPacket(const core::Variant& packet, std::string closer);
    std::vector<Segment> segments_;
    size_t at_ = 0;
    int rowAt_ = 0;
    std::unique_ptr<core::codec::PacketStreamWriter> writer_;
    int rows_ = 0;
    QString failure_;
    bool ended_ = false;
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

    /// One call, from its JSON body to the answer. The HTTP route always
    /// passes the caller's session; without one the call is trusted
    /// (in-process use by benchmarks and tests). A list answer is the same
    /// text the front sends in parts, joined.
    HttpAnswer handleCall(const std::string& body, const Session* session = nullptr);
    const Registry& registry() const { return registry_; }
    Operators& operators() { return operators_; }

    /// Open connections from one address (for tests).
    int openConnections(const std::string& address) const { return front_->openConnections(address); }

private:
    FrontReply route(const FrontRequest& r);
    /// handleCall's answer as the front sends it: a list answer is given in
    /// parts (written while its rows are read), its log line written at its end.
    FrontReply answerCall(const std::string& body, const Session* session);
    std::optional<FrontReply> admit(FrontRequest& r);
    FrontReply login(const FrontRequest& r);
    void logLine(const QString& what, const Session* s, const QString& address, double ms, const QString& outcome) const;
    /// A refusal's log line, written in full for the first few of an address
    /// and counted for the rest (see RefusalLog).
    void refusal(const QString& what, const QString& address, double ms, const QString& outcome);
    void summarizeRefusals(bool all);
    /// Queues a job on the database workers, at most `sessionWorkers` at once per token.
    void postForSession(const std::string& token, std::function<void()> job);
    void sessionJobDone(const std::string& token);

    Database& db_;
    ServerOptions opt_;
    Registry registry_;
    Operators operators_;
    std::unique_ptr<LogWriter> log_;  ///< the call log on standard error, when logging
    LoginThrottle throttle_;
    RefusalLog refusals_;
    std::mutex summaryMutex_;
    std::condition_variable summaryWake_;
    bool summaryStop_ = false;
    std::thread summaries_;  ///< writes the refusal summaries once their window ends
    struct SessionJobs {
        int running = 0;
        std::deque<std::function<void()>> waiting;
    };
    std::mutex sessionMutex_;
    std::unordered_map<std::string, SessionJobs> sessionJobs_;  ///< by the caller's Authorization text
    HashPool hashPool_;  ///< password checks, apart from the database workers
    DbPool pool_;  ///< every database access of a request runs here; calls run here whole
    std::unique_ptr<HttpFront> front_;
    int port_ = 0;
};

/// A caller's text made safe for one log line: control characters (and the
/// backslash) written as escapes, cut to `max` characters.
QString logSafe(const QString& text, int max = 300);

} // namespace server
