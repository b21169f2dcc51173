#pragma once

#include "CadenzoPlayer/launch/Environment.hpp"

#include <ostream>
#include <string>

namespace cadenzo {

// Renders the song of `settings` with no device into a WAV file of
// `channelCount` channels at `path`, and says so on `out` in one line.
// Returns the exit status: 0 when written, 1 with "FAILED: " and the reason.
int exportStatus(const std::string& path, const SongTestSettings& settings, std::int64_t channelCount,
                 std::ostream& out);

// The console mode: reads EXPORT_WAV and the song (SONG_FILE or the song
// test's variables), runs and ends the process.
[[noreturn]] void runExport();

} // namespace cadenzo
