#include "CadenzoPlayer/audio/Resampler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace cadenzo;

namespace {

// A 1 kHz sine at half level on the first of two channels, at 48 kHz, in
// `chunk`-frame slices of `frames` frames at the output rate.
std::vector<std::vector<float>> resampleSine(Resampler& resampler, std::size_t frames, std::uint32_t chunk) {
    struct Source {
        std::uint64_t position = 0;
        static void pull(void* context, float* const* channels, std::uint32_t count) {
            auto& self = *static_cast<Source*>(context);
            for (std::uint32_t i = 0; i < count; ++i, ++self.position) {
                channels[0][i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 1000.0 * self.position / 48000.0));
                channels[1][i] = 0.0f;
            }
        }
    } source;
    std::vector<std::vector<float>> out(2, std::vector<float>(frames));
    for (std::size_t done = 0; done < frames; done += chunk) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(chunk, frames - done));
        float* pointers[2] = {out[0].data() + done, out[1].data() + done};
        resampler.process(pointers, count, &Source::pull, &source);
    }
    EXPECT_EQ(source.position, resampler.framesPulled());
    return out;
}

// From rising zero crossings, interpolated.
double measuredFrequency(const std::vector<float>& samples, std::size_t from, double rate) {
    std::vector<double> crossings;
    for (std::size_t i = from; i + 1 < samples.size(); ++i) {
        if (samples[i] <= 0.0f && samples[i + 1] > 0.0f) crossings.push_back(i + samples[i] / (samples[i] - samples[i + 1]));
    }
    return (crossings.size() - 1) * rate / (crossings.back() - crossings.front());
}

} // namespace

TEST(Resampler, KeepsPitchAndLevelReadsAtExactlyTheRateRatioAndIgnoresTheSlicing) {
    for (double rate : {44100.0, 96000.0, 32000.0}) {
        Resampler whole(48000.0, rate, 2), sliced(48000.0, rate, 2);
        const auto frames = static_cast<std::size_t>(rate) * 2;
        const auto out = resampleSine(whole, frames, 4096);
        EXPECT_EQ(out, resampleSine(sliced, frames, 37)) << rate;
        EXPECT_NEAR(measuredFrequency(out[0], frames / 20, rate), 1000.0, 0.02) << rate;
        EXPECT_NEAR(*std::max_element(out[0].begin() + frames / 20, out[0].end()), 0.5f, 0.005f) << rate;
        EXPECT_TRUE(std::all_of(out[1].begin(), out[1].end(), [](float v) { return v == 0.0f; }));
        // Two seconds out take two seconds in, plus the look-ahead of the filter.
        EXPECT_GE(whole.framesPulled(), 48000u * 2 - 1) << rate;
        EXPECT_LE(whole.framesPulled(), 48000u * 2 + Resampler::halfTaps + 1) << rate;
    }
}
