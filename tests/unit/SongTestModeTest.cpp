#include "CadenzoPlayer/launch/SongTestMode.hpp"

#include "VirtualDeviceFixture.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace cadenzo;

namespace {

class SongTestMode : public VirtualDevices {
protected:
    void SetUp() override {
        VirtualDevices::SetUp();
        backend->addDevice("Studio 8", 8);
    }

    // Runs the mode with these variables; sleeps are recorded, not slept.
    int run(std::string_view deviceText, std::map<std::string, std::string> variables) {
        const SongTestSettings settings =
            readSongTestSettings([&](std::string_view name) -> std::optional<std::string> {
                auto it = variables.find(std::string(name));
                if (it == variables.end()) return std::nullopt;
                return it->second;
            });
        SongTestOperations operations = SongTestOperations::system();
        operations.sleep = [this](double seconds) { sleeps.push_back(seconds); };
        testing::internal::CaptureStdout();
        const int status = songTestStatus(deviceText, settings, out, operations);
        playerOutput = testing::internal::GetCapturedStdout();
        return status;
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

    std::ostringstream out;
    std::string playerOutput;
    std::vector<double> sleeps;
};

TEST_F(SongTestMode, DefaultSongPlaysToItsEndAndTwoSecondsMore) {
    EXPECT_EQ(run("Studio", {}), 0);
    EXPECT_THAT(lines(), testing::ElementsAre("Targeting Studio 8 \xE2\x80\x94 click ch [5], guide ch [7], 100bpm, "
                                              "4/4, 2-bar count-in, sections: In(2) V(4) Ch(4) Out(2).",
                                              "Listen now...", "Done."));
    EXPECT_EQ(playerOutput, "Built 75 events (click + guide), 33.60s total.\n");
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_NEAR(sleeps[0], 35.6, 1e-9);
}

TEST_F(SongTestMode, StartLineNamesThePadOnlyWithAKeyAndTheStartSection) {
    EXPECT_EQ(run("Studio", {{"PAD_KEY", "G"},
                             {"PAD_CHANNEL", "3"},
                             {"PAD_CHORDS", "1,4,5,1"},
                             {"START_SECTION", "2"},
                             {"TEMPO", "90.9"}}),
              0);
    EXPECT_EQ(lines()[0], "Targeting Studio 8 \xE2\x80\x94 click ch [5], guide ch [7], pad ch [3] key G, 90bpm, 4/4, "
                          "2-bar count-in, sections: In(2) V(4) Ch(4) Out(2), starting at section 2.");
    EXPECT_THAT(playerOutput, testing::HasSubstr("(starting at section 2, skipping the count-in)"));

    out.str("");
    EXPECT_EQ(run("Studio", {{"PAD_CHANNEL", "3"}, {"SECTIONS", "nothing"}, {"START_SECTION", "-1"}}), 0);
    EXPECT_EQ(lines()[0], "Targeting Studio 8 \xE2\x80\x94 click ch [5], guide ch [7], 100bpm, 4/4, 2-bar count-in, "
                          "sections: .");
}

TEST_F(SongTestMode, StopAtEndsEarly) {
    EXPECT_EQ(run("Studio", {{"STOP_AT", "5"}}), 0);
    EXPECT_THAT(lines(), testing::ElementsAre(testing::StartsWith("Targeting "), "Listen now...",
                                              "Stopping early at 5.0s...", "Done."));
    EXPECT_EQ(sleeps, (std::vector<double>{5.0, 2.0}));
}

TEST_F(SongTestMode, NoDeviceAndFailedPlayEndWithStatusOne) {
    EXPECT_EQ(run("studio", {}), 1);
    EXPECT_THAT(lines(), testing::ElementsAre("No device matching 'studio' \xE2\x80\x94 is it connected?"));
    EXPECT_TRUE(sleeps.empty());

    out.str("");
    EXPECT_EQ(run("Studio", {{"TEST_CHANNELS", "0"}}), 1);
    EXPECT_THAT(lines(), testing::ElementsAre(testing::StartsWith("Targeting "), "Listen now...",
                                              "FAILED: Couldn't build 0-channel layout"));
    EXPECT_TRUE(sleeps.empty());
}

} // namespace
