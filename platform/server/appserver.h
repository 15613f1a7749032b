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
#include "metrics.h"
#include "operators.h"
#include "refusallog.h"
#include "registry.h"
#include "situacao.h"
#include "streamedanswer.h"

#include <core/datapacket.h>

#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <span>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace server {

/// The default body limit: the largest entry list the screen may send back
/// (kMaxListEntries rows of the widest entry row, kMaxEntryRowBytes) with
/// room for the call's other arguments. See docs/security.md.
constexpr std::size_t kMaxEntryRowBytes = 448;
std::size_t defaultMaxBody();
/// The default in-flight budget: an eighth of the machine's memory, and
/// room for at least two bodies of the largest size.
std::size_t defaultMaxInflight(std::size_t maxBody = defaultMaxBody());
/// Large bodies (see kLargeBody) one session may have read or served at once.
constexpr int kLargeBodiesPerSession = 2;

struct ServerOptions {
    QString listen = "127.0.0.1";
    int port = 8211;       ///< 0 picks a free port
    int threads = 64;      ///< worker pool: calls running at once
    int dbConnections = 8; ///< database connections (and database worker threads) of this process
    size_t maxBody = defaultMaxBody();
    size_t maxInflight = 0; ///< bytes of large bodies at once; 0: defaultMaxInflight(maxBody)
    int headerTimeoutMs = 10000;
    int bodyTimeoutMs = 60000;
    int shortBodyTimeoutMs = 3000; ///< bodies read before the session is known, and log-in bodies
    int stallTimeoutMs = 5000;     ///< each part of a list answer must be taken within this
    int sessionWorkers = 2;        ///< database workers one session holds at once; its further calls wait their turn
    int hashQueue = 16;            ///< password checks waiting for the two checking threads; beyond, 503
    int loginFreePerPair = 3;      ///< failed log-ins of one code from one address before waits begin
    int loginFreePerAddress = 10;  ///< failed log-ins from one address (any code) before waits begin
    QStringList trustedProxies;    ///< addresses whose X-Forwarded-For names the caller
    int perAddress = 32;           ///< connections open at once from one address (a proxy is one address)
    int maxConnections = 1024;
    qint64 sessionSecs = 12 * 3600;
    bool log = true;
    QStringList metricsAllow; ///< addresses besides loopback that may read /metrics
};

struct HttpAnswer {
    int status = 200;
    std::string body;
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

    ServerMetrics& metrics() { return *metrics_; }

    /// Serves a connected stream socket as a caller at `address` would be
    /// served (see HttpFront::adopt): tests and the fuzzer talk to the
    /// front through a socket pair.
    bool adopt(int fd, const std::string& address) { return front_->adopt(fd, address); }

    /// Open connections from one address (for tests).
    int openConnections(const std::string& address) const { return front_->openConnections(address); }

private:
    /// One route of the HTTP front, written once: dispatch, the 404 and 405
    /// answers, the body limit, the session check, where it runs and its
    /// name in the log and the metrics all read it.
    struct Route {
        std::string_view path;   ///< "/call"; its name (log, metrics) is the path without the slash
        std::string_view method; ///< the one method it takes
        bool session;            ///< needs a live session, checked before the body is read
        std::size_t bodyLimit;   ///< 0: the server's own (ServerOptions::maxBody)
        bool databaseWorker;     ///< runs whole on a database worker, from the session check to the answer
        bool pendingPassword;    ///< open to a session whose first password is still to be changed
        FrontReply (AppServer::*handler)(const Route& route, FrontRequest& r);
        QString name() const { return QString::fromLatin1(path.substr(1).data(), qsizetype(path.size() - 1)); }
    };
    static std::span<const Route> routes();
    static const Route* findRoute(std::string_view path);

    /// Finds the route, answers 404 and 405, makes sure a session route has
    /// its session, and runs the route's handler.
    FrontReply route(FrontRequest& r);
    /// Before the body is read: the route's body limit and deadline; for a
    /// session route, the method, the session and the session's large bodies.
    std::optional<FrontReply> admit(FrontRequest& r);
    /// Whether the request runs on a database worker: `job` is then queued
    /// behind the session's earlier calls.
    bool runOnDatabase(const FrontRequest& r, std::function<void()>& job);

    // The routes' handlers; a route's name labels its log lines and metrics.
    FrontReply health(const Route& route, FrontRequest& r);
    FrontReply metricsPage(const Route& route, FrontRequest& r);
    FrontReply login(const Route& route, FrontRequest& r);
    FrontReply logout(const Route& route, FrontRequest& r);
    FrontReply changePassword(const Route& route, FrontRequest& r);
    FrontReply call(const Route& route, FrontRequest& r);

    /// handleCall's answer as the front sends it: a list answer is given in
    /// parts (written while its rows are read), its log line written at its end.
    /// The body is let go once it is decoded.
    FrontReply answerCall(std::string body, const Session* session);
    /// An internal failure of a request outside a call: its detail is logged
    /// under a new reference, which alone the answer (500) shows.
    FrontReply internalFailure(const QString& what, const Session* s, const QString& address, double ms,
                               const QString& detail) const;
    void logLine(const QString& what, const Session* s, const QString& address, double ms,
                 const QString& outcome) const;
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
    std::unique_ptr<LogWriter> log_; ///< the call log on standard error, when logging
    LoginThrottle throttle_;
    RefusalLog refusals_;
    std::mutex summaryMutex_;
    std::condition_variable summaryWake_;
    bool summaryStop_ = false;
    std::thread summaries_; ///< writes the refusal summaries once their window ends
    struct SessionJobs {
        int running = 0;
        std::deque<std::function<void()>> waiting;
    };
    std::mutex sessionMutex_;
    std::unordered_map<std::string, SessionJobs> sessionJobs_; ///< by the caller's Authorization text
    HashPool hashPool_;                                        ///< password checks, apart from the database workers
    std::unique_ptr<ServerMetrics> metrics_;
    DbPool pool_; ///< every database access of a request runs here; calls run here whole
    std::unique_ptr<HttpFront> front_;
    int port_ = 0;
    std::mutex largeMutex_;
    std::map<QString, int> largeBySession_; ///< large bodies under way, by session token
};

/// A caller's text made safe for one log line: control characters (and the
/// backslash) written as escapes, cut to `max` characters.
QString logSafe(const QString& text, int max = 300);

} // namespace server
