#include "CadenzoPlayer/launch/SongTestMode.hpp"

#include "CadenzoPlayer/dispatch/DelayedTask.hpp"
#include "CadenzoPlayer/launch/ConsoleLines.hpp"
#include "CadenzoPlayer/launch/SongFile.hpp"
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
        sleepSeconds,
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

    const SongSettings& song = settings.song;
    out << "Targeting " << target->name << " " << emDash << " click ch " << oneBasedList(song.clickChannels)
        << ", guide ch " << oneBasedList(song.guideChannels);
    if (song.padKey) out << ", pad ch " << oneBasedList(song.padChannels) << " key " << *song.padKey;
    out << ", " << formatTempo(song.tempo) << "bpm, " << song.beatsPerBar << "/4, " << song.countInBars
        << "-bar count-in, sections: " << describeSongMap(song.entries);
    if (song.startSection >= 1) out << ", starting at section " << song.startSection;
    out << ".\n";
    out << "Listen now...\n" << std::flush;

    const auto player = SongPlayer::make(out);
    const auto waitFor = [&](double seconds) {
        waitUntilPlayed([&] { return player->progress(); }, seconds, operations.sleep, "SongPlayer",
                        static_cast<int>(SongPlayerError::deviceLost));
    };
    const bool played = reportingFailure(out, [&] {
        const double total = player->play(*target, song);
        if (settings.stopAt) {
            waitFor(*settings.stopAt);
            out << "Stopping early at " << formatSeconds(*settings.stopAt) << "s...\n" << std::flush;
            player->stop();
            player->state();  // the stop has been taken up; now the pad's fade rings out
            operations.sleep(2.0);
        } else {
            waitFor(total + SongPlayer::autoStopMarginSeconds);
            player->stop();
        }
    });
    if (!played) return 1;
    out << "Done.\n" << std::flush;
    return 0;
}

void runSongTest(std::string_view deviceText) {
    SongTestSettings settings;
    const int status = reportingFailure(std::cout, [&] { settings = readSongToPlay(); })
                           ? songTestStatus(deviceText, settings, std::cout)
                           : 1;
    std::cout.flush();
    std::exit(status);
}

} // namespace cadenzo
