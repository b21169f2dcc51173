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

} // namespace cadenzo
