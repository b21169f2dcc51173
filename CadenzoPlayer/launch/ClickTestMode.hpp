#pragma once

#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/playback/Device.hpp"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string_view>
#include <vector>

namespace cadenzo {

// What the click test calls; the real device list and click-only player
// unless replaced.
struct ClickTestOperations {
    std::function<std::vector<CoreAudioDevices::Device>()> outputDevices;
    std::function<void(std::uint32_t deviceId, std::int64_t deviceChannelCount,
                       const std::vector<std::int64_t>& channels, std::int64_t requestedChannelCount,
                       std::int64_t beatsPerBar, std::int64_t countInBars,
                       const std::vector<std::int64_t>& sectionBars, double tempo)>
        playClickTrack;

    static ClickTestOperations system();
};

// Plays the click track alone on the first device whose name contains
// `deviceText`, reports on `out` and returns the exit status: 0 when it
// played to the end, 1 when no device matched or the player failed.
int clickTestStatus(std::string_view deviceText, const ClickTestSettings& settings, std::ostream& out,
                    const ClickTestOperations& operations = ClickTestOperations::system());

// The console mode: reads its settings, runs and ends the process.
[[noreturn]] void runClickTest(std::string_view deviceText);

} // namespace cadenzo
