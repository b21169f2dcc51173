#include "CadenzoPlayer/dispatch/MainThread.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <mutex>

namespace cadenzo {

struct MainLoop::Core {
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(context);
};

MainLoop::MainLoop() : core_(std::make_unique<Core>()) {}

MainLoop::~MainLoop() = default;

void MainLoop::post(Task task) {
    if (task) asio::post(core_->context, std::move(task));
}

void MainLoop::postAfter(double delaySeconds, Task task) {
    if (!task) return;
    const auto deadline = detail::deadlineAfter(delaySeconds);
    asio::io_context& context = core_->context;
    asio::post(context, [&context, deadline, task = std::move(task)] {
        auto timer = std::make_shared<asio::steady_timer>(context, deadline);
        timer->async_wait([timer, task](const std::error_code& error) {
            if (!error) task();
        });
    });
}

void MainLoop::run() {
    core_->context.restart();
    core_->context.run();
}

bool MainLoop::runFor(double seconds) {
    core_->context.restart();
    core_->context.run_until(detail::deadlineAfter(seconds));
    return core_->context.stopped();
}

void MainLoop::quit() {
    // A stop posted as a task rather than stop() at once: a quit that comes
    // before run() has started must still end that run.
    asio::io_context& context = core_->context;
    asio::post(context, [&context] { context.stop(); });
}

namespace MainThread {

namespace {

struct Installed {
    std::mutex mutex;
    std::shared_ptr<MainLoop> defaultLoop = std::make_shared<MainLoop>();
    std::shared_ptr<MainExecutor> current = defaultLoop;
};

Installed& installed() {
    // Never destroyed: pool threads may still post while the process exits.
    static Installed* const state = new Installed;
    return *state;
}

std::shared_ptr<MainExecutor> current() {
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    return state.current;
}

} // namespace

std::shared_ptr<MainExecutor> install(std::shared_ptr<MainExecutor> executor) {
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    if (!executor) executor = state.defaultLoop;
    executor.swap(state.current);
    return executor;
}

MainLoop& defaultLoop() {
    return *installed().defaultLoop;
}

void post(Task task) {
    current()->post(std::move(task));
}

void postAfter(double delaySeconds, Task task) {
    current()->postAfter(delaySeconds, std::move(task));
}

} // namespace MainThread

} // namespace cadenzo
