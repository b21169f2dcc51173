#pragma once

#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include <cstdint>
#include <filesystem>

namespace cadenzo {

// Errors of writing a render to a file, domain "SongExport".
enum class SongExportError : int { unwritable = 1 };

// Renders `song` as a device of `channelCount` channels receives it into a
// WAV file of 32-bit floats at the engine rate (RF64 beyond 4 GiB), written
// beside `path` and renamed onto it once whole. Returns the frames written;
// throws what the render throws, or SongExportError.
std::int64_t exportSongToWav(SongPlayer& player, const SongSettings& song, std::int64_t channelCount,
                             const std::filesystem::path& path);

} // namespace cadenzo
