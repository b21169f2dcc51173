#pragma once

#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/playback/Device.hpp"

#include <functional>
#include <ostream>
#include <string_view>
#include <vector>

namespace cadenzo {

// What the song test calls besides a fresh song player: the real device list
// and real sleeps unless replaced.
struct SongTestOperations {
    std::function<std::vector<CoreAudioDevices::Device>()> outputDevices;
    std::function<void(double seconds)> sleep;

    static SongTestOperations system();
};

// Plays the song described by `settings` on the first device whose name
// contains `deviceText`, reports on `out` and returns the exit status: 0 after
// "Done.", 1 when no device matched, the song could not start or the device
// was lost. `operations.sleep` paces the waits for the device to play.
int songTestStatus(std::string_view deviceText, const SongTestSettings& settings, std::ostream& out,
                   const SongTestOperations& operations = SongTestOperations::system());

// The console mode: reads its settings, runs and ends the process.
[[noreturn]] void runSongTest(std::string_view deviceText);

} // namespace cadenzo
