#pragma once

#include "CadenzoPlayer/TextParsing.hpp"
#include "CadenzoPlayer/playback/Device.hpp"
#include "CadenzoPlayer/playback/SongSettings.hpp"
#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cadenzo {

// Reads one variable: its text when set (even empty), nothing when absent.
using EnvironmentReader = std::function<std::optional<std::string>(std::string_view name)>;

std::optional<std::string> readEnvironment(std::string_view name);

// On only for the exact text "1".
bool isFlagOn(const EnvironmentReader& env, std::string_view name);
bool isFlagOn(std::string_view name);

// Channel numbers from 1 become indices from 0. The smallest int64 has no
// index below it and is dropped.
std::vector<std::int64_t> toZeroBasedChannels(const std::vector<std::int64_t>& channels);

// "In(2) V(4) Ch(4) Out(2)"; an empty map gives "".
std::string describeSongMap(const std::vector<MapEntry>& entries);

// Console conventions shared by the test modes.
std::string formatIntegerList(const std::vector<std::int64_t>& values);  // [5, 6]
std::string formatTempo(double tempo);                                   // integer part, cut toward zero
std::string formatSeconds(double seconds);                               // 30.0, 12.5

// The console modes' target: first device whose name contains the TEST_DEVICE text.
std::optional<CoreAudioDevices::Device> matchDeviceByName(const std::vector<CoreAudioDevices::Device>& devices,
                                                          std::string_view text);

enum class LaunchMode { exportWav, songTest, clickTest, deviceTest, webHost };

LaunchMode chooseLaunchMode(const EnvironmentReader& env = readEnvironment);

struct DeviceTestSettings {
    std::int64_t channel = 1;               // 1-based
    std::int64_t requestedChannelCount = 8;
};

struct ClickTestSettings {
    std::vector<std::int64_t> channels;     // 1-based
    std::int64_t requestedChannelCount = 8;
    double tempo = 100;
    std::int64_t beatsPerBar = 4;
    std::int64_t countInBars = 2;
    std::vector<std::int64_t> songBars;
};

struct SongTestSettings {
    // Channels from 0, as the player takes them; always a channel count.
    // The mute pair comes first in the schedule whenever both are set.
    SongSettings song;
    std::optional<double> stopAt;
};

struct WebHostSettings {
    std::optional<std::string> loadAddress;
    bool selfTestEnabled = false;
    bool bridgeTestPage = false;
};

// Each reads its mode's variables in the documented order, with their defaults.
DeviceTestSettings readDeviceTestSettings(const EnvironmentReader& env = readEnvironment);
ClickTestSettings readClickTestSettings(const EnvironmentReader& env = readEnvironment);
SongTestSettings readSongTestSettings(const EnvironmentReader& env = readEnvironment);
WebHostSettings readWebHostSettings(const EnvironmentReader& env = readEnvironment);

} // namespace cadenzo
