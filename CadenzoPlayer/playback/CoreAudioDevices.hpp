#pragma once

#include "CadenzoPlayer/audio/PcmBuffer.hpp"
#include "CadenzoPlayer/playback/Device.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace cadenzo::CoreAudioDevices {

// Every output device with at least one channel, in the device layer's order
// (JACK clients when a server runs, then ALSA hardware, then PulseAudio).
// Built afresh on each call; never fails and never starts an audio server.
std::vector<Device> outputDevices();

// The test tone: 440 Hz at a quarter of full scale for 57600 frames at
// the engine rate, with linear 500-frame fades.
inline constexpr std::uint32_t testToneFrames = 57600;
inline constexpr double testToneWaitSeconds = 1.5;

// The tone in `format` on `channel` alone (no channel when it lies outside
// the format); nothing when the buffer cannot be had.
std::shared_ptr<PcmBuffer> makeTestToneBuffer(const AudioFormat& format, std::int64_t channel);

// Errors of the test tone, domain "CoreAudioDevices"; 1 to 3 are the
// EngineStartError codes.
enum class TestToneError : int {
    noBuffer = 4,    // "Could not allocate buffer"
    deviceLost = 5,  // the device went away while the tone played
};

// Plays the tone on one channel of a device through a private engine with an
// output of min(deviceChannelCount, requestedChannelCount) channels, and
// returns once the device has played 1.5 s of it. Throws cadenzo::Error,
// domain "CoreAudioDevices":
//   1 "No underlying AudioUnit"              no device layer to select with
//   2 "setSinkId equivalent failed: <s>"     the device could not be selected
//   3 "Could not build <N>-channel layout"   N not within 1 to 65535
//   4 "Could not allocate buffer"
//   5 lostDeviceText: the device or its server went away while playing
// and passes on the engine's own start error unchanged.
void playTestTone(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                  std::int64_t requestedChannelCount);

// The same, waiting through `wait` instead of sleeping.
void playTestTone(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                  std::int64_t requestedChannelCount, const std::function<void(double seconds)>& wait);

} // namespace cadenzo::CoreAudioDevices
