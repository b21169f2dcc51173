#pragma once

#include "CadenzoPlayer/dispatch/DelayedTask.hpp"

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>

namespace cadenzo {

// A queue with a thread of its own that runs its tasks one at a time: immediate
// tasks in the order they were posted, delayed tasks once their deadline has
// passed, in deadline order.
//
// Destruction waits for the task running at that moment, drops every task that
// has not started (immediate or delayed; their callables are destroyed, never
// run) and joins the thread. A queue may be destroyed by one of its own tasks
// (say, a task holding the last reference to the queue's owner): then the
// thread is left to finish that task and ends by itself.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const;

    // True on the queue's thread while it runs one of the queue's tasks.
    bool isCurrent() const;

    // Posts a task and returns at once.
    void async(Task task);

    // Posts a task due `delaySeconds` after this call; the deadline is taken
    // now, not when the queue gets round to it.
    DelayedTask after(double delaySeconds, Task task);

    // Runs `f` on the queue, waits for it and returns its value or rethrows its
    // exception. Called from the queue's own thread it runs `f` inline, since
    // waiting for the queue there could never end.
    template <class F>
    auto sync(F&& f) -> std::invoke_result_t<F&> {
        using Result = std::invoke_result_t<F&>;
        if (isCurrent()) return f();
        auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(f));
        auto result = task->get_future();
        async([task] { (*task)(); });
        return result.get();
    }

private:
    struct Core;
    std::shared_ptr<Core> core_;
    std::thread thread_;
};

} // namespace cadenzo
