#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo {

// One section of a song map. Labels are kept exactly as given; any bar count
// is stored, and the layout treats counts below 1 as 1.
struct MapEntry {
    std::string label;
    std::int64_t bars = 0;

    friend bool operator==(const MapEntry&, const MapEntry&) = default;
};

// Reads "In:2,V:4,Ch:4,Out:2". Unreadable items are dropped, never reported.
std::vector<MapEntry> parseSections(std::string_view text);

double secondsPerBeat(double tempo);
double barDuration(double tempo, std::int64_t beatsPerBar);
// Bars of the song without the count-in; sections shorter than a bar count as one.
std::int64_t songBarCount(const std::vector<MapEntry>& entries);

} // namespace cadenzo
