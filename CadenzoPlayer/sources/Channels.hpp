#pragma once

#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace cadenzo {

// A new buffer whose frame length is its capacity, and the one array its
// listed channels share. `samples` is null when no listed index names a
// channel of the format: nothing to write, and a silent buffer is right.
struct RoutedBuffer {
    std::shared_ptr<PcmBuffer> buffer;
    float* samples = nullptr;
};

// Nothing when the storage cannot be had, so that a maker can tell an
// unusable buffer from a silent one.
inline std::optional<RoutedBuffer> makeRoutedBuffer(const AudioFormat& format, std::uint32_t frames,
                                                    std::span<const std::int64_t> channels) {
    RoutedBuffer routed{PcmBuffer::make(format, frames)};
    if (!routed.buffer) return std::nullopt;
    routed.buffer->setFrameLength(frames);
    for (std::int64_t c : channels) {
        if (c >= 0 && c < static_cast<std::int64_t>(format.channelCount) && frames > 0) {
            routed.samples = routed.buffer->writableSharedChannels(channels);
            if (!routed.samples) return std::nullopt;
            break;
        }
    }
    return routed;
}

} // namespace cadenzo
