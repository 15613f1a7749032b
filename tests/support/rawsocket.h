#pragma once
// A plain TCP socket for tests that must misbehave on the wire (slow bytes,
// oversized or encoded bodies, many connections) against a loopback server.
// Every wait is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace testsupport {

/// Connects the TCP socket `fd` to 127.0.0.1:port from `source` (any
/// 127.x.y.z address is loopback); true when connected.
inline bool connectLoopback(int fd, int port, const char* source)
{
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
}

class RawSocket {
public:
    /// Connects to 127.0.0.1:port from `source` (any 127.x.y.z address is loopback).
    RawSocket(int port, const char* source = "127.0.0.1")
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        connected_ = connectLoopback(fd_, port, source);
    }
    ~RawSocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    RawSocket(RawSocket&& o) noexcept : fd_(o.fd_), connected_(o.connected_) { o.fd_ = -1; }

    bool connected() const { return connected_; }
    /// False once the peer has closed or reset the connection.
    bool send(const std::string& data)
    {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    /// Reads until the peer closes, `maxBytes` arrived, or `wait` passed.
    std::string readAll(std::chrono::milliseconds wait, size_t maxBytes = 1 << 20)
    {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + wait;
        char buf[16384];
        while (out.size() < maxBytes) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                break;
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closedByPeer_ = true;
                break;
            }
            out.append(buf, size_t(n));
        }
        return out;
    }
    /// True when the peer closed the connection within `wait`.
    bool closedWithin(std::chrono::milliseconds wait)
    {
        readAll(wait, size_t(64) << 20);
        return closedByPeer_;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closedByPeer_ = false;
};

/// Resident memory of this process, in bytes.
inline long residentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

} // namespace testsupport
