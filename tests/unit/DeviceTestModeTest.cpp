#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/launch/DeviceTestMode.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace cadenzo;
using CoreAudioDevices::Device;

namespace {

struct ToneCall {
    std::uint32_t id;
    std::int64_t deviceChannels, channel, requested;
    friend bool operator==(const ToneCall&, const ToneCall&) = default;
};

struct ModeRun {
    int status = -1;
    std::string output;
    std::vector<ToneCall> calls;
};

ModeRun runWith(std::string_view text, DeviceTestSettings settings, std::vector<Device> devices,
            std::optional<Error> failure = std::nullopt) {
    ModeRun run;
    std::ostringstream out;
    DeviceTestOperations operations{
        [&] { return devices; },
        [&](std::uint32_t id, std::int64_t deviceChannels, std::int64_t channel, std::int64_t requested) {
            run.calls.push_back({id, deviceChannels, channel, requested});
            if (failure) throw *failure;
        },
    };
    run.status = deviceTestStatus(text, settings, out, operations);
    run.output = out.str();
    return run;
}

const std::vector<Device> studioAndPhones{{7, "jack:Studio 8", "Studio 8", 8},
                                          {9, "alsa:hw:Studio Phones,0", "hw:Studio Phones,0", 2}};
const std::string listing =
    "Output devices found:\n  - Studio 8 (8 channel(s))\n  - hw:Studio Phones,0 (2 channel(s))\n\n";

} // namespace

TEST(DeviceTestMode, ListsEveryDeviceAndTonesTheFirstMatch) {
    const ModeRun run = runWith("Studio", {3, 4}, studioAndPhones);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              listing + "Targeting Studio 8, requesting 4-channel output, tone on channel 3 only.\n"
              "Watch the interface's meters / listen now...\n"
              "Done \xE2\x80\x94 no errors. Did it land on channel 3?\n");
    EXPECT_EQ(run.calls, (std::vector<ToneCall>{{7, 8, 2, 4}}));
}

TEST(DeviceTestMode, ChannelNumbersFromOneBecomeIndicesUnchecked) {
    EXPECT_EQ(runWith("Phones", {1, 8}, studioAndPhones).calls, (std::vector<ToneCall>{{9, 2, 0, 8}}));
    const ModeRun zero = runWith("Phones", {0, 8}, studioAndPhones);
    EXPECT_EQ(zero.calls, (std::vector<ToneCall>{{9, 2, -1, 8}}));
    EXPECT_NE(zero.output.find("tone on channel 0 only.\n"), std::string::npos);
    EXPECT_NE(zero.output.find("Did it land on channel 0?\n"), std::string::npos);
    const ModeRun lowest = runWith("Phones", {INT64_MIN, -2}, studioAndPhones);
    EXPECT_EQ(lowest.calls, (std::vector<ToneCall>{{9, 2, INT64_MIN, -2}}));
    EXPECT_NE(lowest.output.find("requesting -2-channel output, tone on channel -9223372036854775808 only."),
              std::string::npos);
}

TEST(DeviceTestMode, NoMatchListsEverythingThenFailsWithoutATone) {
    const ModeRun run = runWith("studio", {1, 8}, studioAndPhones);  // the case differs
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, listing + "No device matching 'studio' \xE2\x80\x94 is it connected?\n");
    EXPECT_TRUE(run.calls.empty());

    const ModeRun none = runWith("", {1, 8}, {});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, "Output devices found:\n\nNo device matching '' \xE2\x80\x94 is it connected?\n");
}

TEST(DeviceTestMode, AToneFailureIsReportedWithItsDescription) {
    const ModeRun run =
        runWith("Studio", {1, 0}, studioAndPhones, Error("CoreAudioDevices", 3, "Could not build 0-channel layout"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              listing + "Targeting Studio 8, requesting 0-channel output, tone on channel 1 only.\n"
              "Watch the interface's meters / listen now...\n"
              "FAILED: Could not build 0-channel layout\n");
}
