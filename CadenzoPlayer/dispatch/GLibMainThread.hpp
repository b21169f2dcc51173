#pragma once

#include "CadenzoPlayer/dispatch/MainThread.hpp"

typedef struct _GMainContext GMainContext;

namespace cadenzo {

// Main-thread posting through a GLib main context (the GTK main loop in the
// web host): tasks become sources dispatched by whichever thread iterates the
// context, at default priority, in the order posted.
class GLibMainThread final : public MainExecutor {
public:
    // nullptr means the global default context.
    explicit GLibMainThread(GMainContext* context = nullptr);
    ~GLibMainThread() override;
    GLibMainThread(const GLibMainThread&) = delete;
    GLibMainThread& operator=(const GLibMainThread&) = delete;

    void post(Task task) override;
    void postAfter(double delaySeconds, Task task) override;

private:
    GMainContext* context_;
};

} // namespace cadenzo
