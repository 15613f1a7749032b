#include "callguard.h"

namespace core {

CallDeadline::CallDeadline(std::chrono::milliseconds limit, std::function<void()> onExpire)
{
    watcher_ = std::thread([this, limit, onExpire = std::move(onExpire)] {
        std::unique_lock lock(mutex_);
        if (cv_.wait_for(lock, limit, [this] { return done_; }))
            return;
        expired_ = true;
        lock.unlock();
        onExpire();
    });
}

CallDeadline::~CallDeadline()
{
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    cv_.notify_all();
    watcher_.join();
}

bool CallDeadline::expired() const
{
    std::lock_guard lock(mutex_);
    return expired_;
}

void BoundedAnswer::attach(httplib::Request& req)
{
    req.response_handler = [this](const httplib::Response& r) {
        const std::string enc = r.get_header_value("Content-Encoding");
        if (!enc.empty() && enc != "identity") {
            encoded = true;
            return false;
        }
        const std::string len = r.get_header_value("Content-Length");
        if (!len.empty()) {
            char* end = nullptr;
            const unsigned long long n = std::strtoull(len.c_str(), &end, 10);
            if (n > cap) {
                tooBig = true;
                return false;
            }
            if (!sink)
                body.reserve(std::size_t(n));
        }
        return true;
    };
    req.content_receiver = [this](const char* data, std::size_t n, std::uint64_t, std::uint64_t) {
        if (received + n > cap) {
            tooBig = true;
            return false;
        }
        received += n;
        if (sink) {
            refused = !sink(data, n);
            return !refused;
        }
        body.append(data, n);
        return true;
    };
}

} // namespace core
