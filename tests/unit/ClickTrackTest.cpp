#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace cadenzo;

namespace {

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

} // namespace
