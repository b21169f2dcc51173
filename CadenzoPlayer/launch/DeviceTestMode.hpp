#pragma once

#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/playback/Device.hpp"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string_view>
#include <vector>

namespace cadenzo {

// What the device and channel test calls; the real device list and test
// tone unless replaced.
struct DeviceTestOperations {
    std::function<std::vector<CoreAudioDevices::Device>()> outputDevices;
    std::function<void(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                       std::int64_t requestedChannelCount)>
        playTestTone;

    static DeviceTestOperations system();
};

// Lists the output devices, plays the test tone on one channel of the first
// device whose name contains `deviceText`, reports on `out` and returns the
// exit status: 0 when the tone played, 1 when no device matched or the tone
// failed.
int deviceTestStatus(std::string_view deviceText, const DeviceTestSettings& settings, std::ostream& out,
                     const DeviceTestOperations& operations = DeviceTestOperations::system());

// The console mode: reads its settings, runs and ends the process.
[[noreturn]] void runDeviceTest(std::string_view deviceText);

} // namespace cadenzo
