#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo {

// One section of a song map. Labels are kept exactly as given; any bar count
// is stored, and the layout treats counts below 1 as 1. A section without its
// own tempo or beats per bar takes the song's.
struct MapEntry {
    std::string label;
    std::int64_t bars = 0;
    std::optional<double> tempo{};
    std::optional<std::int64_t> beatsPerBar{};

    friend bool operator==(const MapEntry&, const MapEntry&) = default;
};

// Reads "In:2,V:4,Ch:4,Out:2". Unreadable items are dropped, never reported.
std::vector<MapEntry> parseSections(std::string_view text);

double secondsPerBeat(double tempo);
double barDuration(double tempo, std::int64_t beatsPerBar);
// Bars of the song without the count-in; sections shorter than a bar count as one.
std::int64_t songBarCount(const std::vector<MapEntry>& entries);

// Where bars lie in time: runs of bars of one length, bar k of a run at its
// start plus k bar lengths, the last run going on for ever. A song of one
// tempo and metre is a single run from 0, so its bar lines are plain products.
class BarGrid {
public:
    // Every bar alike (implicit: a bar length is such a grid).
    BarGrid(double secondsPerBar = 0.0) : runs_{{0, 0.0, secondsPerBar}} {}

    // From `bar` on (beyond the last change), bars last `secondsPerBar` and
    // bar `bar` begins at `start`; nothing changes for the same length.
    void change(std::int64_t bar, double start, double secondsPerBar);

    double start(std::int64_t bar) const;
    double length(std::int64_t bar) const;
    // The length of the bar sounding at `time`.
    double lengthAt(double time) const;
    // The same bars counted from `bar`, which begins at 0 instead of at `time`.
    BarGrid from(std::int64_t bar, double time) const;

private:
    struct Run {
        std::int64_t firstBar;
        double start;
        double secondsPerBar;
    };
    const Run& runOf(std::int64_t bar) const;

    std::vector<Run> runs_;
};

} // namespace cadenzo
