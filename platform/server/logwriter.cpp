#include "logwriter.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace server {

std::string logTimestamp(std::int64_t msSinceEpoch)
{
    std::int64_t secs = msSinceEpoch / 1000, ms = msSinceEpoch % 1000;
    if (ms < 0) {
        ms += 1000;
        --secs;
    }
    const std::time_t t = std::time_t(secs);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char out[80]; // room for any int the format could be given, so nothing is cut
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, int(ms));
    return out;
}

LogWriter::LogWriter(int fd) : LogWriter(fd, Options{}) { }

LogWriter::LogWriter(int fd, Options options) : fd_(fd), opt_(options)
{
    thread_ = std::thread([this] { loop(); });
}

LogWriter::~LogWriter()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join(); // the loop writes what is left before it ends
}

void LogWriter::add(std::string_view line)
{
    std::unique_lock lock(mutex_);
    written_.wait(lock, [&] { return pending_.size() < opt_.limit || stopping_; });
    pending_.append(line);
    added_ += line.size();
    if (pending_.size() >= opt_.batch) {
        urgent_ = true;
        wake_.notify_one();
    }
}

void LogWriter::flush()
{
    std::unique_lock lock(mutex_);
    const std::uint64_t target = added_;
    if (done_ >= target)
        return;
    urgent_ = true;
    wake_.notify_one();
    written_.wait(lock, [&] { return done_ >= target; });
}

std::uint64_t LogWriter::writes() const
{
    std::lock_guard lock(mutex_);
    return writes_;
}

void LogWriter::loop()
{
    std::string batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, opt_.interval, [&] { return urgent_ || stopping_; });
        urgent_ = false;
        if (!pending_.empty()) {
            batch.swap(pending_);
            lock.unlock();
            output(batch);
            lock.lock();
            done_ += batch.size();
            ++writes_;
            batch.clear();
            written_.notify_all();
        }
        if (stopping_ && pending_.empty())
            return;
    }
}

// The whole batch, across short writes and interruptions; a failing output
// (a closed pipe, a full disk) drops the batch rather than stopping the server.
void LogWriter::output(const std::string& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + off, bytes.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        off += std::size_t(n);
    }
}

} // namespace server
