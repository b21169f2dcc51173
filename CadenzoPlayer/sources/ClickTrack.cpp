#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include "CadenzoPlayer/sources/Channels.hpp"
#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cadenzo::ClickTrack {

Events makeClickEvents(std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<std::int64_t>& sectionBars,
                       double tempo) {
    const double beat = secondsPerBeat(tempo);
    Events result;
    double t = 0.0;
    const auto playBars = [&](std::int64_t bars) {
        for (std::int64_t bar = 0; bar < bars; ++bar) {
            for (std::int64_t b = 0; b < beatsPerBar; ++b) {
                result.events.push_back({t, b == 0});
                t += beat;
            }
        }
    };
    playBars(countInBars);
    for (std::int64_t bars : sectionBars) playBars(std::max<std::int64_t>(bars, 1));
    result.totalDuration = t;
    return result;
}

std::optional<std::string> tempoProblem(double tempo) {
    if (!(std::isfinite(tempo) && tempo > 0.0)) return "Tempo must be a positive, finite number of beats per minute";
    if (tempo > fastestTempo) {
        return "Tempo must be at most 750 beats per minute: a faster beat is shorter than the click";
    }
    return std::nullopt;
}

std::shared_ptr<PcmBuffer> makeClickBuffer(bool accent, const AudioFormat& format,
                                           const std::vector<std::int64_t>& channels) {
    const float gain = accent ? 0.9f : 0.55f;
    const double frequency = accent ? 1200.0 : 800.0;
    const double sr = format.sampleRate;
    const auto frameCount = static_cast<std::uint32_t>(sr * clickSeconds);

    auto routed = makeRoutedBuffer(format, frameCount, channels);
    if (!routed) return nullptr;
    if (!routed->samples) return routed->buffer;
    float* samples = routed->samples;

    const auto attackFrames = static_cast<std::int64_t>(sr * 0.002);
    // The decay ends at an absolute 0.001, so both clicks fade to the same floor.
    const double decayBase = 0.001 / static_cast<double>(gain);
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / sr;
        const float polarity = std::sin(2.0 * std::numbers::pi * frequency * t) >= 0.0 ? 1.0f : -1.0f;
        float amplitude = 0.0f;
        if (static_cast<std::int64_t>(i) < attackFrames) {
            amplitude = gain * static_cast<float>(i) / static_cast<float>(attackFrames);
        } else if (t < 0.06) {
            amplitude = gain * static_cast<float>(std::pow(decayBase, (t - 0.002) / (0.06 - 0.002)));
        }
        samples[i] = amplitude * polarity;
    }
    return routed->buffer;
}

} // namespace cadenzo::ClickTrack
