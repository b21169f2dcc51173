#pragma once

namespace cadenzo {

// Set in the environment of the program's second start on PipeWire, so that it happens once.
inline constexpr const char* pipewireRestartMarker = "CADENZO_ON_PIPEWIRE";

struct SoundServerFacts {
    bool jackAnswers = false;
    bool pipewireAnswers = false;
    bool pipewireJackLibraryExists = false;
    bool alreadyRestarted = false;
};

bool shouldRestartOnPipeWire(const SoundServerFacts& facts);

// Where PipeWire, not JACK, is the sound server, the interface is PipeWire's and
// only its JACK library reaches every channel: the program starts itself again on
// that library, as pw-jack would. Returns when that does not apply or fails.
void restartOnPipeWireIfNeeded(char** argv);

} // namespace cadenzo
