#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/playback/ClickOnlyPlayer.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace cadenzo;

namespace {

using Bars = std::vector<std::int64_t>;

struct Song {
    std::int64_t beatsPerBar = 4, countInBars = 1;
    Bars sectionBars{2};
    double tempo = 120;
};

class ClickOnlyPlayer : public VirtualDevices {
protected:
    void play(const std::string& device, std::int64_t deviceChannels, const Bars& channels, std::int64_t requested,
              const Song& song) {
        out.str("");
        playClickTrack(idOf(device), deviceChannels, channels, requested, song.beatsPerBar, song.countInBars,
                       song.sectionBars, song.tempo, out, renderingWait(device));
    }

    std::ostringstream out;
};

// A click channel of `frames` frames: an accent at every `beatsPerBar`-th of `starts`, a normal click at the others.
std::vector<float> clicksAt(const std::vector<std::size_t>& starts, std::size_t beatsPerBar, std::size_t frames) {
    std::vector<float> expected(frames);
    for (std::size_t k = 0; k < starts.size(); ++k)
        mixAt(expected, *ClickTrack::makeClickBuffer(k % beatsPerBar == 0, {48000, 1}, {0}), 0, starts[k]);
    return expected;
}

} // namespace

// The output is as wide as the smaller of the device and the request, as for the test tone.
TEST_F(ClickOnlyPlayer, PlaysEveryClickAtItsWholeSampleOnTheListedChannelsOfItsOutputOnly) {
    // At 100 bpm the fourth beat sums to 1.7999999999999998 s: sample 86399.99...
    backend->addDevice("Studio", 4);
    play("Studio", 4, {0, 2, 3}, 3, Song{4, 1, {1}, 100});
    EXPECT_EQ(out.str(), "Built 8 click events, 4.80s total.\nWarning: click on channel index 3 (channel 4) is outside "
                         "the 3-channel output; it plays nowhere.\n");
    EXPECT_TRUE(streamOpenDuringWait && !backend->isStreamOpen("Studio"));  // stopped before returning
    const auto recorded = backend->recording("Studio");
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded[0], clicksAt({0, 28800, 57600, 86399, 115200, 144000, 172800, 201600}, 4, 244800));
    EXPECT_TRUE(recorded[2] == recorded[0] && silent(recorded[1]) && silent(recorded[3]));
    // Nothing to click: silence for the ring-out only.
    play("Studio", 4, {0}, 4, Song{4, 0, {}, 120});
    EXPECT_EQ(out.str(), "Built 0 click events, 0.00s total.\n");
    EXPECT_EQ(backend->recordedFrames("Studio"), 244800u + 14400u);
}

TEST_F(ClickOnlyPlayer, RefusalsComeBeforeTheSummaryAndFailuresAfterIt) {
    backend->addDevice("A", 2);
    backend->addDevice("Gone", 2);
    backend->removeDevice("Gone");
    // The layout rules are the test tone's; the wording is this player's own.
    EXPECT_EQ(errorText([&] { play("A", 2, {0}, -3, Song{}); }), "ClickTrack 3: Couldn't build -3-channel layout");
    EXPECT_EQ(out.str(), "Built 12 click events, 6.00s total.\n");
    const std::string badTempo = "4: Tempo must be a positive, finite number of beats per minute";
    const std::string tooMany = "4: Song too long to schedule: more than 1000000 click events";
    const std::string gone = "2: Couldn't select device: -2";
    // Refused songs print nothing; the others are built and fail on the vanished device after their summary.
    const std::tuple<Song, std::string, std::string> cases[] = {
        {{}, gone, "Built 12 click events, 6.00s total.\n"}, {{4, 1, {2}, 0.0}, badTempo, ""},
        {{4, 1, {2}, -120.0}, badTempo, ""}, {{4, 1, {2}, INFINITY}, badTempo, ""}, {{4, 1, {2}, NAN}, badTempo, ""},
        {{4, 0, {}, 0.0}, badTempo, ""},  // even with nothing to play
        {{4, 0, {250001}, 750}, tooMany, ""}, {{4, 0, {INT64_MAX}, 120}, tooMany, ""},
        {{4, 0, {200000, 200000}, 120}, tooMany, ""}, {{4, INT64_MAX, {1}, 120}, tooMany, ""},
        {{INT64_MAX, 1, {}, 120}, tooMany, ""}, {{4, 0, Bars(250001, 0), 750}, tooMany, ""},  // a bar at least
        {{4, 0, {1501}, 100}, "4: Song too long to schedule: more than one hour", ""},
        {{4, 0, {1500}, 100}, gone, "Built 6000 click events, 3600.00s total.\n"},  // exactly an hour
        {{4, 0, {1}, 750.01}, "4: Tempo must be at most 750 beats per minute: a faster beat is shorter than the click", ""},
        {{4, 0, {1}, 750}, gone, "Built 4 click events, 0.32s total.\n"},
        {{-4, 3, {INT64_MAX}, 120}, gone, "Built 0 click events, 0.00s total.\n"},  // no beats at all
        {{3, -2, {0, -1}, 120}, gone, "Built 6 click events, 3.00s total.\n"}};  // sections of a bar at least
    for (const auto& [song, error, printed] : cases) {
        const char* device = printed.empty() ? "A" : "Gone";
        EXPECT_EQ(errorText([&, &song = song] { play(device, 2, {0}, 2, song); }), "ClickTrack " + error);
        EXPECT_EQ(out.str(), printed) << error;
    }
    EXPECT_EQ(backend->streamsOpened("A"), 0);
    // A device lost while the clicks play ends them with a code of their own.
    EXPECT_EQ(errorText([&] {
                  playClickTrack(idOf("A"), 2, {0}, 2, 4, 1, {2}, 120, out, [&](double) { backend->removeDevice("A"); });
              }),
              "ClickTrack 6: Lost the output device A (virtual:A): it was unplugged, or its audio server stopped");
    setDeviceBackendForTesting(nullptr);
    EXPECT_EQ(errorText([&] { play("A", 2, {0}, 2, Song{}); }), "ClickTrack 1: No underlying AudioUnit");
    EXPECT_TRUE(waits.empty());
}
