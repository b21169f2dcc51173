#include "CadenzoPlayer/launch/Environment.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace cadenzo;

namespace {

EnvironmentReader fakeEnvironment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
        auto it = values.find(std::string(name));
        if (it == values.end()) return std::nullopt;
        return it->second;
    };
}

TEST(EnvironmentValues, FlagIsOnOnlyForExactlyOne) {
    for (const char* off : {"true", "yes", "01", " 1", "1 ", "", "2"}) {
        EXPECT_FALSE(isFlagOn(fakeEnvironment({{"F", off}}), "F")) << "'" << off << "'";
    }
    EXPECT_TRUE(isFlagOn(fakeEnvironment({{"F", "1"}}), "F"));
    EXPECT_FALSE(isFlagOn(fakeEnvironment({}), "F"));
}

TEST(EnvironmentValues, IntegersAreStrict) {
    EXPECT_EQ(parseInteger("+3"), 3);
    EXPECT_EQ(parseInteger("-12"), -12);
    EXPECT_EQ(parseInteger("007"), 7);
    EXPECT_EQ(parseInteger("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"3.0", "3 ", " 3", "", "+", "-", "+-3", "1e2", "0x10", "9223372036854775808"}) {
        EXPECT_EQ(parseInteger(bad), std::nullopt) << "'" << bad << "'";
    }
}

TEST(EnvironmentValues, NumbersReadTheWholeTextInTheCLocale) {
    EXPECT_EQ(parseNumber("1e2"), 100.0);
    EXPECT_EQ(parseNumber("120.5"), 120.5);
    EXPECT_EQ(parseNumber("+7"), 7.0);
    EXPECT_EQ(parseNumber("0x10"), 16.0);
    EXPECT_EQ(parseNumber(".5"), 0.5);
    for (const char* bad : {"", " 120", "\t1", "\n1", "120 ", "abc", "120,5", "inf", "nan", "-infinity", "1e999"}) {
        EXPECT_EQ(parseNumber(bad), std::nullopt) << "'" << bad << "'";
    }
}

TEST(EnvironmentValues, ListsDropEmptyAndInvalidPieces) {
    EXPECT_EQ(parseIntegerList("5,6"), (std::vector<std::int64_t>{5, 6}));
    EXPECT_EQ(parseIntegerList(",,5,,6,"), (std::vector<std::int64_t>{5, 6}));
    EXPECT_EQ(parseIntegerList("5, 6"), (std::vector<std::int64_t>{5}));
    EXPECT_EQ(parseIntegerList("3,3,1"), (std::vector<std::int64_t>{3, 3, 1}));
    EXPECT_TRUE(parseIntegerList("x").empty());
    EXPECT_EQ(splitList(",a,,b c,"), (std::vector<std::string>{"a", "b c"}));
    EXPECT_TRUE(splitList("").empty());
}

TEST(EnvironmentValues, ChannelsBecomeZeroBased) {
    EXPECT_EQ(toZeroBasedChannels({1, 5, 0, -2}), (std::vector<std::int64_t>{0, 4, -1, -3}));
    EXPECT_EQ(toZeroBasedChannels({INT64_MIN, 2}), (std::vector<std::int64_t>{1}));
}

TEST(ConsoleText, Conventions) {
    EXPECT_EQ(formatIntegerList({5, 6}), "[5, 6]");
    EXPECT_EQ(formatIntegerList({-1}), "[-1]");
    EXPECT_EQ(formatIntegerList({}), "[]");
    EXPECT_EQ(formatTempo(120.7), "120");
    EXPECT_EQ(formatTempo(90.9), "90");
    EXPECT_EQ(formatTempo(-0.5), "0");
    EXPECT_EQ(formatTempo(-3.9), "-3");
    EXPECT_EQ(formatTempo(1e20), "100000000000000000000");
    EXPECT_EQ(formatSeconds(30), "30.0");
    EXPECT_EQ(formatSeconds(12.5), "12.5");
    EXPECT_EQ(formatSeconds(0.1), "0.1");
    EXPECT_EQ(formatSeconds(-2), "-2.0");
    EXPECT_EQ(describeSongMap(parseSections("In:2,V:4,Ch:4,Out:2")), "In(2) V(4) Ch(4) Out(2)");
    EXPECT_EQ(describeSongMap({}), "");
}

TEST(LaunchModeChoice, FirstMatchingRuleWins) {
    EXPECT_EQ(chooseLaunchMode(fakeEnvironment({})), LaunchMode::webHost);
    EXPECT_EQ(chooseLaunchMode(fakeEnvironment({{"TEST_SONG", "1"}, {"TEST_CLICK", "1"}, {"TEST_DEVICE", "x"}})),
              LaunchMode::songTest);
    EXPECT_EQ(chooseLaunchMode(fakeEnvironment({{"TEST_CLICK", "1"}, {"TEST_DEVICE", "x"}})), LaunchMode::clickTest);
    EXPECT_EQ(chooseLaunchMode(fakeEnvironment({{"TEST_SONG", "1"}})), LaunchMode::webHost);
    EXPECT_EQ(chooseLaunchMode(fakeEnvironment({{"TEST_CLICK", "yes"}, {"TEST_DEVICE", "x"}})), LaunchMode::deviceTest);
    EXPECT_EQ(chooseLaunchMode(fakeEnvironment({{"TEST_DEVICE", ""}})), LaunchMode::deviceTest);
}

TEST(ModeSettings, DefaultsWhenNothingIsSet) {
    const SongTestSettings song = readSongTestSettings(fakeEnvironment({}));
    EXPECT_EQ(song.clickChannels, (std::vector<std::int64_t>{5}));
    EXPECT_EQ(song.guideChannels, (std::vector<std::int64_t>{7}));
    EXPECT_TRUE(song.padChannels.empty());
    EXPECT_FALSE(song.padKey);
    EXPECT_FALSE(song.padChords);
    EXPECT_EQ(song.tempo, 100);
    EXPECT_EQ(song.entries, parseSections("In:2,V:4,Ch:4,Out:2"));
    EXPECT_TRUE(song.guideMuteSchedule.empty());
    EXPECT_FALSE(song.stopAt);

    const ClickTestSettings click = readClickTestSettings(fakeEnvironment({}));
    EXPECT_EQ(click.channels, (std::vector<std::int64_t>{1}));
    EXPECT_EQ(click.songBars, (std::vector<std::int64_t>{4, 4, 8}));

    const DeviceTestSettings device = readDeviceTestSettings(fakeEnvironment({{"TEST_CHANNEL", "x"}}));
    EXPECT_EQ(device.channel, 1);
    EXPECT_EQ(device.requestedChannelCount, 8);
}

TEST(ModeSettings, InvalidValuesFallBackAndListsDoNot) {
    const SongTestSettings song = readSongTestSettings(fakeEnvironment({{"TEMPO", " 120"},
                                                                        {"BEATS_PER_BAR", "3.0"},
                                                                        {"COUNT_IN_BARS", ""},
                                                                        {"CLICK_CHANNEL", "x"},
                                                                        {"PAD_CHORDS", ""},
                                                                        {"START_SECTION", "-1"},
                                                                        {"STOP_AT", "soon"}}));
    EXPECT_EQ(song.tempo, 100);
    EXPECT_EQ(song.beatsPerBar, 4);
    EXPECT_EQ(song.countInBars, 2);
    EXPECT_TRUE(song.clickChannels.empty());
    ASSERT_TRUE(song.padChords);
    EXPECT_TRUE(song.padChords->empty());
    EXPECT_EQ(song.startSection, -1);
    EXPECT_FALSE(song.stopAt);

    const ClickTestSettings click =
        readClickTestSettings(fakeEnvironment({{"TEMPO", "1e2"}, {"BEATS_PER_BAR", "+3"}, {"SONG_BARS", "x,y"}}));
    EXPECT_EQ(click.tempo, 100);
    EXPECT_EQ(click.beatsPerBar, 3);
    EXPECT_TRUE(click.songBars.empty());
}

TEST(ModeSettings, MutePairComesFirstWhateverTheTimes) {
    const SongTestSettings both =
        readSongTestSettings(fakeEnvironment({{"GUIDE_MUTE_AT", "10"}, {"GUIDE_UNMUTE_AT", "5"}}));
    EXPECT_EQ(both.guideMuteSchedule, (std::vector<std::pair<double, bool>>{{10.0, true}, {5.0, false}}));

    const SongTestSettings unmuteOnly =
        readSongTestSettings(fakeEnvironment({{"GUIDE_MUTE_AT", "later"}, {"GUIDE_UNMUTE_AT", "2.5"}}));
    EXPECT_EQ(unmuteOnly.guideMuteSchedule, (std::vector<std::pair<double, bool>>{{2.5, false}}));
}

TEST(DeviceMatching, NameFragmentIsCaseSensitiveAndFirstWins) {
    using CoreAudioDevices::Device;
    const std::vector<Device> devices = {{1, "alsa:Studio A", "Studio A", 2},
                                         {2, "jack:system", "system", 8},
                                         {3, "alsa:Studio B", "Studio B", 16}};
    EXPECT_EQ(matchDeviceByName(devices, "Studio")->id, 1u);
    EXPECT_EQ(matchDeviceByName(devices, "dio B")->id, 3u);
    EXPECT_FALSE(matchDeviceByName(devices, "studio"));
    EXPECT_FALSE(matchDeviceByName(devices, ""));
    EXPECT_EQ(CoreAudioDevices::deviceWithUid(devices, "jack:system")->id, 2u);
    EXPECT_FALSE(CoreAudioDevices::deviceWithUid(devices, "JACK:system"));
}

} // namespace
