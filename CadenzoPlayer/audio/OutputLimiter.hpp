#pragma once

#include <cstdint>
#include <vector>

namespace cadenzo {

// The last stage of a device's output: keeps every sample below full scale
// whatever the engines sum to (click and cues on one in-ear channel reach
// 1.4). The gain drops at once to what the loudest sample allows and recovers
// over tens of milliseconds, so a peak is turned down rather than flattened.
// Samples that are not finite are silenced. Real-time safe: all state is made
// at construction.
class OutputLimiter {
public:
    static constexpr float ceiling = 0.98f;
    static constexpr double releaseSeconds = 0.05;

    OutputLimiter(std::uint32_t channelCount, double sampleRate);

    // Channels beyond those it was made for pass unchanged.
    void process(float* const* channels, std::uint32_t channelCount, std::uint32_t frames) noexcept;

private:
    std::vector<float> gains_;
    float release_;
};

} // namespace cadenzo
