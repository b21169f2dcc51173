#include "CadenzoPlayer/dispatch/ManualClock.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace cadenzo {

// Time is kept in whole nanoseconds, as the steady clock keeps it, so that
// steps add up exactly: ten steps of 0.1 s reach a task due in 1 s.
struct ManualClock::State {
    struct Waiting {
        const void* owner;
        Task fire;
    };
    std::mutex mutex;
    std::int64_t now = 0;
    std::multimap<std::int64_t, Waiting> waiting;
};

namespace {

// Negative and NaN delays mean now; huge ones are capped as for real delays.
std::int64_t nanoseconds(double seconds) {
    constexpr double longest = 1e9;
    return seconds > 0 ? std::llround(std::min(seconds, longest) * 1e9) : 0;
}

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
    std::multimap<std::int64_t, State::Waiting> dropped;
    std::lock_guard lock(state_->mutex);
    dropped.swap(state_->waiting);
}

void ManualClock::advance(double seconds) {
    std::unique_lock lock(state_->mutex);
    const std::int64_t target = state_->now + nanoseconds(seconds);
    while (!state_->waiting.empty() && state_->waiting.begin()->first <= target) {
        auto due = state_->waiting.extract(state_->waiting.begin());
        state_->now = due.key();
        // A task handed on may post delayed tasks of its own.
        lock.unlock();
        due.mapped().fire();
        lock.lock();
    }
    state_->now = target;
}

double ManualClock::now() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<double>(state_->now) / 1e9;
}

bool detail::deferToManualClock(double delaySeconds, Task& fire, const void* owner) {
    const auto clock = activeClock();
    if (!clock) return false;
    std::lock_guard lock(clock->mutex);
    clock->waiting.emplace(clock->now + nanoseconds(delaySeconds), ManualClock::State::Waiting{owner, std::move(fire)});
    return true;
}

void detail::dropManualClockTasks(const void* owner) {
    const auto clock = activeClock();
    if (!clock) return;
    // Destroyed once the lock is released: what they hold may be a queue of its own.
    std::vector<Task> dropped;
    std::lock_guard lock(clock->mutex);
    for (auto it = clock->waiting.begin(); it != clock->waiting.end();) {
        if (it->second.owner != owner) {
            ++it;
            continue;
        }
        dropped.push_back(std::move(it->second.fire));
        it = clock->waiting.erase(it);
    }
}

} // namespace cadenzo
