#include "CadenzoPlayer/launch/Environment.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cadenzo {

std::optional<std::string> readEnvironment(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

bool isFlagOn(const EnvironmentReader& env, std::string_view name) { return env(name) == "1"; }

bool isFlagOn(std::string_view name) { return isFlagOn(readEnvironment, name); }

std::vector<std::int64_t> toZeroBasedChannels(const std::vector<std::int64_t>& channels) {
    std::vector<std::int64_t> indices;
    indices.reserve(channels.size());
    for (std::int64_t channel : channels) {
        if (channel != INT64_MIN) indices.push_back(channel - 1);
    }
    return indices;
}

std::string describeSongMap(const std::vector<MapEntry>& entries) {
    std::string text;
    for (const MapEntry& entry : entries) {
        if (!text.empty()) text += ' ';
        text += entry.label + "(" + std::to_string(entry.bars) + ")";
    }
    return text;
}

std::string formatIntegerList(const std::vector<std::int64_t>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(values[i]);
    }
    return text + "]";
}

std::string formatTempo(double tempo) {
    // Any finite double has an exact integer part; printf writes it in full.
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.0f", std::trunc(tempo));
    return std::string(buffer) == "-0" ? "0" : buffer;
}

std::string formatSeconds(double seconds) {
    // Fixed notation: "0.0001", never "1e-04"; the longest double needs 310 places.
    char buffer[400];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (text.find_first_not_of("-0123456789") == std::string::npos) text += ".0";
    return text;
}

std::optional<CoreAudioDevices::Device> matchDeviceByName(const std::vector<CoreAudioDevices::Device>& devices,
                                                          std::string_view text) {
    return CoreAudioDevices::deviceWithNameContaining(devices, text);
}

LaunchMode chooseLaunchMode(const EnvironmentReader& env) {
    if (env("EXPORT_WAV")) return LaunchMode::exportWav;
    const bool deviceSet = env("TEST_DEVICE").has_value();
    if (isFlagOn(env, "TEST_SONG") && deviceSet) return LaunchMode::songTest;
    if (isFlagOn(env, "TEST_CLICK") && deviceSet) return LaunchMode::clickTest;
    if (deviceSet) return LaunchMode::deviceTest;
    return LaunchMode::webHost;
}

namespace {

std::int64_t readInteger(const EnvironmentReader& env, std::string_view name, std::int64_t fallback) {
    if (auto text = env(name)) {
        if (auto value = parseInteger(*text)) return *value;
    }
    return fallback;
}

std::optional<double> readOptionalNumber(const EnvironmentReader& env, std::string_view name) {
    if (auto text = env(name)) return parseNumber(*text);
    return std::nullopt;
}

double readNumber(const EnvironmentReader& env, std::string_view name, double fallback) {
    return readOptionalNumber(env, name).value_or(fallback);
}

std::vector<std::int64_t> readIntegerList(const EnvironmentReader& env, std::string_view name,
                                          std::string_view fallback) {
    return parseIntegerList(env(name).value_or(std::string(fallback)));
}

} // namespace

DeviceTestSettings readDeviceTestSettings(const EnvironmentReader& env) {
    DeviceTestSettings settings;
    settings.channel = readInteger(env, "TEST_CHANNEL", 1);
    settings.requestedChannelCount = readInteger(env, "TEST_CHANNELS", 8);
    return settings;
}

ClickTestSettings readClickTestSettings(const EnvironmentReader& env) {
    ClickTestSettings settings;
    settings.channels = readIntegerList(env, "TEST_CHANNEL", "1");
    settings.requestedChannelCount = readInteger(env, "TEST_CHANNELS", 8);
    settings.tempo = readNumber(env, "TEMPO", 100);
    settings.beatsPerBar = readInteger(env, "BEATS_PER_BAR", 4);
    settings.countInBars = readInteger(env, "COUNT_IN_BARS", 2);
    settings.songBars = readIntegerList(env, "SONG_BARS", "4,4,8");
    return settings;
}

SongTestSettings readSongTestSettings(const EnvironmentReader& env) {
    SongTestSettings settings;
    SongSettings& song = settings.song;
    song.clickChannels = toZeroBasedChannels(readIntegerList(env, "CLICK_CHANNEL", "5"));
    song.guideChannels = toZeroBasedChannels(readIntegerList(env, "GUIDE_CHANNEL", "7"));
    song.padChannels = toZeroBasedChannels(readIntegerList(env, "PAD_CHANNEL", ""));
    song.padKey = env("PAD_KEY");
    if (auto chords = env("PAD_CHORDS")) song.padChords = splitList(*chords);
    song.totalChannels = readInteger(env, "TEST_CHANNELS", 8);
    song.tempo = readNumber(env, "TEMPO", 100);
    song.beatsPerBar = readInteger(env, "BEATS_PER_BAR", 4);
    song.countInBars = readInteger(env, "COUNT_IN_BARS", 2);
    song.entries = parseSections(env("SECTIONS").value_or("In:2,V:4,Ch:4,Out:2"));
    song.startSection = readInteger(env, "START_SECTION", 0);
    if (auto muteAt = readOptionalNumber(env, "GUIDE_MUTE_AT")) song.guideMuteSchedule.emplace_back(*muteAt, true);
    if (auto unmuteAt = readOptionalNumber(env, "GUIDE_UNMUTE_AT")) song.guideMuteSchedule.emplace_back(*unmuteAt, false);
    settings.stopAt = readOptionalNumber(env, "STOP_AT");
    return settings;
}

WebHostSettings readWebHostSettings(const EnvironmentReader& env) {
    WebHostSettings settings;
    settings.loadAddress = env("LOAD_URL");
    settings.selfTestEnabled = isFlagOn(env, "SELF_TEST");
    settings.bridgeTestPage = isFlagOn(env, "BRIDGE_TEST_PAGE");
    return settings;
}

} // namespace cadenzo
