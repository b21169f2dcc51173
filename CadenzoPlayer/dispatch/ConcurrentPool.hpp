#pragma once

#include "CadenzoPlayer/dispatch/DelayedTask.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace cadenzo {

// Threads for work that may block (a test tone, waiting for a player's queue)
// and for short delayed tasks. Every task that finds no idle thread gets a new
// one, up to `maxThreads`, so jobs that block while waiting for each other do
// not deadlock however few cores there are; beyond the cap tasks wait for a
// free thread. Threads idle for `idleSeconds` end.
//
// Destruction drops the tasks and delayed tasks that have not started and
// waits for the running ones. It must not happen on one of the pool's threads.
class ConcurrentPool {
public:
    explicit ConcurrentPool(std::string label, std::size_t maxThreads = 64, double idleSeconds = 10.0);
    ~ConcurrentPool();
    ConcurrentPool(const ConcurrentPool&) = delete;
    ConcurrentPool& operator=(const ConcurrentPool&) = delete;

    // The process-wide pool. It is never destroyed, so an exit never waits for
    // a job that is still blocked.
    static ConcurrentPool& shared();

    const std::string& label() const { return label_; }

    // Runs the task on a pool thread; tasks may run at the same time, in any order.
    void async(Task task);

    // Runs the task on a pool thread once `delaySeconds` from now have passed.
    DelayedTask after(double delaySeconds, Task task);

    // Threads alive now, busy or idle.
    std::size_t threadCount() const;

private:
    struct Timers;

    void work();

    const std::string label_;
    const std::size_t maxThreads_;
    const double idleSeconds_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::unordered_map<std::thread::id, std::thread> workers_;
    std::vector<std::thread> retired_;
    std::size_t idle_ = 0;
    bool stopping_ = false;

    std::shared_ptr<Timers> timers_;
};

} // namespace cadenzo
