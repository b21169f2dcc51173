#include "CadenzoPlayer/launch/ClickTestMode.hpp"

#include "CadenzoPlayer/launch/ConsoleLines.hpp"
#include "CadenzoPlayer/playback/ClickOnlyPlayer.hpp"
#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>

namespace cadenzo {

ClickTestOperations ClickTestOperations::system() {
    return {
        [] { return CoreAudioDevices::outputDevices(); },
        [](std::uint32_t id, std::int64_t deviceChannels, const std::vector<std::int64_t>& channels,
           std::int64_t requested, std::int64_t beatsPerBar, std::int64_t countInBars,
           const std::vector<std::int64_t>& sectionBars, double tempo) {
            cadenzo::playClickTrack(id, deviceChannels, channels, requested, beatsPerBar, countInBars, sectionBars,
                                    tempo);
        },
    };
}

int clickTestStatus(std::string_view deviceText, const ClickTestSettings& settings, std::ostream& out,
                    const ClickTestOperations& operations) {
    const auto target = matchDeviceByName(operations.outputDevices(), deviceText);
    if (!target) {
        out << noDeviceMatchingLine(deviceText) << '\n' << std::flush;
        return 1;
    }
    out << "Targeting " << target->name << ", channel(s) " << formatIntegerList(settings.channels) << ", "
        << formatTempo(settings.tempo) << "bpm, " << settings.beatsPerBar << "/4, " << settings.countInBars
        << "-bar count-in, song bars: " << formatIntegerList(settings.songBars) << ".\n";
    out << "Listen now...\n" << std::flush;
    const bool played = reportingFailure(out, [&] {
        operations.playClickTrack(target->id, target->channelCount, toZeroBasedChannels(settings.channels),
                                  settings.requestedChannelCount, settings.beatsPerBar, settings.countInBars,
                                  settings.songBars, settings.tempo);
    });
    if (!played) return 1;
    out << "Done.\n" << std::flush;
    return 0;
}

void runClickTest(std::string_view deviceText) {
    const ClickTestSettings settings = readClickTestSettings();
    const int status = clickTestStatus(deviceText, settings, std::cout);
    std::cout.flush();
    std::exit(status);
}

} // namespace cadenzo
