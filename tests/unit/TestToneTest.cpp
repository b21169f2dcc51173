#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace cadenzo;
namespace Devices = cadenzo::CoreAudioDevices;

namespace {

class TestTone : public VirtualDevices {
protected:
    void play(const std::string& device, std::int64_t deviceChannels, std::int64_t channel, std::int64_t requested) {
        Devices::playTestTone(idOf(device), deviceChannels, channel, requested, renderingWait(device));
    }

    std::string errorOf(const std::string& device, std::int64_t deviceChannels, std::int64_t requested) {
        return errorText([&] { play(device, deviceChannels, 0, requested); });
    }
};

} // namespace

TEST(TestToneBuffer, HasTheFixedShapeOnOneChannel) {
    const auto buffer = Devices::makeTestToneBuffer({48000, 3}, 1);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameLength(), 57600u);
    EXPECT_EQ(buffer->channelData(0), nullptr);
    EXPECT_EQ(buffer->channelData(2), nullptr);
    EXPECT_EQ(buffer->sample(1, 0), 0.0f);
    EXPECT_EQ(buffer->sample(1, 1), 2.87820149e-05f);
    EXPECT_EQ(buffer->sample(1, 250), 0.120740727f);  // halfway up the fade
    EXPECT_EQ(buffer->sample(1, 500), -0.125f);        // full level from here
    EXPECT_EQ(buffer->sample(1, 1234), 0.231467649f);
    EXPECT_EQ(buffer->sample(1, 57100), 0.125f);       // and up to here
    EXPECT_EQ(buffer->sample(1, 57599), -2.87820149e-05f);
    float loudest = 0.0f;
    for (std::uint32_t i = 0; i < 57600; ++i) loudest = std::max(loudest, std::abs(buffer->sample(1, i)));
    EXPECT_NEAR(loudest, 0.25f, 1e-4f);
    EXPECT_LE(loudest, 0.25f);

    // A channel outside the format leaves every channel silent.
    const auto outside = Devices::makeTestToneBuffer({48000, 2}, 5);
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->bytesHeld(), 0u);
}

TEST_F(TestTone, SoundsOnTheChosenChannelOnlyAndReturnsAfterTheWait) {
    backend->addDevice("Studio", 2);
    play("Studio", 2, 0, 2);

    EXPECT_EQ(waits, std::vector<double>{1.5});
    EXPECT_TRUE(streamOpenDuringWait);
    EXPECT_FALSE(backend->isStreamOpen("Studio"));  // the engine stopped before returning
    const auto recorded = backend->recording("Studio");
    ASSERT_EQ(recorded.size(), 2u);
    ASSERT_EQ(recorded[0].size(), 72000u);
    const auto tone = Devices::makeTestToneBuffer({48000, 2}, 0);
    for (std::uint32_t i = 0; i < 57600; ++i) ASSERT_EQ(recorded[0][i], tone->sample(0, i)) << "frame " << i;
    EXPECT_TRUE(silent({recorded[0].begin() + 57600, recorded[0].end()}));
    EXPECT_TRUE(silent(recorded[1]));
}

TEST_F(TestTone, TheLayoutIsTheSmallerOfTheDeviceAndTheRequest) {
    backend->addDevice("Eight", 8);
    play("Eight", 8, 5, 2);  // channel 6 of a 2-channel output: nothing, and no error
    EXPECT_EQ(waits.size(), 1u);
    for (const auto& channel : backend->recording("Eight")) EXPECT_TRUE(silent(channel));

    backend->addDevice("Four", 4);
    play("Four", 4, 3, 8);  // asking for more than the device has gives the device's count
    const auto recorded = backend->recording("Four");
    EXPECT_EQ(recorded[3][1234], 0.231467649f);
    EXPECT_TRUE(silent(recorded[0]) && silent(recorded[1]) && silent(recorded[2]));
}

TEST_F(TestTone, FailuresCarryTheirCodeAndPlayNothing) {
    backend->addDevice("Gone", 2);
    backend->removeDevice("Gone");
    EXPECT_EQ(errorOf("Gone", 2, 2), "CoreAudioDevices 2: setSinkId equivalent failed: -2");
    EXPECT_EQ(errorText([] { Devices::playTestTone(4000000000u, 2, 0, 2); }),
              "CoreAudioDevices 2: setSinkId equivalent failed: -1");

    backend->addDevice("A", 2);
    EXPECT_EQ(errorOf("A", 2, 0), "CoreAudioDevices 3: Could not build 0-channel layout");
    EXPECT_EQ(errorOf("A", 2, -3), "CoreAudioDevices 3: Could not build -3-channel layout");
    EXPECT_EQ(errorOf("A", 70000, 70000), "CoreAudioDevices 3: Could not build 70000-channel layout");
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(backend->streamsOpened("A"), 0);

    setDeviceBackendForTesting(nullptr);
    EXPECT_EQ(errorOf("A", 2, 2), "CoreAudioDevices 1: No underlying AudioUnit");

    // The engine's own start error is passed on unchanged.
    setDeviceBackendForTesting(std::make_shared<RefusingBackend>(
        std::vector<BackendDevice>{{"virtual:Locked", "Locked", 2, true}}, "the device is busy"));
    EXPECT_EQ(errorOf("Locked", 2, 2),
              "AudioEngine 4: Could not open output device virtual:Locked: the device is busy");
    EXPECT_TRUE(waits.empty());
}

TEST_F(VirtualDevices, OutputDevicesListsEveryDeviceWithOutputsInOrder) {
    EXPECT_TRUE(CoreAudioDevices::outputDevices().empty());
    EXPECT_FALSE(CoreAudioDevices::defaultOutputDeviceID());

    backend->addDevice("Interface", 10);
    backend->addDevice("Input only", 0);
    backend->addDevice("Phones", 2);
    backend->setDefaultDevice("Phones");
    const auto devices = CoreAudioDevices::outputDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0], (CoreAudioDevices::Device{idOf("Interface"), "virtual:Interface", "Interface", 10}));
    EXPECT_EQ(devices[1], (CoreAudioDevices::Device{idOf("Phones"), "virtual:Phones", "Phones", 2}));
    EXPECT_EQ(CoreAudioDevices::defaultOutputDeviceID(), idOf("Phones"));
    EXPECT_EQ(CoreAudioDevices::outputDevices(), devices);  // same ids on every call
}

TEST_F(VirtualDevices, ReservedAggregateIdentifiersAreLeftOut) {
    setDeviceBackendForTesting(std::make_shared<RefusingBackend>(
        std::vector<BackendDevice>{
            {"CADefaultDeviceAggregate-1234-5", "Aggregate", 2, true},
            {"jack:CADefaultDeviceAggregate", "Later in the uid", 2, false},
            {"cadefaultdeviceaggregate-1", "Other case", 2, false},
        },
        "not here"));
    const auto devices = CoreAudioDevices::outputDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "Later in the uid");
    EXPECT_EQ(devices[1].name, "Other case");
    EXPECT_FALSE(CoreAudioDevices::defaultOutputDeviceID());
}
