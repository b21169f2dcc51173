#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"

#include "CadenzoPlayer/dispatch/ManualClock.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <cassert>
#include <system_error>

namespace cadenzo {

// Deadlines are watched by one thread that only hands due tasks to the
// workers, so a delayed task that blocks holds up no other.
struct ConcurrentPool::Timers {
    explicit Timers(ConcurrentPool& owner) : pool(owner) {}

    ConcurrentPool& pool;
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(context);
    std::thread thread;
};

ConcurrentPool::ConcurrentPool(std::string label, std::size_t maxThreads, double idleSeconds)
    : label_(std::move(label)), maxThreads_(std::max<std::size_t>(maxThreads, 1)),
      idleSeconds_(idleSeconds > 0 ? idleSeconds : 0), timers_(std::make_shared<Timers>(*this)) {
    timers_->thread = std::thread([this] {
        detail::nameCurrentThread(label_ + ".timer");
        timers_->context.run();
    });
}

ConcurrentPool::~ConcurrentPool() {
    detail::dropManualClockTasks(timers_.get());
    timers_->work.reset();
    timers_->context.stop();
    assert(timers_->thread.get_id() != std::this_thread::get_id());
    timers_->thread.join();

    std::deque<Task> dropped;
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        assert(!workers_.contains(std::this_thread::get_id()));
        stopping_ = true;
        dropped.swap(tasks_);
        for (auto& [id, thread] : workers_) threads.push_back(std::move(thread));
        workers_.clear();
        for (auto& thread : retired_) threads.push_back(std::move(thread));
        retired_.clear();
    }
    wake_.notify_all();
    for (auto& thread : threads) thread.join();
}

ConcurrentPool& ConcurrentPool::shared() {
    static ConcurrentPool* const pool = new ConcurrentPool(std::string(applicationIdentifier) + ".pool");
    return *pool;
}

void ConcurrentPool::async(Task task) {
    if (!task) return;
    std::vector<std::thread> finished;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        tasks_.push_back(std::move(task));
        // Idle threads that have not woken yet are already spoken for by the
        // tasks ahead of this one.
        if (tasks_.size() > idle_ && workers_.size() < maxThreads_) {
            try {
                std::thread thread([this] { work(); });
                workers_.emplace(thread.get_id(), std::move(thread));
            } catch (const std::system_error&) {
                // Without a new thread the task waits for a busy one; with no
                // thread at all it could never run.
                if (workers_.empty()) {
                    tasks_.pop_back();
                    throw;
                }
            }
        }
        finished.swap(retired_);
    }
    wake_.notify_one();
    for (auto& thread : finished) thread.join();
}

DelayedTask ConcurrentPool::after(double delaySeconds, Task task) {
    auto pending = std::make_shared<detail::PendingTask>(std::move(task));
    // Due tasks pass through the timer thread either way, which the destructor stops first.
    Task fire = [timers = std::weak_ptr<Timers>(timers_), pending] {
        if (auto strong = timers.lock())
            asio::post(strong->context, [&pool = strong->pool, pending] {
                if (Task due = pending->take()) pool.async(std::move(due));
            });
    };
    if (detail::deferToManualClock(delaySeconds, fire, timers_.get())) return DelayedTask(std::move(pending));
    const auto deadline = detail::deadlineAfter(delaySeconds);
    asio::io_context& context = timers_->context;
    asio::post(context, [this, &context, deadline, pending] {
        auto timer = std::make_shared<asio::steady_timer>(context, deadline);
        timer->async_wait([this, timer, pending](const std::error_code& error) {
            if (error) return;
            if (Task due = pending->take()) async(std::move(due));
        });
    });
    return DelayedTask(std::move(pending));
}

std::size_t ConcurrentPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return workers_.size();
}

void ConcurrentPool::work() {
    detail::nameCurrentThread(label_);
    const auto idleLimit = std::chrono::duration<double>(idleSeconds_);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopping_) return;
        if (!tasks_.empty()) {
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            continue;
        }
        ++idle_;
        const bool woken = wake_.wait_for(lock, idleLimit, [this] { return stopping_ || !tasks_.empty(); });
        --idle_;
        if (!woken) {
            // Retire: whoever posts next, or the destructor, joins this thread.
            auto self = workers_.find(std::this_thread::get_id());
            retired_.push_back(std::move(self->second));
            workers_.erase(self);
            return;
        }
    }
}

} // namespace cadenzo
