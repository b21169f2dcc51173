#include "CadenzoPlayer/dispatch/SerialQueue.hpp"

#include "CadenzoPlayer/dispatch/ManualClock.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

namespace cadenzo {

// Shared by the queue and its thread, so that a thread left to finish after its
// queue was destroyed still has a context to return from.
struct SerialQueue::Core {
    explicit Core(std::string name) : label(std::move(name)) {}

    std::string label;
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(context);
};

SerialQueue::SerialQueue(std::string label) : core_(std::make_shared<Core>(std::move(label))) {
    thread_ = std::thread([core = core_] {
        detail::nameCurrentThread(core->label);
        core->context.run();
    });
}

SerialQueue::~SerialQueue() {
    detail::dropManualClockTasks(core_.get());
    core_->work.reset();
    core_->context.stop();
    if (isCurrent()) {
        thread_.detach();
        return;
    }
    thread_.join();
    // The thread's reference is gone, so unstarted tasks are destroyed here.
    core_.reset();
}

const std::string& SerialQueue::label() const {
    return core_->label;
}

bool SerialQueue::isCurrent() const {
    return core_->context.get_executor().running_in_this_thread();
}

void SerialQueue::async(Task task) {
    if (task) asio::post(core_->context, std::move(task));
}

DelayedTask SerialQueue::after(double delaySeconds, Task task) {
    auto pending = std::make_shared<detail::PendingTask>(std::move(task));
    Task fire = [core = std::weak_ptr<Core>(core_), pending] {
        if (auto strong = core.lock())
            asio::post(strong->context, [pending] {
                if (Task due = pending->take()) due();
            });
    };
    if (detail::deferToManualClock(delaySeconds, fire, core_.get())) return DelayedTask(std::move(pending));
    const auto deadline = detail::deadlineAfter(delaySeconds);
    // The timer is made on the queue's thread, which alone touches it.
    asio::io_context& context = core_->context;
    asio::post(context, [&context, deadline, pending] {
        auto timer = std::make_shared<asio::steady_timer>(context, deadline);
        timer->async_wait([timer, pending](const std::error_code& error) {
            if (error) return;
            if (Task due = pending->take()) due();
        });
    });
    return DelayedTask(std::move(pending));
}

} // namespace cadenzo
