#include "hashpool.h"

#include <algorithm>
#include <exception>
#include <future>

namespace server {

struct HashPool::Job {
    std::packaged_task<bool()> task;
};

HashPool::HashPool(int threads, int queue) : limit_(std::max(1, threads) + std::max(0, queue))
{
    for (int i = 0; i < std::max(1, threads); ++i)
        threads_.emplace_back([this] {
            for (;;) {
                std::shared_ptr<Job> job;
                {
                    std::unique_lock lock(mutex_);
                    ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                    if (queue_.empty())
                        return;
                    job = std::move(queue_.front());
                    queue_.pop_front();
                }
                job->task();
            }
        });
}

HashPool::~HashPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_)
        t.join();
}

HashPool::Place::~Place()
{
    if (!pool_)
        return;
    std::lock_guard lock(pool_->mutex_);
    --pool_->taken_;
}

std::optional<HashPool::Place> HashPool::reserve()
{
    std::lock_guard lock(mutex_);
    if (stopping_ || taken_ >= limit_)
        return std::nullopt;
    ++taken_;
    return Place(this);
}

bool HashPool::run(const Place&, std::function<bool()> check)
{
    auto job = std::make_shared<Job>();
    job->task = std::packaged_task<bool()>(std::move(check));
    std::future<bool> result = job->task.get_future();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    ready_.notify_one();
    return result.get();
}

} // namespace server
