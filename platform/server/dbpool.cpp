#include "dbpool.h"

#include <algorithm>

namespace server {

namespace {
thread_local const DbPool* tlsPool = nullptr; ///< the pool the thread works for
} // namespace

DbPool::DbPool(int size)
{
    for (int i = 0; i < std::max(size, 1); ++i)
        workers_.emplace_back([this] {
            tlsPool = this;
            for (;;) {
                std::packaged_task<void()> task;
                {
                    std::unique_lock lock(mutex_);
                    ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                    if (queue_.empty())
                        return;
                    task = std::move(queue_.front());
                    queue_.pop_front();
                }
                busy_.fetch_add(1, std::memory_order_relaxed);
                task();
                busy_.fetch_sub(1, std::memory_order_relaxed);
            }
        });
}

DbPool::~DbPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void DbPool::post(std::function<void()> work)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::packaged_task<void()>(std::move(work)));
    }
    ready_.notify_one();
}

int DbPool::waiting() const
{
    std::lock_guard lock(mutex_);
    return int(queue_.size());
}

bool DbPool::onWorker() const
{
    return tlsPool == this;
}

void DbPool::run(std::function<void()> work)
{
    if (onWorker())
        return work();
    std::packaged_task<void()> task(std::move(work));
    std::future<void> done = task.get_future();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
    }
    ready_.notify_one();
    done.get();
}

} // namespace server
