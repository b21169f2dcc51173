#include "CadenzoPlayer/playback/EngineStart.hpp"

#include "CadenzoPlayer/Error.hpp"

#include <algorithm>

namespace cadenzo {

AudioFormat startEngine(AudioEngine& engine, std::uint32_t deviceId, std::int64_t deviceChannelCount,
                        std::int64_t requestedChannelCount, const std::vector<AudioPlayerNodePtr>& nodes,
                        const EngineStartWording& wording) {
    if (!engine.hasDeviceLayer()) {
        throw Error(wording.domain, EngineStartError::noDeviceLayer, "No underlying AudioUnit");
    }
    if (const int status = engine.selectDevice(deviceId); status != AudioEngine::statusOk) {
        throw Error(wording.domain, EngineStartError::deviceNotSelected,
                    wording.selectFailed + std::to_string(status));
    }
    const std::int64_t channelCount = std::min(deviceChannelCount, requestedChannelCount);
    if (!isValidChannelCount(channelCount)) {
        throw Error(wording.domain, EngineStartError::noChannels,
                    wording.layoutFailed + std::to_string(channelCount) + "-channel layout");
    }
    const AudioFormat format{engineSampleRate, static_cast<std::uint32_t>(channelCount)};
    engine.setFormat(format);
    for (const auto& node : nodes) engine.attach(node);
    engine.start();
    return format;
}

void warnUnplayedChannels(std::ostream& out, std::string_view source, const std::vector<std::int64_t>& channels,
                          std::uint32_t channelCount) {
    for (const std::int64_t channel : channels) {
        if (channel >= 0 && channel < static_cast<std::int64_t>(channelCount)) continue;
        out << "Warning: " << source << " on channel index " << channel << " (channel " << channel + 1
            << ") is outside the " << channelCount << "-channel output; it plays nowhere.\n";
    }
    out << std::flush;
}

} // namespace cadenzo
