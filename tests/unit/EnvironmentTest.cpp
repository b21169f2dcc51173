#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/launch/ClickTestMode.hpp"
#include "CadenzoPlayer/launch/DeviceTestMode.hpp"
#include "CadenzoPlayer/playback/PipeWire.hpp"
#include "CadenzoPlayer/launch/SongTestMode.hpp"

#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <iostream>
#include <map>
#include <sstream>

// The console modes as the environment chooses and configures them.

using namespace cadenzo;
using Variables = std::map<std::string, std::string, std::less<>>;

namespace {

EnvironmentReader environment(Variables variables) {
    return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional(found->second);
    };
}

const std::string noStudio = "No device matching 'studio' \xE2\x80\x94 is it connected?\nstatus 1";

// A console mode's lines, with its audio call among them as JSON, then its status; with a failure the call throws it.
template <auto mode, auto read>
std::string run(std::string_view deviceText, Variables variables, const char* failure) {
    std::ostringstream out;
    const auto devices = [] { return std::vector<CoreAudioDevices::Device>{{7, "jack:Studio 8", "Studio 8", 8},
                                                                           {9, "alsa:hw:1", "Studio Phones", 2}}; };
    const auto call = [&](auto... arguments) {
        out << nlohmann::json{arguments...} << '\n';
        if (failure) throw Error("CoreAudioDevices", 3, failure);
    };
    const int status = mode(deviceText, read(environment(std::move(variables))), out, {devices, call});
    return out.str() + "status " + std::to_string(status);
}
const auto click = run<clickTestStatus, readClickTestSettings>;
const auto tone = run<deviceTestStatus, readDeviceTestSettings>;

// Plays the virtual "Studio 8" for as long as the song test waits, losing the device once it has played `loseAt`
// seconds; gives the test's lines and the player's own, then its status and the seconds the device played.
class SongTestMode : public VirtualDevices {
protected:
    void SetUp() override {
        VirtualDevices::SetUp();
        backend->addDevice("Studio 8", 8);
    }
    std::string songTest(std::string_view deviceText, Variables variables, double loseAt = INFINITY) {
        backend->clearRecording("Studio 8");
        SongTestOperations operations = SongTestOperations::system();
        operations.sleep = [&](double seconds) {
            if (backend->recordedFrames("Studio 8") >= loseAt * 48000) backend->removeDevice("Studio 8");
            backend->render("Studio 8", static_cast<std::size_t>(std::llround(seconds * 48000)));
        };
        testing::internal::CaptureStdout();
        const int status = songTestStatus(deviceText, readSongTestSettings(environment(std::move(variables))), std::cout, operations);
        std::ostringstream played;
        played << "status " << status << ", played " << backend->recordedFrames("Studio 8") / 48000.0 << " s";
        return testing::internal::GetCapturedStdout() + played.str();
    }
};


} // namespace

TEST(EnvironmentValues, NumbersAreTheWholeTextAndConsoleTextKeepsItsConventions) {
    const std::pair<const char*, std::optional<std::int64_t>> integers[] = {{"+3", 3}, {"007", 7},
        {"-9223372036854775808", INT64_MIN}, {"9223372036854775807", INT64_MAX}, {"9223372036854775808", {}},
        {"-9223372036854775809", {}}, {"3.0", {}}, {" 3", {}}, {"", {}}, {"+", {}}, {"-", {}}, {"+-3", {}}};
    for (const auto& [text, expected] : integers) EXPECT_EQ(parseInteger(text), expected) << "'" << text << "'";
    const std::pair<const char*, std::optional<double>> numbers[] = {{"1e2", 100}, {"0x10", 16}, {".5", 0.5}, {"", {}},
        {"\t1", {}}, {"\n1", {}}, {"120 ", {}}, {"120,5", {}}, {"abc", {}}, {"inf", {}}, {"nan", {}}, {"1e999", {}}};
    for (const auto& [text, expected] : numbers) EXPECT_EQ(parseNumber(text), expected) << "'" << text << "'";
    // Seconds always show a decimal; tempos are cut toward zero.
    EXPECT_EQ(formatSeconds(12.5) + formatSeconds(0.1) + formatSeconds(-2) + formatTempo(-0.5), "12.5" "0.1" "-2.0" "0");
    EXPECT_EQ(formatSeconds(1e-4) + " " + formatSeconds(1e5), "0.0001 100000.0");
}

TEST(LaunchModeChoice, ASetDeviceTextChoosesAConsoleModeAndExactlyOneTurnsOnSongOrClick) {
    const std::pair<Variables, LaunchMode> cases[] = {{{}, LaunchMode::webHost}, {{{"TEST_SONG", "1"}}, LaunchMode::webHost},
        {{{"TEST_CLICK", "1"}}, LaunchMode::webHost}, {{{"TEST_DEVICE", ""}}, LaunchMode::deviceTest},
        {{{"TEST_CLICK", " 1"}, {"TEST_DEVICE", "x"}}, LaunchMode::deviceTest},
        {{{"TEST_SONG", "1"}, {"TEST_CLICK", "1"}, {"TEST_DEVICE", "x"}}, LaunchMode::songTest},
        {{{"TEST_SONG", "true"}, {"TEST_CLICK", "1"}, {"TEST_DEVICE", "x"}}, LaunchMode::clickTest}};
    for (const auto& [variables, mode] : cases) EXPECT_EQ(chooseLaunchMode(environment(variables)), mode);
}

TEST(LaunchModeChoice, OnlyPipeWireWithoutJackRestartsTheProgramOnItsJackLibraryAndOnlyOnce) {
    // JACK answers, PipeWire answers, its JACK library exists, restarted already.
    const std::pair<SoundServerFacts, bool> cases[] = {{{false, true, true, false}, true},
        {{true, true, true, false}, false}, {{false, false, true, false}, false}, {{false, true, false, false}, false},
        {{false, true, true, true}, false}};
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(shouldRestartOnPipeWire(cases[i].first), cases[i].second) << i;
}

TEST(PipeWireHints, TwoChannelSinksOfACardPlayingAnotherProfileThanItsProAudioOneAreHinted) {
    const auto card = [](int id, const char* offered, const char* active) {
        return nlohmann::json{{"id", id}, {"info", {{"props", {{"media.class", "Audio/Device"}}},
            {"params", {{"EnumProfile", {{{"name", "off"}}, {{"name", offered}}}}, {"Profile", {{{"name", active}}}}}}}}};
    };
    const auto node = [](const char* type, int card, const char* description) {
        return nlohmann::json{{"info", {{"props", {{"media.class", type}, {"device.id", card}, {"node.description", description}}}}}};
    };
    const nlohmann::json dump{card(40, "pro-audio", "output:analog-stereo"), card(41, "pro-audio", "pro-audio"),
        card(42, "output:analog-stereo", "output:analog-stereo"), node("Audio/Sink", 40, "A"), node("Audio/Sink", 41, "B"),
        node("Audio/Sink", 42, "C"), node("Audio/Source", 40, "A in"), 7};
    EXPECT_EQ(stereoProfileSinks(dump), std::set<std::string>{"A"});
    std::vector<OutputDevice> devices{{1, "jack:A", "A", 2}, {2, "jack:A", "A", 8}, {3, "pulse:A", "A", 2}, {4, "jack:B", "B", 2}};
    addProAudioHints(devices, {"A"});
    EXPECT_TRUE(devices[0].hint.find("\"Pro Audio\" profile") != std::string::npos &&
                devices[1].hint + devices[2].hint + devices[3].hint == "");
}

TEST(ModeSettings, ChordsMuteTimesAndWebHostSettingsAreReadAsGiven) {
    // The console lines below show the other settings. The mute pair comes first whatever the times.
    using Schedule = std::vector<std::pair<double, bool>>;
    const auto song = readSongTestSettings(environment({{"PAD_CHORDS", ",1,,4/6"}, {"GUIDE_MUTE_AT", "10"},
                                                        {"GUIDE_UNMUTE_AT", "5"}})).song;
    EXPECT_EQ(std::tie(song.padChords, song.guideMuteSchedule),
              std::tuple(std::vector<std::string>{"1", "4/6"}, Schedule{{10, true}, {5, false}}));
    const auto odd =
        readSongTestSettings(environment({{"PAD_CHORDS", ""}, {"GUIDE_MUTE_AT", "x"}, {"GUIDE_UNMUTE_AT", "2.5"}})).song;
    EXPECT_EQ(std::tie(odd.padChords, odd.guideMuteSchedule), std::tuple(std::vector<std::string>{}, Schedule{{2.5, false}}));
    const auto web = readWebHostSettings(environment({{"LOAD_URL", ""}, {"SELF_TEST", "1"}, {"BRIDGE_TEST_PAGE", "1"}}));
    EXPECT_TRUE(web.loadAddress == "" && web.selfTestEnabled && web.bridgeTestPage);
}

TEST(ClickTestMode, RestatesTheSettingsAndPlaysOnTheFirstMatchWithChannelsFromZero) {
    const std::string studio = "Targeting Studio 8, channel(s) [1], 100bpm, 4/4, 2-bar count-in, song bars: [4, 4, 8].\n"
                               "Listen now...\n[7,8,[0],8,4,2,[4,4,8],100.0]\n";
    EXPECT_EQ(click("Studio", {}, nullptr), studio + "Done.\nstatus 0");
    // Channels pass on from zero, but the smallest integer has none below it.
    EXPECT_EQ(click("Phones", {{"TEST_CHANNEL", "1,,-9223372036854775808,2"}, {"TEST_CHANNELS", "6"}, {"TEMPO", "72.5"},
                               {"BEATS_PER_BAR", "+7"}, {"COUNT_IN_BARS", "0"}, {"SONG_BARS", "8"}}, nullptr),
              "Targeting Studio Phones, channel(s) [1, -9223372036854775808, 2], 72bpm, 7/4, 0-bar count-in, song bars: [8].\n"
              "Listen now...\n[9,2,[0,1],6,7,0,[8],72.5]\nDone.\nstatus 0");
    EXPECT_EQ(click("studio", {}, nullptr), noStudio);
    EXPECT_EQ(click("Studio", {}, "Couldn't build 0-channel layout"),
              studio + "FAILED: Couldn't build 0-channel layout\nstatus 1");
}

TEST(DeviceTestMode, ListsEveryDeviceAndTonesTheFirstMatchOnTheChannelFromOne) {
    const std::string listing = "Output devices found:\n  - Studio 8 (8 channel(s))\n  - Studio Phones (2 channel(s))\n\n";
    const std::string listen = " only.\nWatch the interface's meters / listen now...\n";
    const std::string done = "Done \xE2\x80\x94 no errors. Did it land on channel ";
    EXPECT_EQ(tone("Studio", {{"TEST_CHANNEL", "3"}, {"TEST_CHANNELS", "4"}}, nullptr),
              listing + "Targeting Studio 8, requesting 4-channel output, tone on channel 3" + listen + "[7,8,2,4]\n" + done +
                  "3?\nstatus 0");
    EXPECT_EQ(tone("Studio", {{"TEST_CHANNEL", "x"}}, "Could not build 8-channel layout"),
              listing + "Targeting Studio 8, requesting 8-channel output, tone on channel 1" + listen +
                  "[7,8,0,8]\nFAILED: Could not build 8-channel layout\nstatus 1");
    EXPECT_EQ(tone("studio", {}, nullptr), listing + noStudio);
}

TEST_F(SongTestMode, RestatesTheSongPlaysItAndWaitsUntilTheDeviceHasPlayedItsEndOrTheStopTime) {
    const std::string start = "Targeting Studio 8 \xE2\x80\x94 click ch [5], guide ch [7], ";
    const std::string sections = "sections: In(2) V(4) Ch(4) Out(2)", listen = "Listen now...\nBuilt ";
    const std::string song =
        start + "100bpm, 4/4, 2-bar count-in, " + sections + ".\n" + listen + "75 events (click + guide), 33.60s total.\n";
    EXPECT_EQ(songTest("Studio", {}), song + "Done.\nstatus 0, played 35.6 s");
    EXPECT_EQ(songTest("Studio", {{"STOP_AT", "5"}, {"TEMPO", " 120"}}),
              song + "Stopping early at 5.0s...\nDone.\nstatus 0, played 5 s");  // no stream after the stop
    // The pad is named only with a key; a start section from 1 on is named and skips the count-in.
    EXPECT_EQ(songTest("Studio", {{"PAD_KEY", "G"}, {"PAD_CHANNEL", "3"}, {"START_SECTION", "1"}, {"TEMPO", "90.9"}}),
              start + "pad ch [3] key G, 90bpm, 4/4, 2-bar count-in, " + sections + ", starting at section 1.\n" + listen +
                  "57 events (click + guide), 29.04s total (starting at section 1, skipping the count-in).\n"
                  "Done.\nstatus 0, played 31.0429 s");
    EXPECT_EQ(songTest("Studio", {{"CLICK_CHANNEL", "x"}, {"GUIDE_CHANNEL", "2"}, {"PAD_CHANNEL", "3"}, {"SECTIONS", "none"},
                                  {"START_SECTION", "-1"}, {"BEATS_PER_BAR", "3"}, {"COUNT_IN_BARS", "1"}, {"STOP_AT", "x"}}),
              "Targeting Studio 8 \xE2\x80\x94 click ch [], guide ch [2], 100bpm, 3/4, 1-bar count-in, sections: .\n" +
                  listen + "3 events (click + guide), 1.80s total.\nDone.\nstatus 0, played 3.8 s");
    EXPECT_EQ(songTest("Studio", {{"TEST_CHANNELS", "0"}}), song + "FAILED: Couldn't build 0-channel layout\nstatus 1, played 0 s");
    EXPECT_EQ(songTest("studio", {}), noStudio + ", played 0 s");
    // A device lost midway fails the test at once.
    EXPECT_EQ(songTest("Studio", {}, 3), song + "FAILED: Lost the output device Studio 8 (virtual:Studio 8): it was "
                                                "unplugged, or its audio server stopped\nstatus 1, played 3 s");
}
