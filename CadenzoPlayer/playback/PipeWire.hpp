#pragma once

#include "CadenzoPlayer/audio/DeviceLayer.hpp"

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

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

// A card that PipeWire plays in a stereo profile although it offers "pro-audio"
// shows two channels, whatever it has. Its sinks' names (each name PipeWire's JACK
// library may list them by), from pw-dump's JSON.
std::set<std::string> stereoProfileSinks(const nlohmann::json& dump);

// Hints the JACK devices of two channels or fewer that are such sinks.
void addProAudioHints(std::vector<OutputDevice>& devices, const std::set<std::string>& sinks);

// The same on PipeWire's own sinks; does nothing unless the program runs on PipeWire.
void addProAudioHints(std::vector<OutputDevice>& devices);

} // namespace cadenzo
