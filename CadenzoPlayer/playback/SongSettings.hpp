#pragma once

#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cadenzo {

// A song as every caller hands it to the player: the bridge's request, the
// song test's variables. Channel indices count from 0.
struct SongSettings {
    using GuideMuteSchedule = std::vector<std::pair<double, bool>>;  // (seconds after start, muted)

    std::vector<std::int64_t> clickChannels;
    std::vector<std::int64_t> guideChannels;
    std::vector<std::int64_t> padChannels;  // empty: no pad
    // Absent: as many as the device has.
    std::optional<std::int64_t> totalChannels;
    double tempo = 120.0;
    std::int64_t beatsPerBar = 4;
    std::int64_t countInBars = 2;
    std::vector<MapEntry> entries;
    std::int64_t startSection = 0;
    std::optional<std::string> padKey;  // absent: no pad
    std::optional<std::vector<std::string>> padChords;  // absent: a drone in the key
    GuideMuteSchedule guideMuteSchedule;
    // The cues start muted: not one sounds until they are unmuted.
    bool guideMuted = false;
    // Each source's level in dB; 0 plays it as it is made.
    struct Levels {
        double click = 0, guide = 0, pad = 0;
        friend bool operator==(const Levels&, const Levels&) = default;
    } levels;
    // Shown to those who follow the song (OSC clients); at most longestLabel bytes are kept.
    std::string title;

    // Far beyond any real song; a larger one is refused before anything is
    // built, so that a mistaken or hostile request cannot hold the player.
    static constexpr std::size_t longestLabel = 256;  // bytes
    static constexpr std::size_t mostSections = 1000;
    static constexpr double mostBars = 20000;  // sections below a bar count as one
    static constexpr std::size_t longestChart = 20000;  // chords
    static constexpr std::size_t longestChord = 64;  // bytes, as the key
    static constexpr std::size_t mostListedChannels = 1024;  // per source
};

// Levels of the playing song to change, in dB; an absent one stays as it is.
struct LevelChange {
    std::optional<double> click, guide, pad;
    friend bool operator==(const LevelChange&, const LevelChange&) = default;
};

} // namespace cadenzo
