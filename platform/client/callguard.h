#pragma once
// Bounds on one HTTP call of the client, kept apart from the transport so
// that any reading path can use them:
// - CallDeadline runs a callback (closing the socket) once a call outlives
//   its overall deadline, however slowly the server trickles bytes;
// - BoundedAnswer reads an answer body up to a cap and refuses encoded
//   (compressed) answers before any byte is inflated.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace core {

class CallDeadline {
public:
    CallDeadline(std::chrono::milliseconds limit, std::function<void()> onExpire);
    ~CallDeadline();
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;
    bool expired() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    bool expired_ = false;
    std::thread watcher_;
};

struct BoundedAnswer {
    explicit BoundedAnswer(std::size_t cap) : cap(cap) { }
    std::size_t cap;
    std::string body;
    std::size_t received = 0; ///< body bytes read, counted against the cap
    bool tooBig = false;      ///< announced or sent past the cap: the read stopped there
    bool encoded = false;     ///< a Content-Encoding other than identity: not read at all
    /// When set, each piece of the body goes here as it arrives instead of
    /// into `body`; false stops the reading (`refused` is then set).
    std::function<bool(const char* data, std::size_t n)> sink;
    bool refused = false;
    /// Installs the checks on a request (response handler and content receiver).
    void attach(httplib::Request& req);
};

} // namespace core
