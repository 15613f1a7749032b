#pragma once
// The database side of a server process: a fixed number of worker threads,
// each owning one connection (QtSql connections belong to the thread that
// opened them). The HTTP threads, however many keep-alive connections they
// serve, hand every call to these workers, so one process never holds more
// than `size` connections to the database; calls beyond that wait their turn
// in arrival order.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace server {

class DbPool {
public:
    explicit DbPool(int size);
    /// Finishes the queued work, then ends the workers (their connections close with them).
    ~DbPool();
    DbPool(const DbPool&) = delete;
    DbPool& operator=(const DbPool&) = delete;

    int size() const { return int(workers_.size()); }
    /// Workers running a task now, and tasks queued for a worker (for the metrics).
    int busy() const { return busy_.load(std::memory_order_relaxed); }
    int waiting() const;
    /// Runs `work` on a worker and returns when it ends; its exception, if
    /// any, is rethrown here. Called on a worker of this pool, it runs `work`
    /// at once on that worker (a worker never waits for its own pool).
    void run(std::function<void()> work);
    /// Whether the calling thread is one of this pool's workers.
    bool onWorker() const;
    /// Queues `work` for a worker and returns at once; `work` must catch
    /// its own exceptions.
    void post(std::function<void()> work);

private:
    mutable std::mutex mutex_;
    std::atomic<int> busy_{0};
    std::condition_variable ready_;
    std::deque<std::packaged_task<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace server
