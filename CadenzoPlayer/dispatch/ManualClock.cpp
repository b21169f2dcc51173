#include "CadenzoPlayer/dispatch/ManualClock.hpp"

#include <cassert>
#include <map>
#include <mutex>

namespace cadenzo {

struct ManualClock::State {
    std::mutex mutex;
    double now = 0;
    std::multimap<double, Task> waiting;
};

namespace {

std::mutex activeMutex;
std::shared_ptr<ManualClock::State> active;

std::shared_ptr<ManualClock::State> activeClock() {
    std::lock_guard lock(activeMutex);
    return active;
}

} // namespace

ManualClock::ManualClock() : state_(std::make_shared<State>()) {
    std::lock_guard lock(activeMutex);
    assert(!active);
    active = state_;
}

ManualClock::~ManualClock() {
    {
        std::lock_guard lock(activeMutex);
        active.reset();
    }
    std::multimap<double, Task> dropped;
    std::lock_guard lock(state_->mutex);
    dropped.swap(state_->waiting);
}

void ManualClock::advance(double seconds) {
    std::unique_lock lock(state_->mutex);
    const double target = state_->now + (seconds > 0 ? seconds : 0);
    while (!state_->waiting.empty() && state_->waiting.begin()->first <= target) {
        auto due = state_->waiting.extract(state_->waiting.begin());
        state_->now = due.key();
        // A task handed on may post delayed tasks of its own.
        lock.unlock();
        due.mapped()();
        lock.lock();
    }
    state_->now = target;
}

double ManualClock::now() const {
    std::lock_guard lock(state_->mutex);
    return state_->now;
}

bool detail::deferToManualClock(double delaySeconds, Task& fire) {
    const auto clock = activeClock();
    if (!clock) return false;
    std::lock_guard lock(clock->mutex);
    const double deadline = clock->now + (delaySeconds > 0 ? delaySeconds : 0);
    clock->waiting.emplace(deadline, std::move(fire));
    return true;
}

} // namespace cadenzo
