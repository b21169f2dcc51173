#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

namespace cadenzo {

// Labels of queues and threads start with this.
inline constexpr std::string_view applicationIdentifier = "org.cadenzo.CadenzoPlayer";

// A unit of work for a queue. Tasks posted with async or after must not throw:
// an escaping exception ends the process, as on any other thread.
using Task = std::function<void()>;

namespace detail {

// The callable of a delayed task. It is taken out exactly once, either by the
// timer that fires or by cancel(), so a task that was cancelled never starts
// and one that started can no longer be cancelled.
class PendingTask {
public:
    explicit PendingTask(Task task) : task_(std::move(task)) {}

    Task take() {
        Task taken;
        std::lock_guard lock(mutex_);
        taken.swap(task_);
        return taken;
    }

private:
    std::mutex mutex_;
    Task task_;
};

// The steady-clock moment `delaySeconds` from now, never earlier. A delay that
// is negative or NaN means now; huge delays are capped so the clock cannot overflow.
std::chrono::steady_clock::time_point deadlineAfter(double delaySeconds);

} // namespace detail

// Blocks the calling thread for that long: a negative or NaN time is no wait,
// and a huge one is capped as delays are, never wrapped round to none.
void sleepSeconds(double seconds);

namespace detail {

// Gives the calling thread the last dot-separated parts of `label` that fit the
// system's 15-character limit ("...player.songplayer" becomes "songplayer").
void nameCurrentThread(std::string_view label);

} // namespace detail

// Handle on a task posted with `after`. Copies share the task.
class DelayedTask {
public:
    DelayedTask() = default;
    explicit DelayedTask(std::shared_ptr<detail::PendingTask> pending) : pending_(std::move(pending)) {}

    // Keeps the task from running if it has not started and releases what it
    // captured right away, on the calling thread. Returns whether this call
    // prevented the run; cancelling a task that ran, is running or was
    // already cancelled does nothing.
    bool cancel() { return pending_ && static_cast<bool>(pending_->take()); }

private:
    std::shared_ptr<detail::PendingTask> pending_;
};

// Posts `action(target)` on `queue` (a SerialQueue or ConcurrentPool) after the
// delay, holding the target weakly: if it is gone by then, nothing happens.
// While the action runs the task holds the target strongly, so when the last
// other owner lets go meanwhile the target is destroyed on the queue's thread.
template <class Queue, class T, class Action>
DelayedTask afterWeak(Queue& queue, double delaySeconds, std::weak_ptr<T> target, Action action) {
    return queue.after(delaySeconds, [target = std::move(target), action = std::move(action)]() mutable {
        if (auto strong = target.lock()) action(*strong);
    });
}

} // namespace cadenzo
