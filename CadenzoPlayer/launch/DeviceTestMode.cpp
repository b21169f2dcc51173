#include "CadenzoPlayer/launch/DeviceTestMode.hpp"

#include "CadenzoPlayer/launch/ConsoleLines.hpp"
#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>

namespace cadenzo {

DeviceTestOperations DeviceTestOperations::system() {
    return {
        [] { return CoreAudioDevices::outputDevices(); },
        [](std::uint32_t id, std::int64_t deviceChannels, std::int64_t channel, std::int64_t requested) {
            CoreAudioDevices::playTestTone(id, deviceChannels, channel, requested);
        },
    };
}

int deviceTestStatus(std::string_view deviceText, const DeviceTestSettings& settings, std::ostream& out,
                     const DeviceTestOperations& operations) {
    const auto devices = operations.outputDevices();
    out << "Output devices found:\n";
    for (const auto& device : devices) {
        out << "  - " << device.name << " (" << device.channelCount << " channel(s))\n";
        if (!device.hint.empty()) out << "    " << device.hint << '\n';
    }
    const auto target = matchDeviceByName(devices, deviceText);
    if (!target) {
        out << '\n' << noDeviceMatchingLine(deviceText) << '\n' << std::flush;
        return 1;
    }
    out << "\nTargeting " << target->name << ", requesting " << settings.requestedChannelCount
        << "-channel output, tone on channel " << settings.channel << " only.\n";
    out << "Watch the interface's meters / listen now...\n" << std::flush;

    // The channel minus one: the smallest integer has nothing below it and
    // stays as it is, which no device has.
    const std::int64_t index = settings.channel == INT64_MIN ? settings.channel : settings.channel - 1;
    const bool played = reportingFailure(out, [&] {
        operations.playTestTone(target->id, target->channelCount, index, settings.requestedChannelCount);
    });
    if (!played) return 1;
    out << "Done " << emDash << " no errors. Did it land on channel " << settings.channel << "?\n" << std::flush;
    return 0;
}

void runDeviceTest(std::string_view deviceText) {
    const DeviceTestSettings settings = readDeviceTestSettings();
    const int status = deviceTestStatus(deviceText, settings, std::cout);
    std::cout.flush();
    std::exit(status);
}

} // namespace cadenzo
