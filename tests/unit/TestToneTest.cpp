#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include <gtest/gtest.h>

#include <tuple>

using namespace cadenzo;
namespace Devices = cadenzo::CoreAudioDevices;

namespace {

class TestTone : public VirtualDevices {
protected:
    // The error text of playing the tone, or "no error".
    std::string play(const std::string& device, std::int64_t deviceChannels, std::int64_t channel,
                     std::int64_t requested) {
        return errorText(
            [&] { Devices::playTestTone(idOf(device), deviceChannels, channel, requested, renderingWait(device)); });
    }
};

} // namespace

TEST_F(TestTone, SoundsOnTheChosenChannelOfTheSmallerOfTheDeviceAndTheRequestForItsWait) {
    backend->addDevice("Studio", 2);
    EXPECT_EQ(play("Studio", 2, 1, 2), "no error");
    // Played while the wait lasts; the engine stopped before returning.
    EXPECT_EQ(std::tuple(backend->recordedFrames("Studio"), streamOpenDuringWait, backend->isStreamOpen("Studio")),
              std::tuple(72000u, true, false));
    const auto recorded = backend->recording("Studio");
    // 440 Hz at a quarter of full scale for 1.2 s, with fades of 500 frames in and out.
    for (const auto& [frame, value] : {std::pair{0, 0.0f}, {1, 2.87820149e-05f}, {250, 0.120740727f}, {500, -0.125f},
                                       {1234, 0.231467649f}, {57100, 0.125f}, {57599, -2.87820149e-05f}})
        EXPECT_EQ(recorded[1].at(frame), value) << "frame " << frame;
    const float loudest = peak(recorded[1]);
    EXPECT_TRUE(loudest <= 0.25f && loudest > 0.2499f) << loudest;
    EXPECT_TRUE(silent(recorded[0]) && silent({recorded[1].begin() + 57600, recorded[1].end()}));
    EXPECT_EQ(Devices::makeTestToneBuffer({48000, 16}, 1)->bytesHeld(), 57600u * sizeof(float));  // one channel's worth

    backend->addDevice("Four", 4);
    EXPECT_EQ(play("Four", 4, 2, 2), "no error");  // channel 3 of a 2-channel output: nothing
    play("Four", 4, 3, 8);                          // more than the device has: the device's 4
    const auto four = backend->recording("Four");
    EXPECT_EQ(firstSound(four[3]), 72000 + 1);
    EXPECT_TRUE(silent(four[0]) && silent(four[1]) && silent(four[2]));
}

TEST_F(TestTone, FailuresCarryTheirCodeAndPlayNothing) {
    backend->addDevice("Gone", 2);
    backend->removeDevice("Gone");
    backend->addDevice("A", 2);
    EXPECT_EQ(play("Gone", 2, 0, 2), "CoreAudioDevices 2: setSinkId equivalent failed: -2");
    EXPECT_EQ(errorText([] { Devices::playTestTone(4000000000u, 2, 0, 2); }),
              "CoreAudioDevices 2: setSinkId equivalent failed: -1");
    for (const auto& [device, requested] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {2, 0}, {2, -3}, {2, INT64_MIN}, {70000, 70000}}) {
        EXPECT_EQ(play("A", device, 0, requested),
                  "CoreAudioDevices 3: Could not build " + std::to_string(requested) + "-channel layout");
    }
    EXPECT_EQ(backend->streamsOpened("A"), 0);
    setDeviceBackendForTesting(nullptr);
    EXPECT_EQ(play("A", 2, 0, 2), "CoreAudioDevices 1: No underlying AudioUnit");
    // The engine's own start error is passed on unchanged.
    setDeviceBackendForTesting(std::make_shared<RefusingBackend>(
        std::vector<BackendDevice>{{"virtual:Locked", "Locked", 2, true}}, "the device is busy"));
    EXPECT_EQ(play("Locked", 2, 0, 2),
              "AudioEngine 4: Could not open output device virtual:Locked: the device is busy");
    EXPECT_TRUE(waits.empty());
}

TEST_F(TestTone, ADeviceThatFallsSilentOrGoesAwayIsLostWithinTheNextSteps) {
    backend->addDevice("A", 2);
    double waited = 0;
    const auto play = [&](const std::function<void()>& duringWait) {
        waited = 0;
        return errorText([&] {
            Devices::playTestTone(idOf("A"), 2, 0, 2, [&](double seconds) { waited += seconds, duringWait(); });
        });
    };
    const std::string lost = "CoreAudioDevices 5: Lost the output device A (virtual:A): it was unplugged, or its "
                             "audio server stopped";
    EXPECT_EQ(play([] {}), lost);  // nothing asks for audio
    EXPECT_NEAR(waited, 2.0, 0.21);
    EXPECT_EQ(play([&] { backend->removeDevice("A"); }), lost);
    EXPECT_NEAR(waited, 0.2, 1e-9);
    EXPECT_FALSE(backend->isStreamOpen("A"));
}
