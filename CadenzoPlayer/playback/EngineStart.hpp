#pragma once

#include "CadenzoPlayer/audio/AudioEngine.hpp"

#include <cstdint>
#include <ostream>
#include <string_view>
#include <string>
#include <vector>

namespace cadenzo {

// Codes every player shares for an engine that cannot be pointed at its device.
enum class EngineStartError : int {
    noDeviceLayer = 1,     // "No underlying AudioUnit"
    deviceNotSelected = 2, // <selectFailed><status>
    noChannels = 3,        // <layoutFailed><n>-channel layout
};

// How one player words those errors; the wording is what its users already see.
struct EngineStartWording {
    std::string domain;
    std::string selectFailed;  // followed by the selection status
    std::string layoutFailed;  // followed by "<n>-channel layout"
};

// Points `engine` at the device with an output of min(deviceChannelCount,
// requestedChannelCount) channels at the engine rate, attaches `nodes` and
// starts it. Returns the output format. Throws cadenzo::Error in the caller's
// domain (EngineStartError), or the engine's own start error unchanged.
AudioFormat startEngine(AudioEngine& engine, std::uint32_t deviceId, std::int64_t deviceChannelCount,
                        std::int64_t requestedChannelCount, const std::vector<AudioPlayerNodePtr>& nodes,
                        const EngineStartWording& wording);

// One warning line on `out` for each listed channel that the output of
// `channelCount` channels does not have: its `source` plays nowhere there.
void warnUnplayedChannels(std::ostream& out, std::string_view source, const std::vector<std::int64_t>& channels,
                          std::uint32_t channelCount);

} // namespace cadenzo
