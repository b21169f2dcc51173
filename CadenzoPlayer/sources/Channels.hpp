#pragma once

#include <cstdint>
#include <span>

namespace cadenzo {

// True when some listed index names a channel of a format with `channelCount`
// channels. Lets a buffer maker tell "nothing to write" (a silent buffer is
// right) from "no storage" (the buffer is unusable).
inline bool listsValidChannel(std::span<const std::int64_t> channels, std::uint32_t channelCount) {
    for (std::int64_t c : channels) {
        if (c >= 0 && c < static_cast<std::int64_t>(channelCount)) return true;
    }
    return false;
}

} // namespace cadenzo
