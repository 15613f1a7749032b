// The application server's HTTP front fed arbitrary bytes over a socket pair,
// as a caller would send them: whatever arrives, the server answers with an
// HTTP response or closes the connection, never crashes, never hangs (each
// input gets a few seconds), and never answers an internal failure (500),
// which would mean an exception escaped a route. An input whose first byte
// is odd skips HTTP: the rest is a call's body, run for a session that may
// use every branch (the request parser and the methods' argument checks).
#include <server/appserver.h>
#include <server/database.h>
#include <server/schema.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr auto kInputDeadline = std::chrono::seconds(10);

struct Served {
    Served()
    {
        static int argc = 1;
        static char name[] = "fuzz_http";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
        if (!dir.isValid())
            std::abort();
        db = std::make_unique<server::Database>(server::DbConfig::parse("sqlite:" + dir.filePath("fuzz.db")));
        server::migrateSchema(*db);
        server::ServerOptions o;
        o.log = false;
        o.threads = 4;
        o.dbConnections = 2;
        o.headerTimeoutMs = 2000;
        o.bodyTimeoutMs = 2000;
        o.shortBodyTimeoutMs = 1000;
        o.stallTimeoutMs = 1000;
        srv = std::make_unique<server::AppServer>(*db, o);
        runner = std::thread([this] { srv->run(); });
        session.operatorCode = "FUZZ";
        session.operatorName = "Fuzz";
        session.allBranches = true;
        session.address = "127.0.0.1";
    }

    std::unique_ptr<QCoreApplication> app;
    QTemporaryDir dir;
    std::unique_ptr<server::Database> db;
    std::unique_ptr<server::AppServer> srv;
    std::thread runner; // serves until the process ends
    server::Session session;
};

Served& served()
{
    static Served* s = new Served; // never destroyed: the runner serves until exit
    return *s;
}

[[noreturn]] void finding(const char* what, const std::string& answer)
{
    std::fprintf(stderr, "fuzz_http: %s\n%.*s\n", what, int(std::min<std::size_t>(answer.size(), 2000)), answer.data());
    std::abort();
}

// Writes `in` to the server's end, reading its answers meanwhile (a server
// blocked writing must not block the input), then half-closes and reads to
// the end. Returns what the server sent.
std::string exchange(int fd, const std::uint8_t* in, std::size_t size)
{
    std::string out;
    std::size_t sent = 0;
    bool halfClosed = false;
    const auto deadline = std::chrono::steady_clock::now() + kInputDeadline;
    char buf[16384];
    for (;;) {
        if (sent == size && !halfClosed) {
            ::shutdown(fd, SHUT_WR);
            halfClosed = true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            finding("no answer and no close within the deadline", out);
        pollfd p{fd, short(POLLIN | (halfClosed ? 0 : POLLOUT)), 0};
        if (::poll(&p, 1, int(left.count())) < 0)
            continue;
        if (p.revents & POLLOUT) {
            const ssize_t n = ::send(fd, in + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += std::size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                sent = size; // the server stopped reading
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                out.append(buf, std::size_t(n));
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                return out; // closed
        }
    }
}

void checkAnswers(const std::string& out)
{
    // Every response the connection carried, one after another (pipelined requests).
    for (std::size_t at = 0; (at = out.find("HTTP/1.1 ", at)) != std::string::npos; at += 9) {
        if (out.compare(at, 12, "HTTP/1.1 500") == 0)
            finding("an internal failure answered", out);
    }
    if (!out.empty() && out.compare(0, 9, "HTTP/1.1 ") != 0)
        finding("bytes that are not an HTTP response", out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Served& s = served();
    if (size > 0 && (data[0] & 1)) {
        const server::HttpAnswer a =
            s.srv->handleCall(std::string(reinterpret_cast<const char*>(data + 1), size - 1), &s.session);
        if (a.status == 500)
            finding("an internal failure answered a call", a.body);
        return 0;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        std::abort();
    if (!s.srv->adopt(fds[0], "127.0.0.1")) {
        ::close(fds[1]);
        return 0; // over the connection cap: closed at once, as an accepted one would be
    }
    const std::string out = exchange(fds[1], size ? data + 1 : data, size ? size - 1 : 0);
    ::close(fds[1]);
    checkAnswers(out);
    return 0;
}
