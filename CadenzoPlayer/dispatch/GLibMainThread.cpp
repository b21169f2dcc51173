#include "CadenzoPlayer/dispatch/GLibMainThread.hpp"

#include <glib.h>

#include <cmath>

namespace cadenzo {

namespace {

gboolean runOnce(gpointer data) {
    (*static_cast<Task*>(data))();
    return G_SOURCE_REMOVE;
}

void destroyTask(gpointer data) {
    delete static_cast<Task*>(data);
}

// An idle or timeout source rather than g_main_context_invoke, which would run
// the task inline when called on the main thread.
void attach(GSource* source, GMainContext* context, Task task) {
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runOnce, new Task(std::move(task)), destroyTask);
    g_source_attach(source, context);
    g_source_unref(source);
}

} // namespace

GLibMainThread::GLibMainThread(GMainContext* context)
    : context_(context ? g_main_context_ref(context) : nullptr) {}

GLibMainThread::~GLibMainThread() {
    if (context_) g_main_context_unref(context_);
}

void GLibMainThread::post(Task task) {
    if (task) attach(g_idle_source_new(), context_, std::move(task));
}

void GLibMainThread::postAfter(double delaySeconds, Task task) {
    if (!task) return;
    // Whole milliseconds, rounded up so the task never runs early.
    constexpr double longestDelayMs = G_MAXUINT;
    double milliseconds = delaySeconds > 0 ? std::ceil(delaySeconds * 1000.0) : 0.0;
    if (milliseconds > longestDelayMs) milliseconds = longestDelayMs;
    attach(g_timeout_source_new(static_cast<guint>(milliseconds)), context_, std::move(task));
}

} // namespace cadenzo
