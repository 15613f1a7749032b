#pragma once
// The server's HTTP/1.1 front, on Boost.Beast: it owns the sockets and puts
// a bound on everything a caller can make it do before a request reaches the
// application:
// - headers: at most `maxHeader` bytes, all of them within `headerTimeout`
//   (the wait for a kept-alive connection's next request included);
// - body: at most `maxBody` bytes, chunked or not, counted while it is read,
//   all of it within `bodyTimeout`, or within `shortBodyTimeout` when it is
//   read before the caller's session is known (small bodies) or the
//   admission marks it short (log-ins); a body announced larger is refused before
//   a byte of it is read; encoded bodies (Content-Encoding other than
//   identity, Transfer-Encoding other than chunked) are refused unread;
// - connections: at most `perAddress` open at once from one client address
//   and `maxConnections` in all; a connection over either cap is closed at
//   once, without reading from it;
// - answers are written within `writeTimeout`, a reply sent in parts
//   included (all its parts, from the first byte to the last), and each
//   part of such a reply within `stallTimeout` (a caller that stops reading
//   frees the worker writing it after that long);
// - the caller's address is the peer's, or, when the peer is one of
//   `trustedProxies`, the last address of its X-Forwarded-For header.
// Sockets are served by a few I/O threads; requests run on a pool of
// `workers` threads, so a slow call holds a worker, never a socket loop.
// The owner may take requests whose body is in onto threads of its own (see
// Executor): they then run there from the admission to the answer, without
// passing through a worker.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace server {

struct Session;

/// A body larger than this (announced by its length), or any chunked body,
/// is a large one: admitted before a byte of it is read, and counted against
/// the in-flight budget while it is read and served.
constexpr std::size_t kLargeBody = 64u << 10;

struct FrontLimits {
    std::size_t maxBody = 64u << 20;
    std::size_t maxHeader = 16u << 10;
    std::chrono::milliseconds headerTimeout{10000};
    std::chrono::milliseconds bodyTimeout{60000};
    std::chrono::milliseconds shortBodyTimeout{3000};
    std::chrono::milliseconds writeTimeout{60000};
    std::chrono::milliseconds stallTimeout{5000};
    std::vector<std::string> trustedProxies; ///< peer addresses whose X-Forwarded-For is believed
    int perAddress = 32;
    int maxConnections = 1024;
    int workers = 64;
    int ioThreads = 2;
    /// Bytes of large bodies being read or served at once (a chunked body
    /// counts as its limit); a large body beyond it is answered 503 with
    /// Retry-After before it is read. 0: no bound.
    std::size_t maxInflight = 0;
    int retryAfterSecs = 2;
};

struct FrontRequest {
    std::string method;        ///< "GET", "POST", ...
    std::string path;          ///< the target without its query
    std::string query;         ///< after '?', undecoded
    std::string authorization; ///< the Authorization header
    std::string body;
    std::string address; ///< the caller's IP address (the proxy's client behind a trusted proxy)
    /// The caller's session, set by the admission check and read by the
    /// handler; the front only carries it.
    std::shared_ptr<const Session> session;
    std::size_t maxBody = 0;       ///< the admission check may lower the body limit of this request
    bool shortBody = false;        ///< set by the admission check: the body gets the short deadline
    std::size_t contentLength = 0; ///< as announced; 0 when chunked or absent
    bool chunked = false;
    /// Set by the admission check: what it holds for this request (released
    /// once the handler has returned, with the body).
    std::shared_ptr<void> hold;
    std::shared_ptr<void> budget; ///< the front's share of the in-flight budget
    bool large() const { return chunked || contentLength > kLargeBody; }
};

/// The body of a reply given in parts: the front sends each part as a chunk
/// (HTTP/1.1 chunked transfer encoding) while the next one is made, so a
/// large answer is never held whole. Both calls run on the worker that ran
/// the handler (a part may be read from that worker's database connection).
class ReplyParts {
public:
    virtual ~ReplyParts() = default;
    /// The next part into `out` (may be left empty); false once the body is
    /// complete (`out` is then not sent).
    virtual bool next(std::string& out) = 0;
    /// Called once at the end: `sent` is false when the reply was abandoned
    /// (connection lost, write deadline passed) before its last part was written.
    virtual void finished(bool sent) = 0;
};

struct FrontReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    /// When set, the body is these parts (after `body`, usually empty).
    std::shared_ptr<ReplyParts> parts;
    /// Further header fields of the answer (Retry-After, ...).
    std::vector<std::pair<std::string, std::string>> headers;
};

class HttpFront {
public:
    /// May take the request's body (to let it go once read).
    using Handler = std::function<FrontReply(FrontRequest&)>;
    /// `refusal` builds the answer the front itself gives (400, 413, 415, 431).
    using Refusal = std::function<FrontReply(int status)>;
    /// Runs on a worker once the headers are in, before a byte of the body is
    /// read (the body is empty then): an answer refuses the request unread.
    using Admission = std::function<std::optional<FrontReply>(FrontRequest&)>;
    /// Called on an I/O thread once a request's body is in, with the request
    /// (to be read before the job is queued) and the job that serves it (the admission if still due, the body limit, the handler,
    /// the answer handed back to the socket). Either queues `job` on a thread
    /// of the owner's (the job may block there; a reply in parts is written
    /// from that thread) and returns true, or returns false and leaves it to
    /// the workers. Must not block.
    using Executor = std::function<bool(const FrontRequest&, std::function<void()>& job)>;

    HttpFront(FrontLimits limits, Handler handler, Refusal refusal, Admission admission = nullptr,
              Executor executor = nullptr);
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    /// Binds and listens; returns the port (a free one for port 0). Throws
    /// std::runtime_error when it cannot.
    int bind(const std::string& host, int port);
    /// Serves until stop(); returns once running requests have finished.
    void run();
    /// Safe from any thread, also before run().
    void stop();

    /// Serves one connection over a stream socket already connected (an end
    /// of a socket pair, in tests and the fuzzer), as if it had been accepted
    /// from `address`: counted against the caps, read and answered like any
    /// other. Takes the descriptor; false (and the descriptor closed) over a
    /// cap or once stopped. Served while run() runs.
    bool adopt(int fd, const std::string& address);

    /// Connections open now from `address` (for tests and the log).
    int openConnections(const std::string& address) const;

    struct Impl; ///< shared with the connections in httpfront.cpp

private:
    std::shared_ptr<Impl> d;
};

} // namespace server
