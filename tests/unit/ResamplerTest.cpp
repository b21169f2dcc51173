#include "CadenzoPlayer/audio/Resampler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace cadenzo;

namespace {

// A sine source at the input rate that remembers how far it has been read.
struct SineSource {
    double frequency;
    double rate;
    std::uint64_t position = 0;

    static void pull(void* context, float* const* channels, std::uint32_t frames) {
        auto* self = static_cast<SineSource*>(context);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(self->position + i) / self->rate;
            channels[0][i] = static_cast<float>(0.5 * std::sin(2 * M_PI * self->frequency * t));
            channels[1][i] = 0.0f;
        }
        self->position += frames;
    }
};

std::vector<std::vector<float>> run(Resampler& resampler, SineSource& source, std::size_t frames,
                                    std::uint32_t chunk) {
    std::vector<std::vector<float>> out(2, std::vector<float>(frames));
    for (std::size_t done = 0; done < frames;) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(chunk, frames - done));
        float* pointers[2] = {out[0].data() + done, out[1].data() + done};
        resampler.process(pointers, count, &SineSource::pull, &source);
        done += count;
    }
    return out;
}

double measuredFrequency(const std::vector<float>& samples, std::size_t from, std::size_t to, double rate) {
    std::vector<double> crossings;
    for (std::size_t i = from; i + 1 < to; ++i) {
        if (samples[i] <= 0.0f && samples[i + 1] > 0.0f) {
            crossings.push_back(i + samples[i] / (samples[i] - samples[i + 1]));
        }
    }
    return (crossings.size() - 1) * rate / (crossings.back() - crossings.front());
}

} // namespace

TEST(Resampler, KeepsPitchAndLevelDownAndUp) {
    for (double outputRate : {44100.0, 96000.0, 32000.0}) {
        Resampler resampler(48000.0, outputRate, 2);
        SineSource source{1000.0, 48000.0};
        const auto frames = static_cast<std::size_t>(outputRate);
        const auto out = run(resampler, source, frames, 256);
        EXPECT_NEAR(measuredFrequency(out[0], frames / 10, frames, outputRate), 1000.0, 0.02) << outputRate;
        const float peak = *std::max_element(out[0].begin() + frames / 10, out[0].end());
        EXPECT_NEAR(peak, 0.5f, 0.005f) << outputRate;
        EXPECT_TRUE(std::all_of(out[1].begin(), out[1].end(), [](float v) { return v == 0.0f; }));
    }
}

TEST(Resampler, ReadsInputAtExactlyTheRateRatio) {
    Resampler resampler(48000.0, 44100.0, 2);
    SineSource source{440.0, 48000.0};
    run(resampler, source, 44100 * 3, 300);
    // Three seconds out take three seconds in, plus the look-ahead of the filter.
    EXPECT_GE(resampler.framesPulled(), 48000u * 3 - 1);
    EXPECT_LE(resampler.framesPulled(), 48000u * 3 + Resampler::halfTaps + 1);
    EXPECT_EQ(source.position, resampler.framesPulled());
}

TEST(Resampler, OutputDoesNotDependOnHowTheDeviceSlicesItsBlocks) {
    Resampler whole(48000.0, 44100.0, 2), sliced(48000.0, 44100.0, 2);
    SineSource first{440.0, 48000.0}, second{440.0, 48000.0};
    const auto a = run(whole, first, 20000, 4096);
    const auto b = run(sliced, second, 20000, 37);
    EXPECT_EQ(a[0], b[0]);
}
