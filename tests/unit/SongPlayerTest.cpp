#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include "CadenzoPlayer/dispatch/ManualClock.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"
#include "CadenzoPlayer/sources/GuideSounds.hpp"
#include "CadenzoPlayer/sources/PadPlayer.hpp"
#include "CadenzoPlayer/timeline/Timeline.hpp"
#include "ErrorText.hpp"
#include "Eventually.hpp"
#include "VirtualDeviceFixture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace cadenzo;

namespace {

constexpr std::uint32_t channels = 8;
const AudioFormat format{48000, channels};
const std::vector<std::int64_t> clickChannels = {4}, guideChannels = {6}, padChannel = {2};
using Chords = std::optional<std::vector<std::string>>;

struct Song {
    double tempo = 240;
    std::int64_t beatsPerBar = 4, countInBars = 1;
    std::vector<MapEntry> entries = parseSections("In:1,V:2,Zz:1");
    std::int64_t startSection = 0;
    std::optional<std::string> padKey{};
    std::vector<std::int64_t> pad{};
    Chords padChords{};
    SongPlayer::GuideMuteSchedule schedule{};
    std::int64_t totalChannels = channels;
    bool guideMuted = false;
    SongSettings::Levels levels{};
    std::string title = "Opener";
};

// The chords of `symbols` in `key`, then bars without a chord up to `bars`.
std::vector<std::optional<BarChords>> chart(const std::vector<std::string>& symbols, int key, std::size_t bars) {
    std::vector<std::optional<BarChords>> chords;
    for (const auto& symbol : symbols) chords.push_back(parseBar(symbol, key));
    chords.resize(bars);
    return chords;
}

class SongPlayerTest : public VirtualDevices {
protected:
    void SetUp() override {
        VirtualDevices::SetUp();
        backend->addDevice("Stage", channels);
        player = SongPlayer::make(log);
    }
    void TearDown() override {
        player.reset();
        VirtualDevices::TearDown();
    }

    double play(const Song& song) {
        const CoreAudioDevices::Device device{idOf("Stage"), VirtualDeviceBackend::uidFor("Stage"), "Stage", channels};
        return player->play(device, {clickChannels, guideChannels, song.pad, song.totalChannels, song.tempo,
                                     song.beatsPerBar, song.countInBars, song.entries, song.startSection, song.padKey,
                                     song.padChords, song.schedule, song.guideMuted, song.levels, song.title});
    }

    // What the player has said since the last call.
    std::string logged() { return std::exchange(log, std::ostringstream()).str(); }

    // What the device receives from now on, for `seconds`, while the clock goes with it a quarter second at a time
    // and the player's queue keeps up (it feeds the pad).
    std::vector<std::vector<float>> playSeconds(double seconds) {
        backend->clearRecording("Stage");
        for (std::size_t frames = static_cast<std::size_t>(seconds * 48000); frames > 0;) {
            const std::size_t step = std::min<std::size_t>(frames, 12000);
            clock.advance(0.25);
            player->state();
            EXPECT_TRUE(backend->render("Stage", step));
            frames -= step;
        }
        return backend->recording("Stage");
    }

    // What the device receives from now on, for `seconds`.
    std::vector<std::vector<float>> renderSeconds(double seconds) {
        backend->clearRecording("Stage");
        EXPECT_TRUE(backend->render("Stage", static_cast<std::size_t>(seconds * 48000)));
        return backend->recording("Stage");
    }

    ManualClock clock;  // delayed tasks wait for it
    std::ostringstream log;  // declared first: the player writes to it until it goes
    std::shared_ptr<SongPlayer> player;
};

TEST_F(SongPlayerTest, EverySoundLandsOnItsSampleAndChannel) {
    // At 200 bpm the third beat sums to 0.8999999999999999 s, and starts on sample 43199.
    const Song song{.tempo = 200, .padKey = "G", .pad = {2, 3}, .padChords = Chords{{"1", "4", "5", "6-"}}};
    logged();
    const double total = play(song);
    EXPECT_EQ(logged(), "Built 33 events (click + guide), 6.00s total.\n");
    const auto recorded = playSeconds(6.6);
    ASSERT_EQ(recorded.size(), channels);

    std::vector<float> click(recorded[0].size()), guide(recorded[0].size());
    // The bundle's spoken cues (the build makes one for each line of the vocabulary, and fits it in a beat at
    // 120 bpm); Zz has none, and the synthesised beep stands in.
    EXPECT_EQ(std::tuple(!loadGuideSound("In"), !loadGuideSound("2"), !loadGuideSound("Zz")), std::tuple(0, 0, 1));
    for (const TimelineEvent& event : buildTimeline(4, 1, song.entries, 0, 200).events) {
        const auto at = static_cast<std::size_t>(event.time * 48000.0);
        if (event.kind.isClick()) {
            mixAt(click, *ClickTrack::makeClickBuffer(event.kind.accent(), format, clickChannels), 4, at);
        } else if (const auto cue = loadGuideSound(event.kind.label())) {
            mixAt(guide, *cue, 0, at);  // placed on the guide channel as it is
        } else {
            mixAt(guide, *makeFallbackCue(event.kind.label(), format, guideChannels), 6, at);
        }
    }
    const auto pad = PadPlayer::renderPad("G", 1.2, total, format, song.pad, 1, chart({"1", "4", "5", "6-"}, 7, 4));
    for (std::uint32_t i = 0; i < click.size(); ++i) {
        ASSERT_EQ(recorded[4][i], click[i]) << "click channel, frame " << i;
        ASSERT_NEAR(recorded[6][i], guide[i], 1e-6) << "guide channel, frame " << i;
        ASSERT_EQ(recorded[2][i], pad->sample(2, i)) << "pad, frame " << i;
    }
    EXPECT_EQ(recorded[3], recorded[2]);
    for (std::uint32_t c : {0u, 1u, 5u, 7u}) EXPECT_TRUE(silent(recorded[c])) << "channel " << c;
}

TEST_F(SongPlayerTest, ARenderWithoutADeviceIsWhatTheDeviceReceivesSampleForSample) {
    const Song song{.tempo = 200, .entries = parseSections("In:1,V:2"), .padKey = "G", .pad = {2, 3},
                    .padChords = Chords{{"1", "4", "5"}}, .levels = {-3, 2, -1}};
    const double total = play(song);
    // Up to the player's own stop after the end, which the render reaches too.
    const auto played = playSeconds(total + SongPlayer::autoStopMarginSeconds - 0.25);
    std::vector<std::vector<float>> rendered(channels);
    const std::int64_t frames = player->render(
        {clickChannels, guideChannels, song.pad, std::nullopt, song.tempo, song.beatsPerBar, song.countInBars,
         song.entries, song.startSection, song.padKey, song.padChords, {}, song.guideMuted, song.levels},
        channels, [&](const float* const* samples, std::uint32_t count) {
            for (std::size_t c = 0; c < channels; ++c) rendered[c].insert(rendered[c].end(), samples[c], samples[c] + count);
        });
    EXPECT_EQ(frames, std::int64_t((total + SongPlayer::autoStopMarginSeconds) * 48000));
    for (std::size_t c = 0; c < channels; ++c) {
        rendered[c].resize(played[c].size());
        EXPECT_EQ(rendered[c], played[c]) << "channel " << c;
    }
    EXPECT_FALSE(silent(rendered[2]) || silent(rendered[4]) || silent(rendered[6]));
}

TEST_F(SongPlayerTest, ASectionAtItsOwnTempoStartsOnTheFrameOfTheSummedBeatsAndThePadChangesThere) {
    // A bar of 3/4 at 200 bpm sums to 0.8999999999999999 s: B, at 120 bpm in 4/4, starts on frame 43199. The
    // song's own tempo and metre are nowhere.
    double b = 0.0;
    for (int beat = 0; beat < 3; ++beat) b = 0.3 + b;
    ASSERT_EQ(static_cast<int>(b * 48000), 43199);
    const double total = play(Song{.tempo = 90, .beatsPerBar = 5, .countInBars = 0,
                                   .entries = {{"A", 1, 200.0, 3}, {"B", 1, 120.0, 4}}, .padKey = "C", .pad = {2},
                                   .padChords = Chords{{"1", "4"}}});
    const auto recorded = playSeconds(total);
    const auto accent = ClickTrack::makeClickBuffer(true, format, clickChannels);
    for (std::uint32_t i = 0; i < accent->frameLength(); ++i) {
        ASSERT_EQ(recorded[4][43199 + i], accent->sample(4, i)) << "B's first click, frame " << i;
    }
    // The pad fades in over A's bar and turns to F on B's bar line, crossfading over a part of B's bar.
    BarGrid bars(barDuration(200, 3));
    bars.change(1, b, 2.0);
    const auto pad = PadPlayer::renderPad("C", bars, total, format, padChannel, 0, chart({"1", "4"}, 0, 2));
    for (std::uint32_t i = 0; i < recorded[2].size(); ++i) ASSERT_EQ(recorded[2][i], pad->sample(2, i)) << i;
}

TEST_F(SongPlayerTest, ThePadPlaysTheChartFromTheFirstBarPlayedThenTheTonicOrWithoutAChartADrone) {
    const Song later{.tempo = 100, .countInBars = 2, .entries = parseSections("In:2,V:4,Ch:4,Out:2"),
                     .startSection = 1, .padKey = "C", .pad = {2},
                     .padChords = std::vector<std::string>{"1", "4", "5", "6-", "2-7", "57"}};
    const std::pair<Song, PcmBufferPtr> cases[] = {
        // From bar 1 of the song, with no count-in before it.
        {later, PadPlayer::renderPad("C", 2.4, 26.4, format, padChannel, 0, chart({"4", "5", "6-"}, 0, 11))},
        {{.padKey = "C", .pad = {2}, .padChords = Chords{{"4"}}},
         PadPlayer::renderPad("C", 1.0, 5.0, format, padChannel, 1, chart({"4"}, 0, 4))},
        {{.padKey = "C", .pad = {2}, .padChords = Chords{{"1", "[4 5]"}}},
         PadPlayer::renderPad("C", 1.0, 5.0, format, padChannel, 1, chart({"1", "[4 5]"}, 0, 4))},
        {{.padKey = "A", .pad = {2}}, PadPlayer::makeDronePad("A", 1.0, 5.0, format, padChannel)}};
    for (const auto& [song, pad] : cases) {
        player->stop();
        player->stop();  // a second stop cuts a fade short
        EXPECT_TRUE(player->state().fadingOutEngines.empty());
        logged();
        play(song);
        EXPECT_THAT(logged(), testing::EndsWith(song.startSection == 1
            ? "26.40s total (starting at section 1, skipping the count-in).\n" : "5.00s total.\n"));
        const auto recorded = playSeconds(5.6);
        for (std::uint32_t i = 0; i < recorded[2].size(); ++i) ASSERT_EQ(recorded[2][i], pad->sample(2, i)) << i;
    }
    // Three hours with a chart: played while it is being rendered, nothing held back for its length.
    player->stop();
    player->stop();
    logged();
    EXPECT_EQ(play(Song{.tempo = 120, .entries = {{"A", 5400}}, .padKey = "C", .pad = {2}, .padChords = Chords{{"4"}}}),
              10802.0);
    const auto start = PadPlayer::PadStream::chart("C", 2.0, 10802.0, format, padChannel, 1, chart({"4"}, 0, 5400))
                           ->render(0, 48000);
    const auto recorded = playSeconds(1.0);
    for (std::uint32_t i = 0; i < 48000; ++i) ASSERT_EQ(recorded[2][i], start->sample(2, i)) << i;
    logged();
    play(Song{.padKey = "H\x01" + std::string(40, 'x'), .pad = {2}, .padChords = Chords{{"1"}}});
    EXPECT_THAT(logged(),
                testing::EndsWith("Pad: couldn't build a buffer for key 'H?" + std::string(38, 'x') + "...'.\n"));
    EXPECT_FALSE(player->state().padPlayer->isPlaying());
    play(Song{.padKey = "C"});  // no pad channels: no pad
    EXPECT_FALSE(player->state().padPlayer->isPlaying());
}

TEST_F(SongPlayerTest, JumpsAndVampsPlayOnTheGridAsTheSongWrittenThatWayWould) {
    // At 240 bpm a bar is a second (a verse bar 1 s too, at 180 in 3/4). Each case: the song, what is done 2.3 s in and 4.3 s in, and the song that
    // sounds the same, click for click and cue for cue.
    const std::function<void()> jumpToOut = [&] { player->jumpToSection(3, true); },
                                vampOn = [&] { player->setVamp(true); }, vampOff = [&] { player->setVamp(false); },
                                nothing = [] {};
    const std::tuple<const char*, std::function<void()>, std::function<void()>, const char*> cases[] = {
        {"In:1,V:2,Ch:2,Out:1", jumpToOut, nothing, "In:1,V:2,Out:1"},
        // Further ahead than the song is handed to the nodes.
        {"In:1,V:7,Ch:2,Out:1", jumpToOut, nothing, "In:1,V:7,Out:1"},
        {"In:1,V:2,Out:1", vampOn, vampOff, "In:1,V:2,V:2,Out:1"},
        // The next pass is planned while this one plays: a jump to the end of the section ends this one.
        {"In:1,V:2,Out:1", vampOn, [&] { player->jumpToSection(2, true); }, "In:1,V:2,V:2,Out:1"},
    };
    const auto record = [&](const char* map, const std::function<void()>& at2, const std::function<void()>& at4,
                            double& total) {
        // The verse at its own tempo and metre.
        std::vector<MapEntry> entries = parseSections(map);
        for (MapEntry& entry : entries)
            if (entry.label == "V") entry.tempo = 180, entry.beatsPerBar = 3;
        const double length = play(Song{.tempo = 240, .countInBars = 1, .entries = entries, .padKey = "C",
                                       .pad = {2}, .padChords = Chords{{"1", "4", "5", "6-", "2-", "4", "5"}}});
        if (total == 0) total = length;
        auto recorded = playSeconds(2.3);
        at2();
        for (const double seconds : {2.0, total - 3.3}) {
            const auto more = playSeconds(seconds);
            for (std::size_t c = 0; c < channels; ++c) recorded[c].insert(recorded[c].end(), more[c].begin(), more[c].end());
            if (seconds == 2.0) at4();
        }
        player->stop();
        return recorded;
    };
    for (const auto& [map, at2, at4, written] : cases) {
        double total = 0;
        const auto expected = record(written, nothing, nothing, total), played = record(map, at2, at4, total);
        // Each click and cue within a frame of the written song's (whose times are sums over other bars): where
        // two words overlap, each may be a frame off its own way, so a sample need only be close.
        for (const int c : {4, 6}) {
            float apart = 0;
            for (std::size_t i = 1; i + 1 < played[c].size(); ++i) {
                float nearest = 1;
                for (const int shift : {-1, 0, 1}) nearest = std::min(nearest, std::abs(played[c][i] - expected[c][i + shift]));
                apart = std::max(apart, nearest);
            }
            EXPECT_LT(apart, 0.15f) << map << ", channel " << c;
        }
        float step = 0;  // the pad crosses to its new chart without a click
        for (std::size_t i = 1; i < played[2].size(); ++i) step = std::max(step, std::abs(played[2][i] - played[2][i - 1]));
        EXPECT_LT(step, 0.02f) << map << ": pad";
    }
    EXPECT_EQ(errorText([&] { player->jumpToSection(0, false); }), "SongPlayer 7: Nothing is playing");
    play(Song{.entries = parseSections("A:4")});
    EXPECT_EQ(errorText([&] { player->jumpToSection(1, false); }),
              "SongPlayer 8: Section 1 is out of range: the song has 1 section");
}

TEST_F(SongPlayerTest, ThePositionIsTheBarAndBeatSoundingCountedOnTheChartAfterAJump) {
    const auto where = [&] {
        const SongPlayer::Position at = player->position();
        return at.playing ? at.title + " " + std::to_string(at.section) + " " + at.sectionLabel + " " +
                                std::to_string(at.bar) + "." + std::to_string(at.beat)
                          : "stopped";
    };
    EXPECT_EQ(where(), "stopped");
    play(Song{});  // a bar a second: count-in, In:1, V:2, Zz:1
    logged();
    // Seconds to play on, then where the song is; in V's second bar the song jumps back to V at the next bar.
    const std::pair<double, std::string> steps[] = {
        {0.1, "Opener -1 Count-in 1.1"}, {0.5, "Opener -1 Count-in 1.3"}, {0.5, "Opener 0 In 1.1"},
        {1.3, "Opener 1 V 1.2"}, {1.2, "Opener 1 V 2.3"}, {0.6, "Opener 1 V 1.1"}, {1.0, "Opener 1 V 2.1"},
        {1.0, "Opener 2 Zz 1.1"}, {1.0, "stopped"}};
    for (const auto& [seconds, position] : steps) {
        playSeconds(seconds);
        EXPECT_EQ(where(), position);
        if (position.ends_with("V 2.3")) player->jumpToSection(1, false);
    }
}

TEST_F(SongPlayerTest, StopCutsClicksAndCuesAndFadesThePadOutInThirtySteps) {
    play(Song{.padKey = "C", .pad = {2}});
    const auto playing = player->state();
    player->stop();
    const auto fading = player->state();  // no song, no auto-stop; the engine fades out
    EXPECT_EQ(std::tuple(!fading.engine, fading.autoStopPending, fading.fadingOutEngines),
              std::tuple(true, false, std::vector{playing.engine}));
    const auto afterStop = renderSeconds(0.2);
    EXPECT_TRUE(silent(afterStop[4]) && silent(afterStop[6]) && !silent(afterStop[2]));
    clock.advance(0.025);  // then halfway between steps, which fall due every 50 ms
    for (int k = 1; k <= 30; ++k) {
        clock.advance(0.05);
        player->state();
        ASSERT_FLOAT_EQ(playing.padPlayer->volume(), static_cast<float>(1.0 - k / 30.0)) << "step " << k;
    }
    EXPECT_TRUE(playing.engine->isRunning());
    clock.advance(0.1);  // retired 0.1 s after the last step
    EXPECT_TRUE(player->state().fadingOutEngines.empty() && !playing.engine->isRunning());
    EXPECT_FALSE(backend->isStreamOpen("Stage"));
}

TEST_F(SongPlayerTest, ANewSongTakesOverAsAStopWouldAndEachStopsItselfTwoSecondsAfterItsEnd) {
    // Due to stop at 3 s; its pad fades when the next song takes over.
    ASSERT_DOUBLE_EQ(play(Song{.countInBars = 0, .entries = {{"V", 1}}, .padKey = "C", .pad = {2}}), 1.0);
    const auto first = player->state().engine;
    player->setGuideMuted(true);
    ASSERT_DOUBLE_EQ(play(Song{.countInBars = 0, .entries = {{"V", 2}}}), 2.0);  // due at 4 s
    const auto second = player->state();
    EXPECT_EQ(second.fadingOutEngines, std::vector{first});
    EXPECT_EQ(second.guidePlayer->volume(), 1.0f) << "a new song's cues are audible";
    // Only the new song's click reaches the device.
    const float accent = ClickTrack::makeClickBuffer(true, format, clickChannels)->sample(4, 10);
    EXPECT_FLOAT_EQ(renderSeconds(0.05)[4][10], accent);
    clock.advance(1.7);
    EXPECT_TRUE(player->state().fadingOutEngines.empty());
    EXPECT_FALSE(first->isRunning()) << "the old pad's fade retires its engine";

    clock.advance(1.8);
    EXPECT_TRUE(player->state().autoStopPending);
    EXPECT_TRUE(second.engine->isRunning()) << "stopped before total + 2 s, or by the old song's auto-stop";
    clock.advance(0.5);
    const auto finished = player->state();
    EXPECT_FALSE(second.engine->isRunning());
    EXPECT_EQ(finished.engine, second.engine) << "the player keeps the stopped song until the next play or stop";
    EXPECT_FALSE(finished.autoStopPending);
    player->stop();
    EXPECT_FALSE(player->state().engine);
}

// Mute requests reach the player as the bridge's test shows.
TEST_F(SongPlayerTest, GuideMuteFollowsTheSchedule) {
    // Muted from the start, no cue sounds while the click does, until they are unmuted.
    play(Song{.guideMuted = true});
    const auto muted = renderSeconds(1.0);
    EXPECT_TRUE(silent(muted[6]) && !silent(muted[4]));
    player->setGuideMuted(false);
    player->state();
    EXPECT_FALSE(silent(renderSeconds(1.0)[6]));

    play(Song{.tempo = 60, .schedule = {{0.6, false}, {0.0, true}}});
    const auto playing = player->state();
    const auto guide = playing.guidePlayer;
    clock.advance(0.59);
    EXPECT_TRUE(eventually([&] { return guide->volume() == 0.0f; }));
    clock.advance(0.01);
    EXPECT_TRUE(eventually([&] { return guide->volume() == 1.0f; }));
    player->stop();  // without a pad everything stops at once
    player->setGuideMuted(true);  // nothing playing: nothing to do
    EXPECT_TRUE(!player->state().guidePlayer && !playing.engine->isRunning());
}

TEST_F(SongPlayerTest, LevelsScaleEachSourceByTheirFactorAndChangeOnlyThoseNamedWhilePlaying) {
    const Song plain{.padKey = "C", .pad = {2}};
    play(plain);
    const auto reference = playSeconds(2.0);
    const auto factor = [](double dB) { return dB <= -120 ? 0.0f : static_cast<float>(std::pow(10.0, dB / 20)); };
    // Click, guide and pad; at or below -120 dB a source is silent.
    for (const SongSettings::Levels levels : {SongSettings::Levels{-6.5, -200, 6}, {-120, 3, -119.5}}) {
        player->stop();
        player->stop();
        Song song = plain;
        song.levels = levels;
        play(song);
        const auto scaled = playSeconds(2.0);
        for (std::size_t i = 0; i < reference[0].size(); ++i) {
            ASSERT_EQ(scaled[4][i], reference[4][i] * factor(levels.click)) << "click, frame " << i;
            ASSERT_NEAR(scaled[6][i], reference[6][i] * factor(levels.guide), 1e-6) << "guide, frame " << i;
            ASSERT_EQ(scaled[2][i], reference[2][i] * factor(levels.pad)) << "pad, frame " << i;
        }
    }
    // How each node glides is the engine test's; here a change reaches the nodes it names, and no other.
    player->setLevels({.click = 0, .pad = -3});
    EXPECT_EQ(errorText([&] { player->setLevels({.click = -10, .guide = 6.5}); }),
              "SongPlayer 4: Level of guide must be at most +6 dB");
    const auto state = player->state();
    EXPECT_EQ(std::tuple(state.clickPlayer->gain(), state.guidePlayer->gain(), state.padPlayer->gain()),
              std::tuple(1.0f, factor(3), factor(-3)));
    player->stop();
    EXPECT_EQ(errorText([&] { player->setLevels({.pad = 0}); }), "SongPlayer 7: Nothing is playing");
}

TEST_F(SongPlayerTest, UnplayableSettingsAreRefusedAndTheCurrentSongPlaysOn) {
    play(Song{});
    const auto engine = player->state().engine;
    const std::string badTempo = "Tempo must be a positive, finite number of beats per minute";
    const std::string tooLong = "Song too long to schedule: more than 24 hours";
    const std::pair<Song, std::string> cases[] = {
        {{.tempo = 0.0}, badTempo}, {{.tempo = -120.0}, badTempo}, {{.tempo = NAN}, badTempo},
        {{.tempo = INFINITY}, badTempo}, {{.tempo = 1e-9}, tooLong},
        {{.tempo = 750.01}, "Tempo must be at most 750 beats per minute: a faster beat is shorter than the click"},
        {{.entries = {{"V", 19999}, {"W", 2}}}, "Song too long: at most 20000 bars"},
        {{.entries = {{std::string(257, 'V'), 1}}}, "Section label too long: at most 256 bytes"},
        {{.padKey = std::string(65, 'C'), .pad = {2}}, "Pad key too long: at most 64 bytes"},
        {{.beatsPerBar = 0}, "Beats per bar must be at least 1"},
        {{.entries = {{"In", 1}, {"V", 1}, {"Ch", 1, std::nullopt, 0}}}, "Section 2 (Ch): Beats per bar must be at least 1"},
        {{.entries = {{"V", 1, 750.01}}}, "Section 0 (V): Tempo must be at most 750 beats per minute: a faster beat "
                                          "is shorter than the click"},
        {{.entries = {{"V", 1}, {"W", 1, 1e-3}}}, tooLong},
        {{.countInBars = -1}, "Count-in bars can't be negative"},
        {{.totalChannels = -1}, "Total channels can't be negative"},
        {{.levels = {.guide = 6.01}}, "Level of guide must be at most +6 dB"},
        {{.levels = {.pad = NAN}}, "Level of pad must be at most +6 dB"}};
    for (const auto& [song, reason] : cases) {
        logged();
        EXPECT_EQ(errorText([&, &song = song] { play(song); }), "SongPlayer 4: " + reason);
        EXPECT_EQ(logged(), "") << "refused before building";
    }
    EXPECT_TRUE(player->state().engine == engine && engine->isRunning() && player->state().autoStopPending);

    // A channel the output lacks plays nowhere, and says so.
    logged();
    play(Song{.totalChannels = 5});
    EXPECT_THAT(logged(), testing::EndsWith(
        "Warning: guide on channel index 6 (channel 7) is outside the 5-channel output; it plays nowhere.\n"));
    // Device and layout errors come after the summary line.
    logged();
    EXPECT_EQ(errorText([&] { play(Song{.totalChannels = 0}); }), "SongPlayer 3: Couldn't build 0-channel layout");
    EXPECT_THAT(logged(), testing::StartsWith("Built "));
    backend->removeDevice("Stage");
    EXPECT_EQ(errorText([&] { play(Song{}); }), "SongPlayer 2: Couldn't select device: -2");
    EXPECT_FALSE(player->state().engine);
}

} // namespace
