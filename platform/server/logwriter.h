#pragma once
// The server's log lines written in batches by a thread of their own: a
// caller only appends its line to a buffer and goes on; the thread writes
// whatever has gathered at least every `interval` (at once when `batch`
// bytes wait) in one write. Lines keep the order in which they were added
// and are never cut. flush() and the destructor write out everything added
// before them, so a clean shutdown loses no line. When the output cannot
// keep up, callers wait once `limit` bytes are pending instead of letting
// the buffer grow without end.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace server {

/// The log's timestamp of an instant (milliseconds since 1970, UTC), as
/// "yyyy-MM-ddTHH:mm:ss.zzzZ" (the ISO form with milliseconds), made
/// without a QDateTime.
std::string logTimestamp(std::int64_t msSinceEpoch);

class LogWriter {
public:
    struct Options {
        std::chrono::milliseconds interval{50};
        std::size_t batch = 64u << 10;
        std::size_t limit = 4u << 20;
    };
    /// Writes to the file descriptor `fd` (not closed here).
    explicit LogWriter(int fd);
    LogWriter(int fd, Options options);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    /// Appends one line (the caller ends it with '\n').
    void add(std::string_view line);
    /// Returns once every line added before the call is written.
    void flush();
    /// Write calls made so far (for tests: lines are batched).
    std::uint64_t writes() const;

private:
    void loop();
    void output(const std::string& bytes);

    const int fd_;
    const Options opt_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;    ///< the writer: lines waiting, a flush asked, or stopping
    std::condition_variable written_; ///< callers: a batch went out
    std::string pending_;
    std::uint64_t added_ = 0; ///< bytes ever added
    std::uint64_t done_ = 0;  ///< bytes ever written (or given up on)
    std::uint64_t writes_ = 0;
    bool urgent_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace server
