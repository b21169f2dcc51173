#pragma once

#include "CadenzoPlayer/dispatch/DelayedTask.hpp"

#include <memory>

namespace cadenzo {

// Something that runs tasks on the main thread. Posting is thread-safe and
// never runs the task inline, even when called on the main thread.
class MainExecutor {
public:
    virtual ~MainExecutor() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(double delaySeconds, Task task) = 0;
};

// A main loop for console programs and tests: tasks run on whichever thread
// calls run(), in the order posted (delayed ones when due). Tasks still pending
// when the loop is destroyed are dropped.
class MainLoop final : public MainExecutor {
public:
    MainLoop();
    ~MainLoop() override;

    void post(Task task) override;
    void postAfter(double delaySeconds, Task task) override;

    // Runs tasks until quit() takes effect.
    void run();
    // Like run(), but gives up after `seconds`; returns whether quit() ended it.
    bool runFor(double seconds);
    // Callable from any thread, before or during run(): the loop stops once the
    // tasks posted before this call have run. Later tasks wait for the next run.
    void quit();

private:
    struct Core;
    std::unique_ptr<Core> core_;
};

namespace MainThread {

// Replaces the executor behind post/postAfter and returns the previous one;
// nullptr restores the default, `defaultLoop()`.
std::shared_ptr<MainExecutor> install(std::shared_ptr<MainExecutor> executor);

// The process-wide MainLoop in use until another executor is installed.
MainLoop& defaultLoop();

void post(Task task);
void postAfter(double delaySeconds, Task task);

} // namespace MainThread

} // namespace cadenzo
