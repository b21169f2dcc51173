#pragma once

#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/AudioPlayerNode.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace cadenzo {

// How far something playing has got on its device, read while waiting for it.
struct PlayProgress {
    std::int64_t playedFrames = 0;  // of its timeline, at the engine rate
    bool ended = false;             // nothing plays any more
    std::string deviceUid;
    bool deviceLost = false;        // the device or its audio server went away
};

// The progress of `node` on the running `engine`.
PlayProgress engineProgress(const AudioEngine& engine, const AudioPlayerNode& node);

// "Lost the output device <name>: ..." for the device with `uid`.
std::string lostDeviceText(const std::string& uid);

// Seconds of waiting without a new frame played after which a device counts
// as gone, for devices that stop without saying so.
inline constexpr double silentDeviceSeconds = 2.0;

// Waits, `wait`ing a short step at a time, until `progress` shows `seconds` of
// the timeline played by the device (not by the wall clock, which runs ahead
// of a device that skips) or nothing playing. Throws cadenzo::Error
// (`domain`, `lostCode`, lostDeviceText) once the device is lost.
void waitUntilPlayed(const std::function<PlayProgress()>& progress, double seconds,
                     const std::function<void(double seconds)>& wait, const std::string& domain, int lostCode);

} // namespace cadenzo
