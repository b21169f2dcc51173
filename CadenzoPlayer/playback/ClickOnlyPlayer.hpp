#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

namespace cadenzo {

// The longest click track the player schedules: beyond it a mistyped bar count
// or tempo would hold the caller for hours or fill memory with events.
inline constexpr std::int64_t maxClickEvents = 1'000'000;
inline constexpr double maxClickTrackSeconds = 3600.0;

// Errors of the click-only player, domain "ClickTrack"; 1 to 3 are the
// EngineStartError codes.
enum class ClickTrackError : int {
    unplayable = 4,       // tempo or length refused before anything is built
    noClickBuffers = 5,   // "Couldn't allocate click buffers"
    deviceLost = 6,       // the device went away while the clicks played
};

// Plays a metronome alone on `channels` (0-based) of a device through a
// private engine with an output of min(deviceChannelCount,
// requestedChannelCount) channels at the engine rate, and returns once the
// device has played the last click and its ring-out (total + 0.3 s). Prints
// "Built <n> click events, <total>s total." before touching the device.
// Throws cadenzo::Error, domain "ClickTrack":
//   1 "No underlying AudioUnit"              no device layer to select with
//   2 "Couldn't select device: <s>"          the device could not be selected
//   3 "Couldn't build <n>-channel layout"    n not within 1 to 65535
//   4 a tempo that is not positive and finite, or a track beyond the limits
//     above; nothing is built or printed
//   5 "Couldn't allocate click buffers"
//   6 lostDeviceText: the device or its server went away while playing
// and passes on the engine's own start error unchanged. No engine is left
// running when it returns or throws.
void playClickTrack(std::uint32_t deviceId, std::int64_t deviceChannelCount, const std::vector<std::int64_t>& channels,
                    std::int64_t requestedChannelCount, std::int64_t beatsPerBar, std::int64_t countInBars,
                    const std::vector<std::int64_t>& sectionBars, double tempo);

// The same, printing on `out` and waiting through `wait` instead of sleeping.
void playClickTrack(std::uint32_t deviceId, std::int64_t deviceChannelCount, const std::vector<std::int64_t>& channels,
                    std::int64_t requestedChannelCount, std::int64_t beatsPerBar, std::int64_t countInBars,
                    const std::vector<std::int64_t>& sectionBars, double tempo, std::ostream& out,
                    const std::function<void(double seconds)>& wait);

} // namespace cadenzo
