#include "CadenzoPlayer/audio/OutputLimiter.hpp"

#include <algorithm>
#include <cmath>

namespace cadenzo {

namespace {

// Close enough to unity to stop recovering and take the fast path again.
constexpr float recovered = 0.9999f;

// Whether a block at unity gain can pass untouched: no sample above the
// ceiling and none that is not finite.
bool passesUntouched(const float* samples, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < frames; ++i) {
        if (!(std::fabs(samples[i]) <= OutputLimiter::ceiling)) return false;
    }
    return true;
}

} // namespace

OutputLimiter::OutputLimiter(std::uint32_t channelCount, double sampleRate)
    : gains_(channelCount, 1.0f),
      release_(static_cast<float>(1.0 - std::exp(-1.0 / (releaseSeconds * std::max(sampleRate, 1.0))))) {}

void OutputLimiter::process(float* const* channels, std::uint32_t channelCount, std::uint32_t frames) noexcept {
    const auto limited = std::min<std::size_t>(channelCount, gains_.size());
    for (std::size_t c = 0; c < limited; ++c) {
        float* samples = channels[c];
        float gain = gains_[c];
        if (gain == 1.0f && passesUntouched(samples, frames)) continue;
        for (std::uint32_t i = 0; i < frames; ++i) {
            const float level = std::fabs(samples[i]);
            if (!std::isfinite(level)) {
                samples[i] = 0.0f;
                continue;
            }
            if (level * gain > ceiling) gain = ceiling / level;
            samples[i] *= gain;
            gain += (1.0f - gain) * release_;
        }
        gains_[c] = gain > recovered ? 1.0f : gain;
    }
}

} // namespace cadenzo
