#include "CadenzoPlayer/launch/SongTestMode.hpp"

#include "CadenzoPlayer/launch/ConsoleLines.hpp"
#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"
#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace cadenzo {

SongTestOperations SongTestOperations::system() {
    return {
        [] { return CoreAudioDevices::outputDevices(); },
        [](double seconds) {
            if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        },
    };
}

int songTestStatus(std::string_view deviceText, const SongTestSettings& settings, std::ostream& out,
                   const SongTestOperations& operations) {
    const auto devices = operations.outputDevices();
    const auto target = matchDeviceByName(devices, deviceText);
    if (!target) {
        out << noDeviceMatchingLine(deviceText) << '\n' << std::flush;
        return 1;
    }

    out << "Targeting " << target->name << " " << emDash << " click ch " << formatIntegerList(settings.clickChannels)
        << ", guide ch " << formatIntegerList(settings.guideChannels);
    if (settings.padKey) out << ", pad ch " << formatIntegerList(settings.padChannels) << " key " << *settings.padKey;
    out << ", " << formatTempo(settings.tempo) << "bpm, " << settings.beatsPerBar << "/4, " << settings.countInBars
        << "-bar count-in, sections: " << describeSongMap(settings.entries);
    if (settings.startSection >= 1) out << ", starting at section " << settings.startSection;
    out << ".\n";
    out << "Listen now...\n" << std::flush;

    const auto player = SongPlayer::make();
    double total = 0;
    const bool played = reportingFailure(out, [&] {
        total = player->play(*target, toZeroBasedChannels(settings.clickChannels),
                             toZeroBasedChannels(settings.guideChannels), settings.requestedChannelCount,
                             settings.tempo, settings.beatsPerBar, settings.countInBars, settings.entries,
                             settings.startSection, settings.padKey, toZeroBasedChannels(settings.padChannels),
                             settings.padChords, settings.guideMuteSchedule);
    });
    if (!played) return 1;

    if (settings.stopAt) {
        operations.sleep(*settings.stopAt);
        out << "Stopping early at " << formatSeconds(*settings.stopAt) << "s...\n" << std::flush;
        player->stop();
        operations.sleep(2.0);
    } else {
        operations.sleep(total + 2.0);
        player->stop();
    }
    out << "Done.\n" << std::flush;
    return 0;
}

void runSongTest(std::string_view deviceText) {
    const SongTestSettings settings = readSongTestSettings();
    const int status = songTestStatus(deviceText, settings, std::cout);
    std::cout.flush();
    std::exit(status);
}

} // namespace cadenzo
