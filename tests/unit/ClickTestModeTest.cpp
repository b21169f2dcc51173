#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/launch/ClickTestMode.hpp"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace cadenzo;
using CoreAudioDevices::Device;

namespace {

struct ClickCall {
    std::uint32_t id;
    std::int64_t deviceChannels;
    std::vector<std::int64_t> channels;
    std::int64_t requested, beatsPerBar, countInBars;
    std::vector<std::int64_t> sectionBars;
    double tempo;
    friend bool operator==(const ClickCall&, const ClickCall&) = default;
};

struct ModeRun {
    int status = -1;
    std::string output;
    std::vector<ClickCall> calls;
};

ModeRun runWith(std::string_view text, const ClickTestSettings& settings, std::vector<Device> devices,
                std::optional<Error> failure = std::nullopt) {
    ModeRun run;
    std::ostringstream out;
    ClickTestOperations operations{
        [&] { return devices; },
        [&](std::uint32_t id, std::int64_t deviceChannels, const std::vector<std::int64_t>& channels,
            std::int64_t requested, std::int64_t beatsPerBar, std::int64_t countInBars,
            const std::vector<std::int64_t>& sectionBars, double tempo) {
            run.calls.push_back(
                {id, deviceChannels, channels, requested, beatsPerBar, countInBars, sectionBars, tempo});
            if (failure) throw *failure;
        },
    };
    run.status = clickTestStatus(text, settings, out, operations);
    run.output = out.str();
    return run;
}

ClickTestSettings settingsFrom(const std::map<std::string, std::string>& variables) {
    return readClickTestSettings([&](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(std::string(name));
        if (found == variables.end()) return std::nullopt;
        return found->second;
    });
}

const std::vector<Device> studioAndPhones{{7, "jack:Studio 8", "Studio 8", 8},
                                          {9, "alsa:hw:Studio Phones,0", "hw:Studio Phones,0", 2}};
const std::string targetingStudio =
    "Targeting Studio 8, channel(s) [1], 100bpm, 4/4, 2-bar count-in, song bars: [4, 4, 8].\n";

} // namespace

TEST(ClickTestMode, RestatesTheDefaultsAndPlaysOnTheFirstMatch) {
    const ModeRun run = runWith("Studio", settingsFrom({}), studioAndPhones);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, targetingStudio + "Listen now...\nDone.\n");
    EXPECT_EQ(run.calls, (std::vector<ClickCall>{{7, 8, {0}, 8, 4, 2, {4, 4, 8}, 100.0}}));
}

TEST(ClickTestMode, PassesTheSettingsOnAsReadWithChannelsFromZero) {
    const ModeRun run = runWith("Phones",
                                settingsFrom({{"TEST_CHANNEL", "1,2"},
                                              {"TEST_CHANNELS", "6"},
                                              {"TEMPO", "72.5"},
                                              {"BEATS_PER_BAR", "7"},
                                              {"COUNT_IN_BARS", "0"},
                                              {"SONG_BARS", "8"}}),
                                studioAndPhones);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              "Targeting hw:Studio Phones,0, channel(s) [1, 2], 72bpm, 7/4, 0-bar count-in, song bars: [8].\n"
              "Listen now...\n"
              "Done.\n");
    EXPECT_EQ(run.calls, (std::vector<ClickCall>{{9, 2, {0, 1}, 6, 7, 0, {8}, 72.5}}));

    // Lists without one valid number print as brackets and pass on empty;
    // channel 0 and below pass on unchecked.
    const ModeRun odd = runWith(
        "Studio", settingsFrom({{"TEST_CHANNEL", "0,-1"}, {"SONG_BARS", "x"}, {"TEMPO", "-3.9"}}), studioAndPhones);
    EXPECT_EQ(odd.output.substr(0, odd.output.find('\n')),
              "Targeting Studio 8, channel(s) [0, -1], -3bpm, 4/4, 2-bar count-in, song bars: [].");
    EXPECT_EQ(odd.calls, (std::vector<ClickCall>{{7, 8, {-1, -2}, 8, 4, 2, {}, -3.9}}));
}

TEST(ClickTestMode, NoMatchSaysSoOnItsOwnLineAndPlaysNothing) {
    const ModeRun run = runWith("studio", settingsFrom({}), studioAndPhones);  // the case differs
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "No device matching 'studio' \xE2\x80\x94 is it connected?\n");
    EXPECT_TRUE(run.calls.empty());

    const ModeRun none = runWith("", settingsFrom({}), {});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, "No device matching '' \xE2\x80\x94 is it connected?\n");
}

TEST(ClickTestMode, APlayerFailureIsReportedWithItsDescription) {
    const ModeRun run = runWith("Studio", settingsFrom({{"TEST_CHANNELS", "0"}}), studioAndPhones,
                                Error("ClickTrack", 3, "Couldn't build 0-channel layout"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, targetingStudio + "Listen now...\nFAILED: Couldn't build 0-channel layout\n");
}
