#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace cadenzo;

namespace {

TEST(ClickEvents, EveryBeatOnTheRunningSumAccentedOnTheBar) {
    // Two count-in bars, then sections of 2 bars and of less than one bar, which still get one.
    const auto result = ClickTrack::makeClickEvents(3, 2, {2, 0, -3}, 100);
    ASSERT_EQ(result.events.size(), 18u);
    double t = 0.0;
    for (std::size_t i = 0; i < 18; ++i, t += 0.6) {
        EXPECT_EQ(result.events[i].time, t) << i;
        EXPECT_EQ(result.events[i].accent, i % 3 == 0) << i;
    }
    EXPECT_EQ(result.totalDuration, t);
    EXPECT_NE(t, 18 * 0.6) << "the sums should drift from the products";
    // No sections, no beats, negative counts: nothing, though a negative count-in alone adds nothing.
    for (const auto& [beats, countIn, sections, clicks] : std::vector<std::tuple<int, int, std::vector<std::int64_t>, int>>{
             {4, 0, {}, 0}, {0, 2, {4}, 0}, {-4, -1, {1}, 0}, {4, -2, {1}, 4}}) {
        EXPECT_EQ(ClickTrack::makeClickEvents(beats, countIn, sections, 120).events.size(), clicks) << beats;
    }
}

// A square wave in phase with the click's sine, rising linearly for 2 ms, then
// decaying exponentially from the gain to an absolute 0.001 at 60 ms; 80 ms long.
float expectedClick(bool accent, double rate, std::uint32_t i) {
    const double gain = accent ? 0.9 : 0.55;
    const double t = i / rate;
    const double attack = std::trunc(rate * 0.002);
    const double amplitude =
        i < attack ? gain * i / attack : t < 0.06 ? gain * std::pow(0.001 / gain, (t - 0.002) / 0.058) : 0.0;
    return static_cast<float>(std::sin(2.0 * std::numbers::pi * (accent ? 1200.0 : 800.0) * t) >= 0.0 ? amplitude
                                                                                                    : -amplitude);
}

TEST(ClickBuffer, SquareWaveWithAttackAndDecayAtEitherRate) {
    for (const double rate : {48000.0, 44100.0}) {
        for (const bool accent : {true, false}) {
            SCOPED_TRACE(testing::Message() << rate << (accent ? " accent" : " normal"));
            const auto click = ClickTrack::makeClickBuffer(accent, {rate, 1}, {0});
            ASSERT_EQ(click->frameLength(), rate == 48000.0 ? 3840u : 3528u);
            EXPECT_EQ(click->frameCapacity(), click->frameLength());
            EXPECT_FALSE(std::signbit(click->sample(0, 0)));
            for (std::uint32_t i = 0; i < click->frameLength(); ++i) {
                ASSERT_NEAR(click->sample(0, i), expectedClick(accent, rate, i), 2e-6) << "frame " << i;
            }
        }
    }
}

TEST(ClickBuffer, OnlyValidListedChannelsSoundAndShareOneArray) {
    const auto click = ClickTrack::makeClickBuffer(true, {48000, 4}, {2, 0, 2, -1, 7});
    EXPECT_EQ(channelSharing(*click), (std::vector<int>{0, -1, 0, -1}));
    EXPECT_EQ(click->bytesHeld(), 3840u * sizeof(float));
    const auto silent = ClickTrack::makeClickBuffer(true, {48000, 4}, {-1, 4});
    EXPECT_EQ(silent->frameLength(), 3840u);
    EXPECT_EQ(silent->bytesHeld(), 0u);
}

} // namespace
