#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace cadenzo;

namespace {

std::vector<std::size_t> accentIndices(const std::vector<ClickTrack::Event>& events) {
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].accent) indices.push_back(i);
    }
    return indices;
}

TEST(ClickEvents, CountInAndSongBarsAreClickedAlike) {
    const auto result = ClickTrack::makeClickEvents(4, 1, {2}, 120);
    ASSERT_EQ(result.events.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(result.events[i].time, 0.5 * static_cast<double>(i));
    EXPECT_EQ(accentIndices(result.events), (std::vector<std::size_t>{0, 4, 8}));
    EXPECT_DOUBLE_EQ(result.totalDuration, 6.0);
}

TEST(ClickEvents, SectionsShorterThanABarStillGetOne) {
    const auto result = ClickTrack::makeClickEvents(3, 0, {0, -3}, 90);
    ASSERT_EQ(result.events.size(), 6u);
    EXPECT_EQ(accentIndices(result.events), (std::vector<std::size_t>{0, 3}));
    EXPECT_DOUBLE_EQ(result.totalDuration, result.events.back().time + 60.0 / 90.0);
}

TEST(ClickEvents, NothingToClick) {
    // No sections, no beats per bar, negative everything.
    for (const auto& nothing : {ClickTrack::makeClickEvents(4, 0, {}, 120),
                                ClickTrack::makeClickEvents(0, 2, {4, 4}, 120),
                                ClickTrack::makeClickEvents(-4, -1, {1}, 120)}) {
        EXPECT_TRUE(nothing.events.empty());
        EXPECT_EQ(nothing.totalDuration, 0.0);
    }

    // A negative count-in adds nothing but the song is still clicked.
    EXPECT_EQ(ClickTrack::makeClickEvents(4, -2, {1}, 120).events.size(), 4u);
}

TEST(ClickEvents, TimesAreRunningSumsOfTheBeat) {
    const double beat = 60.0 / 100.0;
    const auto result = ClickTrack::makeClickEvents(4, 2, {8, 8}, 100);
    ASSERT_EQ(result.events.size(), 72u);
    double t = 0.0;
    bool differsFromProduct = false;
    for (std::size_t i = 0; i < result.events.size(); ++i) {
        EXPECT_EQ(result.events[i].time, t) << "event " << i;
        differsFromProduct = differsFromProduct || t != static_cast<double>(i) * beat;
        t += beat;
    }
    EXPECT_EQ(result.totalDuration, t);
    // The sums drift from index x beat somewhere, so the check above tells them apart.
    EXPECT_TRUE(differsFromProduct);
}

const AudioFormat mono48k{48000, 1};

float magnitude(const PcmBuffer& b, std::uint32_t i) { return std::fabs(b.sample(0, i)); }

TEST(ClickBuffer, AttackDecayAndSilenceAt48k) {
    for (const bool accent : {true, false}) {
        SCOPED_TRACE(accent ? "accent" : "normal");
        const float gain = accent ? 0.9f : 0.55f;
        const auto click = ClickTrack::makeClickBuffer(accent, mono48k, {0});
        ASSERT_TRUE(click);
        EXPECT_EQ(click->frameCapacity(), 3840u);
        EXPECT_EQ(click->frameLength(), 3840u);

        EXPECT_EQ(click->sample(0, 0), 0.0f);
        EXPECT_FALSE(std::signbit(click->sample(0, 0)));  // the square wave starts at +1
        for (std::uint32_t i = 1; i < 96; ++i) {
            EXPECT_NEAR(magnitude(*click, i), gain * static_cast<float>(i) / 96.0f, 1e-6f) << "frame " << i;
        }
        // The decay starts at the full gain right after the attack...
        EXPECT_NEAR(magnitude(*click, 96), gain, 1e-6f);
        EXPECT_NEAR(magnitude(*click, 97), gain, 0.01f);
        // ...is exponential (halfway in time is the geometric mean of the ends)...
        EXPECT_NEAR(magnitude(*click, 1488), std::sqrt(0.001f * gain), 2e-5f);
        // ...and ends at an absolute 0.001, not a fraction of the peak.
        EXPECT_NEAR(magnitude(*click, 2879), 0.001f, 1e-5f);
        for (std::uint32_t i = 2880; i < 3840; ++i) ASSERT_EQ(click->sample(0, i), 0.0f) << "frame " << i;
    }
}

TEST(ClickBuffer, SquareWaveInPhaseWithTheSine) {
    for (const bool accent : {true, false}) {
        SCOPED_TRACE(accent ? "accent" : "normal");
        const std::uint32_t period = accent ? 40 : 60;  // 48000 / 1200, 48000 / 800
        const auto click = ClickTrack::makeClickBuffer(accent, mono48k, {0});
        ASSERT_TRUE(click);
        // Starts positive; the first half period is positive and the second negative.
        for (std::uint32_t i = 1; i < period / 2; ++i) EXPECT_GT(click->sample(0, i), 0.0f) << "frame " << i;
        for (std::uint32_t i = period / 2 + 1; i < period; ++i) EXPECT_LT(click->sample(0, i), 0.0f) << "frame " << i;
        // Away from the zero crossings the sign repeats with the period and flips every half period.
        for (std::uint32_t i = 1; i + period < 2880; ++i) {
            if (i % (period / 2) == 0) continue;
            const bool positive = click->sample(0, i) > 0.0f;
            ASSERT_EQ(click->sample(0, i + period) > 0.0f, positive) << "frame " << i;
            ASSERT_NE(click->sample(0, i + period / 2) > 0.0f, positive) << "frame " << i;
        }
    }
}

TEST(ClickBuffer, LengthsFollowTheSampleRate) {
    const auto click = ClickTrack::makeClickBuffer(true, {44100, 2}, {0});
    ASSERT_TRUE(click);
    EXPECT_EQ(click->frameLength(), 3528u);   // trunc(44100 x 0.08)
    EXPECT_NEAR(std::fabs(click->sample(0, 87)), 0.9f * 87.0f / 88.0f, 1e-6f);  // 88 attack frames
    EXPECT_NEAR(std::fabs(click->sample(0, 88)), 0.9f, 1e-3f);  // the decay starts at 0.002 s, just after
    EXPECT_EQ(click->sample(0, 2646), 0.0f);  // t = 0.06
    EXPECT_EQ(click->channelData(1), nullptr);
}

TEST(ClickBuffer, SoundOnlyOnValidListedChannels) {
    const AudioFormat quad{48000, 4};
    const auto click = ClickTrack::makeClickBuffer(false, quad, {1, 7});
    ASSERT_TRUE(click);
    ASSERT_NE(click->channelData(1), nullptr);
    EXPECT_NEAR(std::fabs(click->sample(1, 96)), 0.55f, 1e-6f);
    for (std::uint32_t c : {0u, 2u, 3u}) EXPECT_EQ(click->channelData(c), nullptr) << "channel " << c;

    // Channels carrying the click share one array, whatever the channel count.
    const auto twice = ClickTrack::makeClickBuffer(true, quad, {2, 0, 2, -1});
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->channelData(0), twice->channelData(2));
    EXPECT_NEAR(std::fabs(twice->sample(0, 96)), 0.9f, 1e-6f);
    EXPECT_EQ(twice->bytesHeld(), 3840u * sizeof(float));
    EXPECT_EQ(twice->channelData(1), nullptr);
    EXPECT_EQ(twice->channelData(3), nullptr);

    for (const std::vector<std::int64_t>& channels : {std::vector<std::int64_t>{}, {-1}, {4, -3}}) {
        const auto silent = ClickTrack::makeClickBuffer(true, quad, channels);
        ASSERT_TRUE(silent);
        EXPECT_EQ(silent->frameLength(), 3840u);
        EXPECT_EQ(silent->bytesHeld(), 0u);
        for (std::uint32_t c = 0; c < 4; ++c) EXPECT_EQ(silent->channelData(c), nullptr);
    }
}

} // namespace
