#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/dispatch/ManualClock.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"
#include "CadenzoPlayer/sources/GuideSounds.hpp"
#include "CadenzoPlayer/sources/PadPlayer.hpp"
#include "CadenzoPlayer/timeline/Timeline.hpp"
#include "VirtualDeviceFixture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

using namespace cadenzo;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t channels = 8;
const AudioFormat format{48000, channels};
const std::vector<std::int64_t> clickChannels = {4};
const std::vector<std::int64_t> guideChannels = {6};
const std::vector<std::int64_t> padChannel = {2};

struct Song {
    double tempo = 240;
    std::int64_t beatsPerBar = 4;
    std::int64_t countInBars = 1;
    std::vector<MapEntry> entries = parseSections("In:1,V:2,Zz:1");
    std::int64_t startSection = 0;
    std::optional<std::string> padKey{};
    std::vector<std::int64_t> pad{};
    std::optional<std::vector<std::string>> padChords{};
    SongPlayer::GuideMuteSchedule schedule{};
    std::int64_t totalChannels = channels;
};

using Chart = std::vector<std::optional<PadChord>>;

Chart chart(const std::vector<std::string>& symbols, int key, std::size_t bars) {
    Chart chords;
    for (const auto& symbol : symbols) chords.push_back(parseChord(symbol, key));
    chords.resize(bars);
    return chords;
}

// Adds `buffer`'s channel `from` into `into` at `at`.
void mixInto(std::vector<float>& into, const PcmBuffer& buffer, std::uint32_t from, std::int64_t at) {
    for (std::uint32_t i = 0; i < buffer.frameLength(); ++i) {
        const auto frame = static_cast<std::size_t>(at) + i;
        if (frame < into.size()) into[frame] += buffer.sample(from, i);
    }
}

// For what runs on the shared pool: polls a few ms at a time, for at most 5 s.
template <class Condition>
bool eventually(Condition done) {
    for (const auto until = std::chrono::steady_clock::now() + 5s; !done(); std::this_thread::sleep_for(2ms)) {
        if (std::chrono::steady_clock::now() > until) return false;
    }
    return true;
}

class SongPlayerTest : public VirtualDevices {
protected:
    void SetUp() override {
        VirtualDevices::SetUp();
        backend->addDevice("Stage", channels);
        device = {idOf("Stage"), VirtualDeviceBackend::uidFor("Stage"), "Stage", channels};
        player = SongPlayer::make();
    }
    void TearDown() override {
        player.reset();
        VirtualDevices::TearDown();
    }

    double play(const Song& song) {
        return player->play(device, clickChannels, guideChannels, song.totalChannels, song.tempo, song.beatsPerBar,
                            song.countInBars, song.entries, song.startSection, song.padKey, song.pad, song.padChords,
                            song.schedule);
    }

    std::vector<std::vector<float>> renderSeconds(double seconds) {
        EXPECT_TRUE(backend->render("Stage", static_cast<std::size_t>(seconds * 48000)));
        return backend->recording("Stage");
    }

    // Channel 2 of what was played is `pad` rendered on its own.
    static void expectPad(const std::vector<std::vector<float>>& recorded, const PcmBufferPtr& pad) {
        ASSERT_TRUE(pad);
        for (std::uint32_t i = 0; i < recorded[2].size(); ++i) ASSERT_EQ(recorded[2][i], pad->sample(2, i)) << i;
    }

    ManualClock clock;  // delayed tasks wait for it
    CoreAudioDevices::Device device;
    std::shared_ptr<SongPlayer> player;
};

TEST_F(SongPlayerTest, EverySoundLandsOnItsSampleAndChannel) {
    const Song song{.padKey = "G", .pad = {2, 3}, .padChords = std::vector<std::string>{"1", "4", "5", "6-"}};
    testing::internal::CaptureStdout();
    EXPECT_DOUBLE_EQ(play(song), 5.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Built 33 events (click + guide), 5.00s total.\n");
    const auto recorded = renderSeconds(5.6);
    ASSERT_EQ(recorded.size(), channels);
    const std::size_t frames = recorded[0].size();

    std::vector<float> expectedClick(frames), expectedGuide(frames);
    const auto accent = ClickTrack::makeClickBuffer(true, format, clickChannels);
    const auto normal = ClickTrack::makeClickBuffer(false, format, clickChannels);
    for (const TimelineEvent& event : buildTimeline(4, 1, song.entries, 0, 240).events) {
        const auto at = static_cast<std::int64_t>(event.time * 48000.0);
        if (event.kind.isClick()) {
            mixInto(expectedClick, event.kind.accent() ? *accent : *normal, 4, at);
        } else if (event.kind.label() == "Zz") {
            // No such cue file: the synthesised beep stands in.
            EXPECT_FALSE(loadGuideSound("Zz"));
            mixInto(expectedGuide, *makeFallbackCue("Zz", format, guideChannels), 6, at);
        } else {
            const auto sample = loadGuideSound(event.kind.label());
            ASSERT_TRUE(sample) << "bundled cue for " << event.kind.label();
            mixInto(expectedGuide, *placeMonoOnChannels(*sample, guideChannels, format), 6, at);
        }
    }
    for (std::size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(recorded[4][i], expectedClick[i]) << "click channel, frame " << i;
        ASSERT_NEAR(recorded[6][i], expectedGuide[i], 1e-6) << "guide channel, frame " << i;
    }
    expectPad(recorded, PadPlayer::renderPad("G", 1.0, 5.0, format, song.pad, 1, chart({"1", "4", "5", "6-"}, 7, 4)));
    EXPECT_EQ(recorded[3], recorded[2]);
    for (std::uint32_t c : {0u, 1u, 5u, 7u}) EXPECT_TRUE(silent(recorded[c])) << "channel " << c;
}

TEST_F(SongPlayerTest, StartingAtALaterSectionSkipsTheCountInAndStartsTheChartThere) {
    const Song song{.tempo = 100,
                    .countInBars = 2,
                    .entries = parseSections("In:2,V:4,Ch:4,Out:2"),
                    .startSection = 1,
                    .padKey = "C",
                    .pad = {2},
                    .padChords = std::vector<std::string>{"1", "4", "5", "6-", "2-7", "57"}};
    testing::internal::CaptureStdout();
    const double total = play(song);
    EXPECT_NEAR(total, 26.4, 1e-9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Built 57 events (click + guide), 26.40s total (starting at section 1, skipping the count-in).\n");
    // Bar 1 of the song is the first bar played, with no count-in before it.
    expectPad(renderSeconds(3.0), PadPlayer::renderPad("C", barDuration(100, 4), total, format, song.pad, 0,
                                                       chart({"4", "5", "6-", "2-7", "57"}, 0, 11)));
}

TEST_F(SongPlayerTest, AChartShorterThanTheSongFallsBackToTheTonic) {
    play(Song{.padKey = "C", .pad = {2}, .padChords = std::vector<std::string>{"4"}});
    expectPad(renderSeconds(5.6), PadPlayer::renderPad("C", 1.0, 5.0, format, padChannel, 1, chart({"4"}, 0, 4)));
}

TEST_F(SongPlayerTest, APadNeedsAKeyAndChannelsAndWithoutAChartItIsADrone) {
    play(Song{.padKey = "C"});  // no pad channels: no pad
    EXPECT_FALSE(player->state().padPlayer->isPlaying());

    testing::internal::CaptureStdout();
    play(Song{.padKey = "H", .pad = {2}, .padChords = std::vector<std::string>{"1"}});
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::HasSubstr("Pad: couldn't build a buffer for key 'H'.\n"));
    EXPECT_FALSE(player->state().padPlayer->isPlaying());

    player->stop();
    play(Song{.padKey = "A", .pad = {2}});
    expectPad(renderSeconds(5.6), PadPlayer::makeDronePad("A", 1.0, 5.0, format, padChannel));
}

TEST_F(SongPlayerTest, StopCutsClicksAndCuesAndFadesThePadOutInThirtySteps) {
    play(Song{.padKey = "C", .pad = {2}});
    renderSeconds(0.5);
    const auto playing = player->state();
    ASSERT_TRUE(playing.padPlayer->isPlaying());
    player->stop();
    const auto fading = player->state();
    EXPECT_FALSE(fading.engine);
    EXPECT_FALSE(fading.autoStopPending);
    EXPECT_EQ(fading.fadingOutEngines, std::vector{playing.engine});
    EXPECT_FALSE(playing.clickPlayer->isPlaying());
    EXPECT_FALSE(playing.guidePlayer->isPlaying());
    backend->clearRecording("Stage");
    const auto afterStop = renderSeconds(0.2);
    EXPECT_TRUE(silent(afterStop[4]) && silent(afterStop[6]));
    EXPECT_FALSE(silent(afterStop[2]));

    // Step k falls due at k x 50 ms: look halfway between steps.
    clock.advance(0.025);
    for (int k = 1; k <= 30; ++k) {
        clock.advance(0.05);
        player->state();
        ASSERT_FLOAT_EQ(playing.padPlayer->volume(), static_cast<float>(1.0 - k / 30.0)) << "step " << k;
    }
    EXPECT_TRUE(playing.engine->isRunning());
    clock.advance(0.1);  // retired 0.1 s after the last step
    EXPECT_TRUE(player->state().fadingOutEngines.empty());
    EXPECT_FALSE(playing.engine->isRunning());
    EXPECT_FALSE(backend->isStreamOpen("Stage"));
}

TEST_F(SongPlayerTest, StopWithoutAPadStopsAtOnceAndASecondStopCutsAFade) {
    play(Song{});
    const auto engine = player->state().engine;
    player->stop();
    const auto idle = player->state();
    EXPECT_FALSE(idle.engine);
    EXPECT_TRUE(idle.fadingOutEngines.empty());
    EXPECT_FALSE(engine->isRunning());

    play(Song{.padKey = "E", .pad = {2}});
    player->stop();
    const auto fadingEngine = player->state().fadingOutEngines.at(0);
    player->stop();
    EXPECT_TRUE(player->state().fadingOutEngines.empty());
    EXPECT_FALSE(fadingEngine->isRunning());
    clock.advance(2.0);  // the cut fade's late steps and retirement are harmless
    EXPECT_TRUE(player->state().fadingOutEngines.empty());
}

TEST_F(SongPlayerTest, ASongStopsItselfTwoSecondsAfterItsEndAndATakeOverCancelsTheOldAutoStop) {
    // One bar at 240 bpm, due to stop at 3 s, taken over at once by two bars, due at 4 s.
    ASSERT_DOUBLE_EQ(play(Song{.countInBars = 0, .entries = {{"V", 1}}}), 1.0);
    const auto first = player->state().engine;
    ASSERT_DOUBLE_EQ(play(Song{.countInBars = 0, .entries = {{"V", 2}}}), 2.0);
    const auto engine = player->state().engine;
    clock.advance(3.5);
    EXPECT_TRUE(player->state().autoStopPending);
    EXPECT_TRUE(engine->isRunning()) << "stopped before total + 2 s";
    EXPECT_TRUE(first->isRunning()) << "the old song sounds until the next stop";
    clock.advance(0.5);
    const auto finished = player->state();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(finished.engine, engine) << "the player keeps the stopped song until the next play or stop";
    EXPECT_FALSE(finished.autoStopPending);
    player->stop();
    EXPECT_FALSE(player->state().engine);
}

TEST_F(SongPlayerTest, ANewSongTakesOverAndTheOldOneSoundsUntilTheNextStop) {
    play(Song{});
    const auto first = player->state().engine;
    player->setGuideMuted(true);
    play(Song{});
    const auto second = player->state();
    EXPECT_EQ(second.fadingOutEngines, std::vector{first});
    EXPECT_TRUE(first->isRunning());
    EXPECT_EQ(second.guidePlayer->volume(), 1.0f) << "a new song's cues are audible";

    // Both songs reach the device: the click channel carries two clicks at once.
    const auto recorded = renderSeconds(0.05);
    EXPECT_FLOAT_EQ(recorded[4][10], 2.0f * ClickTrack::makeClickBuffer(true, format, clickChannels)->sample(4, 10));

    player->stop();
    EXPECT_TRUE(player->state().fadingOutEngines.empty());
    EXPECT_FALSE(first->isRunning());
    EXPECT_FALSE(second.engine->isRunning());
}

TEST_F(SongPlayerTest, GuideMuteFollowsTheScheduleAndRequests) {
    play(Song{.tempo = 60, .schedule = {{0.6, false}, {0.0, true}}});
    const auto guide = player->state().guidePlayer;
    clock.advance(0.59);
    EXPECT_TRUE(eventually([&] { return guide->volume() == 0.0f; }));
    clock.advance(0.01);
    EXPECT_TRUE(eventually([&] { return guide->volume() == 1.0f; }));
    player->setGuideMuted(true);
    EXPECT_EQ(player->state().guidePlayer->volume(), 0.0f);
    player->setGuideMuted(false);
    EXPECT_EQ(player->state().guidePlayer->volume(), 1.0f);
    player->stop();
    player->setGuideMuted(true);  // nothing playing: nothing to do
    EXPECT_FALSE(player->state().guidePlayer);
}

TEST_F(SongPlayerTest, UnplayableSettingsAreRefusedAndTheCurrentSongPlaysOn) {
    play(Song{});
    const auto engine = player->state().engine;
    const std::string badTempo = "Tempo must be a positive, finite number of beats per minute";
    const std::string tooLong = "Song too long to schedule: more than one hour";
    const std::string channelCount = "Total channels must be between 0 and 65535";
    const std::pair<Song, std::string> cases[] = {
        {{.tempo = 0.0}, badTempo}, {{.tempo = -120.0}, badTempo}, {{.tempo = NAN}, badTempo},
        {{.tempo = INFINITY}, badTempo}, {{.tempo = 1e-9}, tooLong}, {{.entries = {{"V", INT64_MAX}, {"C", 9}}}, tooLong},
        {{.beatsPerBar = 0}, "Beats per bar must be at least 1"}, {{.countInBars = -1}, "Count-in bars can't be negative"},
        {{.totalChannels = -1}, channelCount}, {{.totalChannels = 65536}, channelCount}};
    for (const auto& [song, reason] : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(errorText([&] { play(song); }), "SongPlayer 4: " + reason);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "refused before building";
    }
    EXPECT_EQ(player->state().engine, engine);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_TRUE(player->state().autoStopPending);

    // Device and layout errors come after the summary line.
    testing::internal::CaptureStdout();
    EXPECT_EQ(errorText([&] { play(Song{.totalChannels = 0}); }), "SongPlayer 3: Couldn't build 0-channel layout");
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::StartsWith("Built "));
    backend->removeDevice("Stage");
    EXPECT_EQ(errorText([&] { play(Song{}); }), "SongPlayer 2: Couldn't select device: -2");
    EXPECT_FALSE(player->state().engine);
}

} // namespace
