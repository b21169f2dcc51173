#include "CadenzoPlayer/launch/ExportMode.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/launch/ConsoleLines.hpp"
#include "CadenzoPlayer/launch/SongFile.hpp"
#include "CadenzoPlayer/playback/SongExport.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace cadenzo {

int exportStatus(const std::string& path, const SongTestSettings& settings, std::int64_t channelCount,
                 std::ostream& out) {
    const SongSettings& song = settings.song;
    std::ostringstream log;  // the player's own lines are not this mode's
    const auto player = SongPlayer::make(log);
    std::int64_t frames = 0;
    const bool written = reportingFailure(out, [&] {
        if (path.empty()) throw Error("SongExport", SongExportError::unwritable, "EXPORT_WAV names no file");
        frames = exportSongToWav(*player, song, channelCount, path);
    });
    if (!written) return 1;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(frames) / engineSampleRate);
    out << "Exported " << path << ": " << seconds << " s, "
        << channelCount << " channels (click ch " << oneBasedList(song.clickChannels)
        << ", guide ch " << oneBasedList(song.guideChannels);
    if (song.padKey && !song.padChannels.empty()) out << ", pad ch " << oneBasedList(song.padChannels);
    out << ").\n" << std::flush;
    return 0;
}

void runExport() {
    int status = 1;
    SongTestSettings settings;
    if (reportingFailure(std::cout, [&] { settings = readSongToPlay(); })) {
        const std::int64_t channels = readDeviceTestSettings().requestedChannelCount;  // TEST_CHANNELS
        status = exportStatus(readEnvironment("EXPORT_WAV").value_or(""), settings, channels, std::cout);
    }
    std::cout.flush();
    std::exit(status);
}

} // namespace cadenzo
