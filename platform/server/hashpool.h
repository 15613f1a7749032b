#pragma once
// Password checks on threads of their own, apart from the database workers:
// a flood of log-ins then waits here, never holding a database connection or
// a worker that calls and health checks need. At most `threads` checks run at
// once (each Argon2id check takes 64 MiB and about 80 ms of a core, so two is
// what the memory and the cores afford) and at most `queue` wait; a check
// beyond that is refused at once, and the caller answers 503. (The threads
// keep the process's priority: at a lower one, a flood of cheap refusals
// starved the checks, and an honest log-in waited seconds in the queue.)

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace server {

class HashPool {
public:
    HashPool(int threads, int queue);
    ~HashPool();
    HashPool(const HashPool&) = delete;
    HashPool& operator=(const HashPool&) = delete;

    /// A place among the checks running or waiting, taken before the caller
    /// does anything else for its log-in, so that a refusal costs nothing.
    class Place {
    public:
        explicit Place(HashPool* pool) : pool_(pool) { }
        Place(Place&& o) noexcept : pool_(std::exchange(o.pool_, nullptr)) { }
        Place& operator=(Place&&) = delete;
        ~Place();

    private:
        friend class HashPool;
        HashPool* pool_;
    };
    /// A place, or nothing when `threads` checks run and `queue` wait.
    std::optional<Place> reserve();
    /// Runs `check` on a pool thread, in the order of arrival, and returns
    /// its result. Rethrows what it throws.
    bool run(const Place& place, std::function<bool()> check);

private:
    struct Job;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<Job>> queue_;
    const int limit_; ///< places: checks running and waiting
    int taken_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace server
