#pragma once
// Password checks on threads of their own, apart from the database workers:
// a flood of log-ins then waits here, never holding a database connection or
// a worker that calls and health checks need. At most `threads` checks run at
// once (each Argon2id check takes 64 MiB and about 80 ms of a core, so two is
// what the memory and the cores afford) and at most `queue` wait; a check
// beyond that is refused at once, and the caller answers 503. The threads run
// at a lower scheduling priority than the rest of the process, so that calls
// keep the cores first while a flood of log-ins is checked.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace server {

class HashPool {
public:
    HashPool(int threads, int queue);
    ~HashPool();
    HashPool(const HashPool&) = delete;
    HashPool& operator=(const HashPool&) = delete;

    /// Runs `check` on a pool thread and returns its result; nothing when
    /// the queue is full (the check did not run). Rethrows what it throws.
    std::optional<bool> run(std::function<bool()> check);
    int queueLimit() const { return limit_; }

private:
    struct Job;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<Job>> queue_;
    const int limit_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace server
