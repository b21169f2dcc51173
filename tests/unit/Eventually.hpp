#pragma once

#include <chrono>
#include <thread>

// Polls, a millisecond at a time, for what another thread does; false when it has not happened within ten
// seconds, which only a broken implementation takes.
template <class Condition>
bool eventually(Condition condition) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!condition() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}
