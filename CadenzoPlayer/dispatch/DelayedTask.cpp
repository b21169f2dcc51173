#include "CadenzoPlayer/dispatch/DelayedTask.hpp"

#include <pthread.h>

#include <thread>

namespace cadenzo::detail {

std::chrono::steady_clock::time_point deadlineAfter(double delaySeconds) {
    // About 31 years; beyond it the nanosecond steady clock could overflow.
    constexpr double longestDelay = 1e9;
    const auto now = std::chrono::steady_clock::now();
    if (!(delaySeconds > 0)) return now;
    if (delaySeconds > longestDelay) delaySeconds = longestDelay;
    return now + std::chrono::ceil<std::chrono::steady_clock::duration>(std::chrono::duration<double>(delaySeconds));
}

} // namespace cadenzo::detail

namespace cadenzo {

void sleepSeconds(double seconds) {
    std::this_thread::sleep_until(detail::deadlineAfter(seconds));
}

} // namespace cadenzo

namespace cadenzo::detail {

void nameCurrentThread(std::string_view label) {
    constexpr std::size_t longestName = 15;
    std::string_view name = label;
    while (name.size() > longestName) {
        const auto dot = name.find('.');
        if (dot == std::string_view::npos) {
            name = name.substr(0, longestName);
            break;
        }
        name.remove_prefix(dot + 1);
    }
    if (name.empty()) return;
    pthread_setname_np(pthread_self(), std::string(name).c_str());
}

} // namespace cadenzo::detail
