#include "hashpool.h"

#include <algorithm>
#include <exception>
#include <future>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace server {

struct HashPool::Job {
    std::packaged_task<bool()> task;
};

HashPool::HashPool(int threads, int queue) : limit_(std::max(1, queue))
{
    for (int i = 0; i < std::max(1, threads); ++i)
        threads_.emplace_back([this] {
            // Linux: the nice value of one thread.
            setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 10);
            for (;;) {
                std::shared_ptr<Job> job;
                {
                    std::unique_lock lock(mutex_);
                    ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                    if (queue_.empty()) return;
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
    for (auto& t : threads_) t.join();
}

std::optional<bool> HashPool::run(std::function<bool()> check)
{
    auto job = std::make_shared<Job>();
    job->task = std::packaged_task<bool()>(std::move(check));
    std::future<bool> result = job->task.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || int(queue_.size()) >= limit_) return std::nullopt;
        queue_.push_back(std::move(job));
    }
    ready_.notify_one();
    return result.get();
}

} // namespace server
