#include "CadenzoPlayer/timeline/SongMap.hpp"

#include "CadenzoPlayer/TextParsing.hpp"

#include <algorithm>

namespace cadenzo {

std::vector<MapEntry> parseSections(std::string_view text) {
    std::vector<MapEntry> entries;
    for (const std::string& piece : splitNonEmpty(text, ',')) {
        std::vector<std::string> parts = splitNonEmpty(piece, ':');
        if (parts.size() != 2) continue;
        if (auto bars = parseInteger(parts[1])) entries.push_back({parts[0], *bars});
    }
    return entries;
}

double secondsPerBeat(double tempo) { return 60.0 / tempo; }

double barDuration(double tempo, std::int64_t beatsPerBar) {
    return secondsPerBeat(tempo) * static_cast<double>(beatsPerBar);
}

std::int64_t songBarCount(const std::vector<MapEntry>& entries) {
    std::int64_t count = 0;
    for (const MapEntry& entry : entries) count += std::max<std::int64_t>(entry.bars, 1);
    return count;
}

void BarGrid::change(std::int64_t bar, double start, double secondsPerBar) {
    if (secondsPerBar == runs_.back().secondsPerBar) return;
    runs_.push_back({bar, start, secondsPerBar});
}

const BarGrid::Run& BarGrid::runOf(std::int64_t bar) const {
    auto after = std::upper_bound(runs_.begin() + 1, runs_.end(), bar,
                                  [](std::int64_t b, const Run& run) { return b < run.firstBar; });
    return *(after - 1);
}

double BarGrid::start(std::int64_t bar) const {
    const Run& run = runOf(bar);
    return run.start + run.secondsPerBar * static_cast<double>(bar - run.firstBar);
}

double BarGrid::length(std::int64_t bar) const { return runOf(bar).secondsPerBar; }

double BarGrid::lengthAt(double time) const {
    auto after = std::upper_bound(runs_.begin() + 1, runs_.end(), time,
                                  [](double t, const Run& run) { return t < run.start; });
    return (after - 1)->secondsPerBar;
}

BarGrid BarGrid::from(std::int64_t bar, double time) const {
    BarGrid grid(length(bar));
    for (const Run& run : runs_) {
        if (run.firstBar > bar) grid.change(run.firstBar - bar, run.start - time, run.secondsPerBar);
    }
    return grid;
}

} // namespace cadenzo
