#pragma once
// An HTTP/1.1 connection from a chosen loopback address (127.0.0.2 plays
// "another machine"), in clear or over TLS, for tests that attack a server
// or a proxy and measure a well-behaved caller beside the attack. Every wait
// is bounded. Also: the medians of what a well-behaved caller saw.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rawsocket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

/// A client TLS context that checks nothing (the tests' own proxy); `ciphers`
/// and `maxTls12` narrow what it offers.
inline SSL_CTX* clientTls(const char* ciphers = nullptr, bool maxTls12 = false)
{
    std::signal(SIGPIPE, SIG_IGN); // TLS writes to a closed connection must fail, not end the test
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    if (maxTls12)
        SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    if (ciphers)
        SSL_CTX_set_cipher_list(ctx, ciphers);
    return ctx;
}

class Wire {
public:
    /// Connects to 127.0.0.1:port from `source`; with `tls`, shakes hands
    /// (within 3 s) before returning. `receiveBuffer` (bytes) keeps what the
    /// kernel takes in for a reader that does not read small.
    Wire(int port, const char* source, SSL_CTX* tls = nullptr, int receiveBuffer = 0)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        ok_ = connectLoopback(fd_, port, source);
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (ok_ && tls) {
            ssl_ = SSL_new(tls);
            SSL_set_fd(ssl_, fd_);
            timeval tv{3, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            ok_ = SSL_connect(ssl_) == 1;
        }
    }
    ~Wire()
    {
        if (ssl_)
            SSL_free(ssl_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    bool ok() const { return ok_; }
    bool send(const std::string& data)
    {
        size_t done = 0;
        while (ok_ && done < data.size()) {
            const int n = ssl_ ? SSL_write(ssl_, data.data() + done, int(data.size() - done))
                               : int(::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL));
            if (n <= 0)
                ok_ = false;
            else
                done += size_t(n);
        }
        return ok_;
    }
    /// One answer (Content-Length bodies): its status, or 0 when none came within `wait`.
    int answer(std::chrono::milliseconds wait, std::string* body = nullptr)
    {
        const auto end = std::chrono::steady_clock::now() + wait;
        size_t head = std::string::npos, need = 0;
        while (ok_) {
            if (head == std::string::npos && (head = in_.find("\r\n\r\n")) != std::string::npos) {
                std::string lower = in_.substr(0, head);
                std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
                const size_t cl = lower.find("content-length:");
                need = head + 4 + (cl == std::string::npos ? 0 : std::stoul(lower.substr(cl + 15)));
            }
            if (head != std::string::npos && in_.size() >= need)
                break;
            if (!readSome(end))
                return 0;
        }
        if (head == std::string::npos)
            return 0;
        const int status = std::atoi(in_.c_str() + 9);
        if (body)
            *body = in_.substr(head + 4, need - head - 4);
        in_.erase(0, need);
        return status;
    }
    /// Sends `request` and waits for its answer's status (0: none in time).
    int exchange(const std::string& request, std::chrono::milliseconds wait, std::string* body = nullptr)
    {
        return send(request) ? answer(wait, body) : 0;
    }
    /// True when the peer closed the connection within `wait`.
    bool closedWithin(std::chrono::milliseconds wait)
    {
        const auto end = std::chrono::steady_clock::now() + wait;
        while (ok_ && readSome(end))
            in_.clear();
        return !ok_;
    }
    /// Everything that arrives until the peer closes or `wait` passes; `closed` tells which.
    std::string drain(std::chrono::milliseconds wait, bool& closed)
    {
        const auto end = std::chrono::steady_clock::now() + wait;
        while (ok_ && readSome(end)) { }
        closed = !ok_;
        return std::exchange(in_, {});
    }

private:
    bool readSome(std::chrono::steady_clock::time_point end)
    {
        char buf[16384];
        if (!ssl_ || SSL_pending(ssl_) == 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                return false;
        }
        const int n = ssl_ ? SSL_read(ssl_, buf, sizeof buf) : int(::recv(fd_, buf, sizeof buf, 0));
        if (n <= 0) {
            ok_ = false;
            return false;
        }
        in_.append(buf, size_t(n));
        return true;
    }

    int fd_ = -1;
    SSL* ssl_ = nullptr;
    bool ok_ = false;
    std::string in_;
};

inline std::string httpPost(const std::string& path, const std::string& body, const std::string& token = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
        + (token.empty() ? std::string() : "Authorization: Bearer " + token + "\r\n")
        + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 1e9;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

/// A well-behaved operator on another machine (127.0.0.2): a small call and
/// a GET /health every 50 ms on one kept-alive connection (a new one when
/// it is lost), timing each, until stopped.
class WellBehaved {
public:
    WellBehaved(int port, std::string token, std::string smallCall, SSL_CTX* tls = nullptr)
        : thread_([=, this] {
              std::unique_ptr<Wire> w;
              while (!stop_) {
                  if (!w || !w->ok())
                      w = std::make_unique<Wire>(port, "127.0.0.2", tls);
                  for (int i = 0; i < 2 && !stop_; ++i) {
                      const auto t0 = std::chrono::steady_clock::now();
                      const int st = w->exchange(i == 0 ? httpPost("/call", smallCall, token)
                                                        : std::string("GET /health HTTP/1.1\r\nHost: x\r\n\r\n"),
                                                 std::chrono::seconds(5));
                      const double ms =
                          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                      std::lock_guard lock(mutex_);
                      (i == 0 ? call_ : health_).push_back(st == 200 ? ms : 1e6);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          })
    { }
    ~WellBehaved() { finish(); }
    void finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    /// Medians in ms; an answer that failed counts as a million.
    double callMs()
    {
        std::lock_guard lock(mutex_);
        return median(call_);
    }
    double healthMs()
    {
        std::lock_guard lock(mutex_);
        return median(health_);
    }
    size_t samples()
    {
        std::lock_guard lock(mutex_);
        return std::min(call_.size(), health_.size());
    }
    /// Forgets what was measured so far (before the attack starts).
    void reset()
    {
        std::lock_guard lock(mutex_);
        call_.clear();
        health_.clear();
    }

private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<double> call_, health_;
    std::thread thread_;
};

} // namespace testsupport
