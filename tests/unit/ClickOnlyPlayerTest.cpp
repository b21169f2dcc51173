#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/playback/ClickOnlyPlayer.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <stdexcept>

using namespace cadenzo;

namespace {

using Bars = std::vector<std::int64_t>;

struct Song {
    std::int64_t beatsPerBar = 4;
    std::int64_t countInBars = 1;
    Bars sectionBars{2};
    double tempo = 120;
};

constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max();

class ClickOnlyPlayer : public VirtualDevices {
protected:
    void play(const std::string& device, std::int64_t deviceChannels, const Bars& channels, std::int64_t requested,
              const Song& song) {
        playClickTrack(idOf(device), deviceChannels, channels, requested, song.beatsPerBar, song.countInBars,
                       song.sectionBars, song.tempo, out, renderingWait(device));
    }

    std::string errorOf(const std::string& device, std::int64_t deviceChannels, std::int64_t requested,
                        const Song& song) {
        out.str("");
        return errorText([&] { play(device, deviceChannels, {0}, requested, song); });
    }

    std::ostringstream out;
};

// Where each click begins: a click's first frame is 0, so a sound that
// follows at least 0.1 s of silence began one frame before it became audible.
std::vector<std::int64_t> clickStarts(const std::vector<float>& samples) {
    std::vector<std::int64_t> starts;
    std::int64_t quiet = 4800;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] == 0.0f) {
            ++quiet;
            continue;
        }
        if (quiet >= 4800) starts.push_back(static_cast<std::int64_t>(i) - 1);
        quiet = 0;
    }
    return starts;
}

} // namespace

TEST_F(ClickOnlyPlayer, PlaysEveryClickAtItsSampleOnTheListedChannelsOnly) {
    backend->addDevice("Studio", 4);
    play("Studio", 4, {0, 2}, 8, Song{});

    EXPECT_EQ(out.str(), "Built 12 click events, 6.00s total.\n");
    EXPECT_EQ(waits, std::vector<double>{6.3});
    EXPECT_TRUE(streamOpenDuringWait);
    EXPECT_FALSE(backend->isStreamOpen("Studio"));  // stopped before returning

    const auto recorded = backend->recording("Studio");
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_TRUE(silent(recorded[1]));
    EXPECT_TRUE(silent(recorded[3]));
    EXPECT_EQ(recorded[2], recorded[0]);

    // Sample for sample: accents at 0, 96000 and 192000, normal clicks between.
    const auto accent = ClickTrack::makeClickBuffer(true, {48000, 4}, {0});
    const auto normal = ClickTrack::makeClickBuffer(false, {48000, 4}, {0});
    std::vector<float> expected(302400, 0.0f);
    for (std::int64_t k = 0; k < 12; ++k) {
        const auto& click = (k % 4 == 0) ? accent : normal;
        for (std::uint32_t i = 0; i < click->frameLength(); ++i) expected[k * 24000 + i] = click->sample(0, i);
    }
    EXPECT_EQ(recorded[0], expected);
}

TEST_F(ClickOnlyPlayer, ClickTimesAreTruncatedToWholeSamples) {
    // At 100 bpm the running sum reaches 1.7999999999999998 s at the fourth
    // beat: 86399.99... samples, which starts on sample 86399.
    backend->addDevice("Desk", 1);
    play("Desk", 1, {0}, 1, Song{4, 0, {1}, 100});
    EXPECT_EQ(out.str(), "Built 4 click events, 2.40s total.\n");
    EXPECT_EQ(clickStarts(backend->recording("Desk").at(0)), (std::vector<std::int64_t>{0, 28800, 57600, 86399}));
}

TEST_F(ClickOnlyPlayer, TheOutputIsNoWiderThanTheDeviceOrTheRequest) {
    // A 2-channel device asked for 8: channel 1 sounds, channel 3 is no output.
    backend->addDevice("Phones", 2);
    play("Phones", 2, {1, 3}, 8, Song{2, 1, {}, 120});
    auto recorded = backend->recording("Phones");
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_TRUE(silent(recorded[0]));
    EXPECT_EQ(clickStarts(recorded[1]), (std::vector<std::int64_t>{0, 24000}));

    // A 4-channel device asked for 2: its channel 3 stays silent, and the
    // track still plays to its end.
    backend->addDevice("Quad", 4);
    play("Quad", 4, {3}, 2, Song{2, 1, {}, 120});
    EXPECT_EQ(waits, (std::vector<double>{1.3, 1.3}));
    recorded = backend->recording("Quad");
    ASSERT_EQ(recorded.size(), 4u);
    for (const auto& channel : recorded) EXPECT_TRUE(silent(channel));
    EXPECT_EQ(recorded[0].size(), 62400u);
}

TEST_F(ClickOnlyPlayer, NoEventsPlaySilenceForTheRingOutOnly) {
    backend->addDevice("Studio", 2);
    play("Studio", 2, {0, 1}, 2, Song{4, 0, {}, 120});
    EXPECT_EQ(out.str(), "Built 0 click events, 0.00s total.\n");
    EXPECT_EQ(waits, std::vector<double>{0.3});
    EXPECT_TRUE(streamOpenDuringWait);
    EXPECT_FALSE(backend->isStreamOpen("Studio"));
    const auto recorded = backend->recording("Studio");
    EXPECT_EQ(recorded.at(0).size(), 14400u);
    EXPECT_TRUE(silent(recorded[0]) && silent(recorded[1]));
}

TEST_F(ClickOnlyPlayer, DeviceAndLayoutFailuresComeAfterTheSummaryAndOpenNothing) {
    const std::string summary = "Built 12 click events, 6.00s total.\n";
    backend->addDevice("Gone", 2);
    backend->removeDevice("Gone");
    EXPECT_EQ(errorOf("Gone", 2, 2, Song{}), "ClickTrack 2: Couldn't select device: -2");
    EXPECT_EQ(out.str(), summary);

    backend->addDevice("A", 2);
    for (auto [deviceChannels, requested, text] :
         {std::tuple<std::int64_t, std::int64_t, const char*>{2, 0, "Couldn't build 0-channel layout"},
          {2, -3, "Couldn't build -3-channel layout"},
          {2, std::numeric_limits<std::int64_t>::min(), "Couldn't build -9223372036854775808-channel layout"},
          {70000, 70000, "Couldn't build 70000-channel layout"}}) {
        EXPECT_EQ(errorOf("A", deviceChannels, requested, Song{}), std::string("ClickTrack 3: ") + text);
        EXPECT_EQ(out.str(), summary);
    }
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(backend->streamsOpened("A"), 0);

    setDeviceBackendForTesting(nullptr);
    EXPECT_EQ(errorOf("A", 2, 2, Song{}), "ClickTrack 1: No underlying AudioUnit");
}

TEST_F(ClickOnlyPlayer, AnEngineStartErrorIsPassedOnUnchanged) {
    setDeviceBackendForTesting(
        std::make_shared<RefusingBackend>(std::vector<BackendDevice>{{"virtual:Locked", "Locked", 2, true}},
                                          "the device is busy"));
    EXPECT_EQ(errorOf("Locked", 2, 2, Song{}),
              "AudioEngine 4: Could not open output device virtual:Locked: the device is busy");
    EXPECT_TRUE(waits.empty());
}

TEST_F(ClickOnlyPlayer, AnInterruptedWaitLeavesNoEngineRunning) {
    backend->addDevice("Studio", 2);
    EXPECT_THROW(playClickTrack(idOf("Studio"), 2, {0}, 2, 4, 1, {2}, 120, out,
                                [&](double) {
                                    streamOpenDuringWait = backend->isStreamOpen("Studio");
                                    throw std::runtime_error("interrupted");
                                }),
                 std::runtime_error);
    EXPECT_TRUE(streamOpenDuringWait);
    EXPECT_FALSE(backend->isStreamOpen("Studio"));
}

TEST_F(ClickOnlyPlayer, UnplayableTempoOrLengthIsRejectedBeforeAnythingIsBuilt) {
    backend->addDevice("Studio", 2);
    const auto expectRejected = [&](const Song& song, const std::string& reason) {
        EXPECT_EQ(errorOf("Studio", 2, 2, song), "ClickTrack 4: " + reason) << song.tempo;
        EXPECT_EQ(out.str(), "");
    };
    const std::string badTempo = "Tempo must be a positive, finite number of beats per minute";
    const double inf = std::numeric_limits<double>::infinity();
    for (double tempo : {0.0, -0.0, -120.0, inf, -inf, std::numeric_limits<double>::quiet_NaN()}) {
        expectRejected(Song{4, 1, {2}, tempo}, badTempo);
    }
    expectRejected(Song{4, 0, {}, 0.0}, badTempo);  // even with nothing to play

    const std::string tooMany = "Song too long to schedule: more than 1000000 click events";
    expectRejected(Song{4, 0, {250001}, 60000}, tooMany);
    expectRejected(Song{4, 0, {huge}, 120}, tooMany);
    expectRejected(Song{4, 0, {200000, 200000, huge, huge}, 120}, tooMany);
    expectRejected(Song{4, huge, {1}, 120}, tooMany);
    expectRejected(Song{huge, 1, {}, 120}, tooMany);
    expectRejected(Song{4, 0, Bars(250001, 0), 60000}, tooMany);  // a section shorter than a bar still has one
    expectRejected(Song{4, 0, {1501}, 100}, "Song too long to schedule: more than one hour");
    expectRejected(Song{1, 1, {}, 1e-300}, "Song too long to schedule: more than one hour");
    EXPECT_EQ(backend->streamsOpened("Studio"), 0);
    EXPECT_TRUE(waits.empty());
}

TEST_F(ClickOnlyPlayer, TheLongestAcceptedSongsAreBuilt) {
    // Selecting a vanished device fails right after the summary, so these
    // show what would be built without playing it.
    backend->addDevice("Gone", 2);
    backend->removeDevice("Gone");
    const std::pair<Song, std::string> cases[] = {
        {{4, 0, {1500}, 100}, "Built 6000 click events, 3600.00s total.\n"},  // exactly an hour
        {{4, 0, {250000}, 60000}, "Built 1000000 click events, 1000.00s total.\n"},
        {{-4, 3, {huge}, 120}, "Built 0 click events, 0.00s total.\n"},  // no beats, however many bars
    };
    for (const auto& [song, summary] : cases) {
        EXPECT_EQ(errorOf("Gone", 2, 2, song), "ClickTrack 2: Couldn't select device: -2");
        EXPECT_EQ(out.str(), summary);
    }
}
