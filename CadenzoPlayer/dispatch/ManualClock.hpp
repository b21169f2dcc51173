#pragma once

#include "CadenzoPlayer/dispatch/DelayedTask.hpp"

#include <memory>

namespace cadenzo {

// While one lives, delayed tasks wait for it instead of the steady clock, so
// tests move time on rather than sleep. One at a time; tasks still waiting when
// it goes are dropped, never run.
class ManualClock {
public:
    ManualClock();
    ~ManualClock();
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Moves time on by `seconds` and hands every task that falls due to its
    // queue, earliest first (posting order among equal deadlines). The tasks
    // run on their queues afterwards; wait for them there.
    void advance(double seconds);

    // Seconds moved on since this clock was made.
    double now() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

namespace detail {

// With a manual clock in place, keeps `fire` until that clock reaches the
// delay and returns true; otherwise returns false and keeps nothing.
bool deferToManualClock(double delaySeconds, Task& fire, const void* owner);

// Drops, unrun, what `owner` left waiting for the manual clock: a queue's
// delayed tasks, and what they hold, go with the queue.
void dropManualClockTasks(const void* owner);

} // namespace detail

} // namespace cadenzo
