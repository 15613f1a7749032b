#include "httpfront.h"

#include "allocator.h"

#include <utility>

#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/range/iterator_range.hpp>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

namespace server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kMaxDrain = 8u << 20; ///< read and dropped after a refusal, so the answer is not lost to a reset
constexpr auto kDrainTime = std::chrono::seconds(1);
/// Bodies up to this size (announced by Content-Length) are read before the
/// admission check: at most this much is read for a caller without a session.
constexpr std::size_t kAdmitWithBody = kLargeBody;
/// After serving a body at least this large, the memory freed is handed back
/// to the system (a large call's blocks would otherwise stay with the process).
constexpr std::size_t kGiveBackAfter = 8u << 20;
// The most a connection's read buffer holds: a header up to its limit, and
// chunked or small bodies in reads of up to 64 KB (a large body announced by
// its length bypasses it, see readBodyDirect). Between calls a grown buffer
// is given back.
constexpr std::size_t kReadBuffer = 256u << 10;
constexpr std::size_t kIdleBuffer = 16u << 10;

bool quietEnd(const beast::error_code& ec)
{
    return ec == beast::error::timeout || ec == http::error::end_of_stream || ec == net::error::eof
        || ec == net::error::operation_aborted || ec == net::error::connection_reset
        || ec == http::error::partial_message;
}

/// The hand-off between a worker writing a reply in parts and the
/// connection's strand: at most one write is in flight.
struct Flight {
    std::mutex mutex;
    std::condition_variable cv;
    bool busy = false;
    bool failed = false;
};

} // namespace

class Connection;

struct HttpFront::Impl {
    FrontLimits lim;
    Handler handler;
    Refusal refusal;
    Admission admission;
    Executor executor;
    mutable std::mutex mutex;
    std::unordered_map<std::string, int> perAddress;
    int total = 0;
    std::unordered_map<Connection*, std::weak_ptr<Connection>> live; ///< under `mutex`
    std::atomic<bool> stopped{false};
    std::unique_ptr<net::thread_pool> workers;
    net::io_context ioc;
    tcp::acceptor acceptor{ioc};
    /// Keeps run() serving until stop(), adopted connections included.
    std::optional<net::executor_work_guard<net::io_context::executor_type>> running;

    ~Impl()
    {
        ioc.stop();
        if (workers) {
            workers->stop();
            workers->join();
            workers.reset();
        }
    }

    bool admit(const std::string& a)
    {
        std::lock_guard lock(mutex);
        if (total >= lim.maxConnections)
            return false;
        auto it = perAddress.find(a);
        if (it != perAddress.end() && it->second >= lim.perAddress)
            return false;
        ++perAddress[a];
        ++total;
        return true;
    }
    void release(const std::string& a)
    {
        std::lock_guard lock(mutex);
        auto it = perAddress.find(a);
        if (it != perAddress.end() && --it->second <= 0)
            perAddress.erase(it);
        --total;
    }
    void accept();
    void closeIdle();

    std::size_t inflight = 0; ///< under `mutex`
    /// A share of the in-flight budget, given back when the last copy goes;
    /// null when it would pass the bound.
    std::shared_ptr<void> reserve(std::size_t bytes)
    {
        {
            std::lock_guard lock(mutex);
            if (lim.maxInflight && inflight + bytes > lim.maxInflight)
                return nullptr;
            inflight += bytes;
        }
        return std::shared_ptr<void>(static_cast<void*>(this), [this, bytes](void*) {
            std::lock_guard lock(mutex);
            inflight -= bytes;
        });
    }
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(HttpFront::Impl& srv, tcp::socket&& s, std::string address)
        : srv_(srv), stream_(std::move(s)), address_(std::move(address))
    { }
    ~Connection()
    {
        {
            std::lock_guard lock(srv_.mutex);
            srv_.live.erase(this);
        }
        srv_.release(address_);
    }

    void start()
    {
        {
            std::lock_guard lock(srv_.mutex);
            srv_.live[this] = weak_from_this();
        }
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->readHeader(); });
    }

    /// On stop: a connection waiting for a request is closed; one with a
    /// request under way finishes it and closes after the answer.
    void closeIfIdle()
    {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            if (self->idle_)
                self->close();
        });
    }

private:
    void readHeader()
    {
        if (srv_.stopped.load())
            return close();
        idle_ = true;
        if (buffer_.capacity() > kIdleBuffer)
            buffer_.shrink_to_fit();
        parser_.emplace();
        parser_->header_limit(std::uint32_t(srv_.lim.maxHeader));
        parser_->body_limit(std::uint64_t(srv_.lim.maxBody));
        stream_.expires_after(srv_.lim.headerTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void failed(const beast::error_code& ec)
    {
        if (quietEnd(ec))
            return close();
        if (ec == http::error::header_limit)
            return refuse(431);
        if (ec == http::error::body_limit)
            return refuse(413);
        refuse(400);
    }

    void onHeader(beast::error_code ec)
    {
        idle_ = false;
        if (ec)
            return failed(ec);
        const auto& req = parser_->get();
        const auto enc = req[http::field::content_encoding];
        if (!enc.empty() && !beast::iequals(enc, "identity"))
            return refuse(415);
        const auto te = req[http::field::transfer_encoding];
        if (!te.empty() && !beast::iequals(te, "chunked"))
            return refuse(415);
        if (const auto len = parser_->content_length(); len && *len > srv_.lim.maxBody)
            return refuse(413);
        request_ = FrontRequest{};
        request_.method = std::string(req.method_string());
        const std::string_view target(req.target().data(), req.target().size());
        const auto q = target.find('?');
        request_.path = std::string(target.substr(0, q));
        if (q != std::string_view::npos)
            request_.query = std::string(target.substr(q + 1));
        request_.authorization = std::string(req[http::field::authorization]);
        request_.address = callerAddress(req);
        request_.chunked = parser_->chunked();
        if (const auto n = parser_->content_length())
            request_.contentLength = std::size_t(*n);
        const bool expectContinue = beast::iequals(req[http::field::expect], "100-continue");
        // A small body announced by its length is read first and admitted on
        // the worker that then runs the call (one hand-off less); a large or
        // chunked one is admitted before a byte of it is read.
        const auto len = parser_->content_length();
        admitLater_ = srv_.admission && !expectContinue && len && *len <= kAdmitWithBody;
        if (!srv_.admission || admitLater_)
            return afterAdmission(std::nullopt, expectContinue);
        net::post(*srv_.workers, [self = shared_from_this(), expectContinue, work = net::make_work_guard(srv_.ioc)]() {
            std::optional<FrontReply> refusal;
            try {
                refusal = self->srv_.admission(self->request_);
            } catch (...) {
                refusal = self->srv_.refusal(500);
            }
            net::post(self->stream_.get_executor(), [self, refusal = std::move(refusal), expectContinue]() mutable {
                self->afterAdmission(std::move(refusal), expectContinue);
            });
        });
    }

    /// The peer's address; behind a trusted proxy, the address the proxy
    /// appended last to X-Forwarded-For (earlier entries are the client's
    /// own text). A missing or malformed header leaves the peer's.
    template <class Request>
    std::string callerAddress(const Request& req) const
    {
        const auto& trusted = srv_.lim.trustedProxies;
        if (std::find(trusted.begin(), trusted.end(), address_) == trusted.end())
            return address_;
        std::string_view last;
        for (const auto& f : boost::make_iterator_range(req.equal_range("X-Forwarded-For")))
            last = std::string_view(f.value().data(), f.value().size());
        if (const auto comma = last.rfind(','); comma != std::string_view::npos)
            last = last.substr(comma + 1);
        while (!last.empty() && (last.front() == ' ' || last.front() == '\t'))
            last.remove_prefix(1);
        while (!last.empty() && (last.back() == ' ' || last.back() == '\t'))
            last.remove_suffix(1);
        beast::error_code ec;
        const auto a = net::ip::make_address(std::string(last.substr(0, 64)), ec);
        return ec ? address_ : a.to_string();
    }

    /// Bodies read before the session is known, and those the admission
    /// marks (log-ins, routes without a session), get the short deadline.
    std::chrono::milliseconds bodyDeadline() const
    {
        return admitLater_ || request_.shortBody ? srv_.lim.shortBodyTimeout : srv_.lim.bodyTimeout;
    }

    void afterAdmission(std::optional<FrontReply> refusal, bool expectContinue)
    {
        if (refusal)
            return write(std::move(*refusal), false);
        if (request_.maxBody && request_.maxBody < srv_.lim.maxBody) {
            if (const auto len = parser_->content_length(); len && *len > request_.maxBody)
                return refuse(413);
            parser_->body_limit(std::uint64_t(request_.maxBody));
        }
        if (request_.large()) {
            // Counted before a byte of it is read: at its announced length,
            // or a chunked one at the most it may grow to.
            const std::size_t limit =
                request_.maxBody && request_.maxBody < srv_.lim.maxBody ? request_.maxBody : srv_.lim.maxBody;
            budget_ = srv_.reserve(request_.chunked ? limit : request_.contentLength);
            if (!budget_) {
                FrontReply busy = srv_.refusal(503);
                busy.headers.emplace_back("Retry-After", std::to_string(srv_.lim.retryAfterSecs));
                return write(std::move(busy), false);
            }
        }
        if (expectContinue) {
            auto cont =
                std::make_shared<http::response<http::empty_body>>(http::status::continue_, parser_->get().version());
            stream_.expires_after(srv_.lim.writeTimeout);
            http::async_write(stream_, *cont, [self = shared_from_this(), cont](beast::error_code e, std::size_t) {
                if (e)
                    return self->close();
                self->readBody();
            });
            return;
        }
        readBody();
    }

    void readBody()
    {
        // A large body announced by its length is read straight into the
        // request, taking all the socket holds at each wake-up; the parser
        // would take it in pieces of at most 64 KB, each a timed operation
        // of its own (a 12 MB list took about 0.1 s that way).
        const auto len = parser_->content_length();
        if (len && !parser_->chunked() && *len > kAdmitWithBody)
            return readBodyDirect(std::size_t(*len));
        stream_.expires_after(bodyDeadline());
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onBody(ec); });
    }

    void readBodyDirect(std::size_t len)
    {
        directLen_ = len;
        // What came with the header first; the string grows (doubling) with
        // what arrives, so an announced length costs no memory before its bytes.
        const std::size_t have = std::min(len, buffer_.size());
        direct_ = std::string(std::min(len, std::max<std::size_t>(have, 256u << 10)), '\0');
        // Room for all of it at once, so growing never copies (a copy would
        // hold the old and the new string together); its pages are taken
        // only as the bytes arrive.
        direct_.reserve(len);
        directGot_ = have;
        net::buffer_copy(net::buffer(direct_.data(), have), buffer_.data());
        buffer_.consume(have);
        stream_.expires_never();
        bodyTimer_.expires_after(bodyDeadline());
        bodyTimer_.async_wait(
            net::bind_executor(stream_.get_executor(), [self = shared_from_this()](beast::error_code ec) {
                if (!ec && self->directLen_)
                    self->close(); // the body's deadline: the pending wait fails
            }));
        beast::error_code ec;
        stream_.socket().non_blocking(true, ec);
        if (ec)
            return close();
        readSomeDirect();
    }

    void readSomeDirect()
    {
        tcp::socket& sock = stream_.socket();
        for (;;) {
            if (directGot_ == directLen_) {
                directLen_ = 0;
                bodyTimer_.cancel();
                beast::error_code ignored;
                sock.non_blocking(false, ignored);
                direct_.resize(directGot_);
                return dispatch(std::move(direct_));
            }
            if (directGot_ == direct_.size())
                direct_.resize(std::min(directLen_, 2 * direct_.size()));
            beast::error_code ec;
            const std::size_t n =
                sock.read_some(net::buffer(direct_.data() + directGot_, direct_.size() - directGot_), ec);
            directGot_ += n;
            if (ec == net::error::would_block || ec == net::error::try_again)
                break;
            if (ec) {
                directLen_ = 0;
                bodyTimer_.cancel();
                return close(); // dropped or timed out halfway: nothing to answer
            }
        }
        sock.async_wait(tcp::socket::wait_read,
                        net::bind_executor(stream_.get_executor(), [self = shared_from_this()](beast::error_code ec) {
                            if (ec || !self->directLen_) {
                                self->directLen_ = 0;
                                self->bodyTimer_.cancel();
                                return self->close();
                            }
                            self->readSomeDirect();
                        }));
    }

    void onBody(beast::error_code ec)
    {
        if (ec)
            return failed(ec);
        stream_.expires_never();
        dispatch(std::move(parser_->get().body()));
    }

    // The request, header and body read, goes to the owner's executor or a worker.
    void dispatch(std::string body)
    {
        auto& req = parser_->get();
        auto r = std::make_shared<FrontRequest>(std::move(request_));
        r->body = std::move(body);
        r->budget = std::move(budget_);
        const bool keep = req.keep_alive();
        const bool chunked = req.version() >= 11;
        // The work guard keeps the I/O loop running until the answer is back.
        std::function<void()> job = [self = shared_from_this(), r, keep, chunked, admit = admitLater_,
                                     work = net::make_work_guard(srv_.ioc)] {
            self->serve(std::move(*r), keep, chunked, admit);
        };
        if (!srv_.executor || !srv_.executor(*r, job))
            net::post(*srv_.workers, std::move(job));
    }

    // On a worker or an executor's thread: the request from its admission
    // (when still due) to the answer handed to the strand.
    void serve(FrontRequest r, bool keep, bool chunked, bool admit)
    {
        FrontReply rep;
        const bool giveBack = r.body.size() >= kGiveBackAfter;
        try {
            std::optional<FrontReply> refused;
            if (admit)
                refused = srv_.admission(r);
            if (!refused && r.maxBody && r.body.size() > r.maxBody)
                refused = srv_.refusal(413);
            rep = refused ? std::move(*refused) : srv_.handler(r);
        } catch (...) {
            rep = srv_.refusal(500);
        }
        // The body and what was decoded from it are gone once the handler
        // has returned: their shares are given back before the answer is written.
        std::string().swap(r.body);
        r.hold.reset();
        r.budget.reset();
        if (rep.parts && chunked) {
            writeParts(std::move(rep), keep);
            if (giveBack)
                giveBackFreedMemory();
            return;
        }
        if (rep.parts) { // HTTP/1.0 has no chunks: the parts are joined
            std::string part;
            while (rep.parts->next(part))
                rep.body += part;
            rep.parts->finished(true);
            rep.parts.reset();
        }
        net::post(stream_.get_executor(), [self = shared_from_this(), rep = std::move(rep), keep]() mutable {
            self->write(std::move(rep), keep);
        });
        if (giveBack)
            giveBackFreedMemory();
    }

    void refuse(int status) { write(srv_.refusal(status), false); }

    void write(FrontReply rep, bool keep)
    {
        keep = keep && !srv_.stopped.load();
        res_ = {};
        res_.version(11);
        res_.result(unsigned(rep.status));
        res_.set(http::field::content_type, rep.contentType);
        for (const auto& [name, value] : rep.headers)
            res_.set(name, value);
        res_.body() = std::move(rep.body);
        res_.keep_alive(keep);
        res_.prepare_payload();
        stream_.expires_after(srv_.lim.writeTimeout);
        http::async_write(stream_, res_, [self = shared_from_this(), keep](beast::error_code ec, std::size_t) {
            if (ec)
                return self->close();
            if (!keep)
                return self->drain();
            self->readHeader();
        });
    }

    // On the worker: the reply's head, then each part as a chunk handed to the
    // strand, the next part made while the last one is written (so at most
    // two parts are held), then the last chunk. The write deadline covers
    // the whole reply. A failed write (caller gone, deadline passed) closes
    // the connection and stops the parts; the caller then sees a reply cut
    // off before its end.
    void writeParts(FrontReply rep, bool keep)
    {
        keep = keep && !srv_.stopped.load();
        auto flight = std::make_shared<Flight>();
        auto head = std::make_shared<http::response<http::empty_body>>(http::status(unsigned(rep.status)), 11);
        head->set(http::field::content_type, rep.contentType);
        for (const auto& [name, value] : rep.headers)
            head->set(name, value);
        head->keep_alive(keep);
        head->chunked(true);
        auto body = std::make_shared<std::string>(std::move(rep.body));
        // Each write must end within the stall limit, all of them within the
        // whole answer's deadline.
        const auto deadline = std::chrono::steady_clock::now() + srv_.lim.writeTimeout;
        auto expiry = [this, deadline] {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            stream_.expires_after(std::max(std::chrono::milliseconds(0), std::min(srv_.lim.stallTimeout, left)));
        };
        hand(flight, [this, head, expiry](auto done) {
            expiry();
            auto sr = std::make_shared<http::response_serializer<http::empty_body>>(*head);
            http::async_write_header(stream_, *sr,
                                     [sr, head, done](beast::error_code ec, std::size_t n) { done(ec, n); });
        });
        auto chunk = [this, &flight, &expiry](std::shared_ptr<std::string> part) {
            if (part->empty())
                return true; // an empty chunk would end the body
            return hand(flight, [this, part, expiry](auto done) {
                expiry();
                net::async_write(stream_, http::make_chunk(net::buffer(*part)),
                                 [part, done](beast::error_code ec, std::size_t n) { done(ec, n); });
            });
        };
        bool whole = chunk(body);
        try {
            std::string part;
            while (whole && rep.parts->next(part))
                whole = chunk(std::make_shared<std::string>(std::move(part)));
        } catch (...) {
            whole = false; // the parts must not throw; if they do, the reply stays cut off
        }
        if (whole)
            hand(flight, [this, expiry](auto done) {
                expiry();
                net::async_write(stream_, http::make_chunk_last(), done);
            });
        {
            std::unique_lock lock(flight->mutex);
            flight->cv.wait(lock, [&] { return !flight->busy; });
            whole = whole && !flight->failed;
        }
        if (!whole) {
            net::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
        } else {
            net::post(stream_.get_executor(), [self = shared_from_this(), keep] {
                if (!keep)
                    return self->drain();
                self->readHeader();
            });
        }
        rep.parts->finished(whole);
    }

    // On the worker: waits for the write in flight, then starts `write` on
    // the strand; false once a write has failed.
    template <class Write>
    bool hand(const std::shared_ptr<Flight>& flight, Write write)
    {
        {
            std::unique_lock lock(flight->mutex);
            flight->cv.wait(lock, [&] { return !flight->busy; });
            if (flight->failed)
                return false;
            flight->busy = true;
        }
        net::post(stream_.get_executor(), [self = shared_from_this(), flight, write = std::move(write)]() mutable {
            write([self, flight](beast::error_code ec, std::size_t) {
                {
                    std::lock_guard lock(flight->mutex);
                    flight->busy = false;
                    flight->failed = flight->failed || bool(ec);
                }
                flight->cv.notify_all();
                if (ec)
                    self->close();
            });
        });
        return true;
    }

    // After a refusal: stop sending, read and drop what the caller still
    // sends for a short, bounded while, then close. Closing with unread data
    // would reset the connection and the caller might lose the answer.
    void drain()
    {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        stream_.expires_after(kDrainTime);
        drainSome();
    }
    void drainSome()
    {
        stream_.async_read_some(net::buffer(scratch_),
                                [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->drained_ > kMaxDrain)
                                        return self->close();
                                    self->drainSome();
                                });
    }

    void close()
    {
        budget_.reset();
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
        stream_.close();
    }

    HttpFront::Impl& srv_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_{std::max(kReadBuffer, srv_.lim.maxHeader + 1024)};
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<void> budget_; ///< the in-flight share of the body being read
    std::string direct_;           ///< a large body being read straight from the socket
    std::size_t directLen_ = 0;    ///< its announced length while it is read, else 0
    std::size_t directGot_ = 0;    ///< the bytes of it read so far (the string may be larger)
    net::steady_timer bodyTimer_{stream_.get_executor()};
    http::response<http::string_body> res_;
    std::string address_;
    std::array<char, 16384> scratch_{};
    std::size_t drained_ = 0;
    bool idle_ = false;
    bool admitLater_ = false;
    FrontRequest request_;
};

void HttpFront::Impl::closeIdle()
{
    std::vector<std::shared_ptr<Connection>> all;
    {
        std::lock_guard lock(mutex);
        for (auto& [p, w] : live)
            if (auto c = w.lock())
                all.push_back(std::move(c));
    }
    for (auto& c : all)
        c->closeIfIdle();
}

void HttpFront::Impl::accept()
{
    acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket s) {
        if (ec == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (!ec) {
            beast::error_code e2;
            const auto peer = s.remote_endpoint(e2);
            std::string address = e2 ? std::string("?") : peer.address().to_string();
            if (!e2 && admit(address)) {
                s.set_option(tcp::no_delay(true), e2);
                std::make_shared<Connection>(*this, std::move(s), std::move(address))->start();
            } else {
                s.close(e2); // over the cap: closed without reading a byte
            }
        }
        accept();
    });
}

HttpFront::HttpFront(FrontLimits limits, Handler handler, Refusal refusal, Admission admission, Executor executor)
    : d(std::make_shared<Impl>())
{
    d->executor = std::move(executor);
    d->lim = limits;
    d->handler = std::move(handler);
    d->refusal = std::move(refusal);
    d->admission = std::move(admission);
    d->workers = std::make_unique<net::thread_pool>(std::size_t(std::max(1, limits.workers)));
}

HttpFront::~HttpFront()
{
    stop();
}

int HttpFront::bind(const std::string& host, int port)
{
    beast::error_code ec;
    const auto address = net::ip::make_address(host, ec);
    if (ec)
        throw std::runtime_error("endereço inválido: " + host);
    const tcp::endpoint ep(address, static_cast<unsigned short>(port));
    d->acceptor.open(ep.protocol(), ec);
    if (!ec)
        d->acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        d->acceptor.bind(ep, ec);
    if (!ec)
        d->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        throw std::runtime_error(ec.message());
    return d->acceptor.local_endpoint().port();
}

void HttpFront::run()
{
    if (d->stopped.load())
        return;
    d->running.emplace(d->ioc.get_executor());
    d->accept();
    std::vector<std::thread> io;
    for (int i = 1; i < d->lim.ioThreads; ++i)
        io.emplace_back([this] { d->ioc.run(); });
    d->ioc.run();
    for (auto& t : io)
        t.join();
    d->workers->join(); // running requests end before run() returns
}

void HttpFront::stop()
{
    // Graceful: no new connections, idle ones closed, requests under way
    // answered; run() returns when nothing is left.
    if (d->stopped.exchange(true))
        return;
    net::post(d->ioc, [impl = d.get()] {
        beast::error_code ec;
        impl->acceptor.close(ec);
        impl->closeIdle();
        impl->running.reset();
    });
}

bool HttpFront::adopt(int fd, const std::string& address)
{
    if (d->stopped.load() || !d->admit(address)) {
        ::close(fd);
        return false;
    }
    tcp::socket s(net::make_strand(d->ioc));
    beast::error_code ec;
    s.assign(tcp::v4(), fd, ec);
    if (ec) {
        ::close(fd);
        d->release(address);
        return false;
    }
    std::make_shared<Connection>(*d, std::move(s), address)->start();
    return true;
}

int HttpFront::openConnections(const std::string& address) const
{
    std::lock_guard lock(d->mutex);
    auto it = d->perAddress.find(address);
    return it == d->perAddress.end() ? 0 : it->second;
}

} // namespace server
