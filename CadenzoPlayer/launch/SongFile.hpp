#pragma once

#include "CadenzoPlayer/launch/Environment.hpp"

#include <filesystem>

namespace cadenzo {

// A song in the form the bridge's playSong takes (less type, requestId and the
// device fields), read from a JSON file; channels count from 0 as there.
// Throws cadenzo::Error (domain "SongFile") when the file cannot be read, is
// not a JSON object, or has no entries.
SongSettings readSongFile(const std::filesystem::path& path);

// The song of the song test and of an export: SONG_FILE's song when it is set
// (its totalChannels, else TEST_CHANNELS), else the song test's variables;
// STOP_AT either way. Throws as readSongFile.
SongTestSettings readSongToPlay(const EnvironmentReader& env = readEnvironment);

} // namespace cadenzo
