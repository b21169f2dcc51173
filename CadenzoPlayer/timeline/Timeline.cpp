#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <algorithm>
#include <cmath>

namespace cadenzo {

namespace {

std::int64_t countStepFor(std::int64_t beatsPerBar) {
    if (beatsPerBar <= 3) return 1;
    return beatsPerBar % 3 == 0 ? 3 : 2;
}

// NaN times (only from a tempo callers must reject) sort last instead of
// breaking the ordering the sort relies on.
bool earlier(double a, double b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
}

// The beat and bar of a section, or of the count-in (its first section's).
struct Metre {
    double beat;
    double bar;
    std::int64_t beats;
};

Metre metreOf(const MapEntry* entry, double tempo, std::int64_t beatsPerBar) {
    if (entry) {
        tempo = entry->tempo.value_or(tempo);
        beatsPerBar = entry->beatsPerBar.value_or(beatsPerBar);
    }
    return {secondsPerBeat(tempo), barDuration(tempo, beatsPerBar), beatsPerBar};
}

// One pass over the song that advances the running time beat by beat,
// appending events when `events` is given, laying out sections when
// `sections` is given and bar lines when `grid` is. Returns the song end.
// Shared by buildTimeline and layoutSections so that both see the same sums.
double walkSong(std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<MapEntry>& entries,
                double tempo, std::vector<TimelineEvent>* events, std::vector<TimelineSection>* sections,
                BarGrid* grid) {
    const Metre countIn = metreOf(entries.empty() ? nullptr : &entries.front(), tempo, beatsPerBar);
    double t = 0.0;
    auto append = [&](double time, TimelineEventKind kind) {
        if (events) events->push_back({time, std::move(kind)});
    };
    if (grid) *grid = BarGrid(countIn.bar);

    const std::int64_t countStep = countStepFor(countIn.beats);
    for (std::int64_t b = 0; b < countInBars; ++b) {
        const bool spoken = !entries.empty() && b < countInBars - 1;
        for (std::int64_t j = 0; j < countIn.beats; ++j) {
            append(t, TimelineEventKind::click(j == 0));
            if (spoken && j % countStep == 0) {
                const std::int64_t n = j / countStep + 1;
                if (n <= 7) append(t, TimelineEventKind::guide(std::to_string(n)));
            }
            t = countIn.beat + t;
        }
    }

    // The bar before each section carries its cue, in that bar's own metre.
    Metre cueBar = countIn;
    std::int64_t barsSoFar = std::max<std::int64_t>(countInBars, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MapEntry& entry = entries[i];
        const Metre metre = metreOf(&entry, tempo, beatsPerBar);
        const double cueTime = std::max(t - cueBar.bar, 0.0);
        append(cueTime, TimelineEventKind::guide(entry.label));
        for (std::int64_t k = 1; k < std::min(metre.beats, cueBar.beats) && k <= 6; ++k) {
            append(cueTime + cueBar.beat * static_cast<double>(k), TimelineEventKind::guide(std::to_string(k + 1)));
        }
        const double startTime = t;
        if (grid) grid->change(barsSoFar, t, metre.bar);
        const std::int64_t bars = std::max<std::int64_t>(entry.bars, 1);
        for (std::int64_t b = 0; b < bars; ++b) {
            for (std::int64_t j = 0; j < metre.beats; ++j) {
                append(t, TimelineEventKind::click(j == 0));
                t = metre.beat + t;
            }
        }
        barsSoFar += bars;
        cueBar = metre;
        if (sections) sections->push_back({static_cast<std::int64_t>(i), entry.label, startTime, t});
    }

    if (!entries.empty()) append(std::max(t - cueBar.bar, 0.0), TimelineEventKind::guide("End"));
    return t;
}

} // namespace


SectionLayout layoutSections(std::int64_t beatsPerBar, std::int64_t countInBars,
                             const std::vector<MapEntry>& entries, double tempo) {
    SectionLayout layout;
    layout.songEnd = walkSong(beatsPerBar, countInBars, entries, tempo, nullptr, &layout.sections, nullptr);
    return layout;
}

TimelineResult buildTimeline(std::int64_t beatsPerBar, std::int64_t countInBars,
                             const std::vector<MapEntry>& entries, std::int64_t startSection,
                             double tempo) {
    TimelineResult result;
    std::vector<TimelineSection> sections;
    BarGrid grid;
    const double songEnd =
        walkSong(beatsPerBar, countInBars, entries, tempo, &result.events, &sections, &grid);
    std::stable_sort(result.events.begin(), result.events.end(),
                     [](const TimelineEvent& a, const TimelineEvent& b) { return earlier(a.time, b.time); });

    const bool inMap = startSection >= 1 && startSection < static_cast<std::int64_t>(sections.size());
    // The cut begins with the last bar of the section before.
    const double bar = inMap ? metreOf(&entries[static_cast<std::size_t>(startSection) - 1], tempo, beatsPerBar).bar
                             : 0.0;
    if (!(std::isfinite(bar) && bar > 0.0)) {
        result.bars = std::move(grid);
        result.totalDuration = songEnd;
        return result;
    }

    const double offset = std::max(sections[static_cast<std::size_t>(startSection)].startTime - bar, 0.0);
    std::vector<TimelineEvent> kept;
    kept.reserve(result.events.size());
    for (TimelineEvent& event : result.events) {
        if (event.time >= offset - 1e-9) {
            event.time -= offset;
            kept.push_back(std::move(event));
        }
    }
    result.events = std::move(kept);
    result.startBar = -1;  // the song's bars before the cut
    for (std::int64_t i = 0; i < startSection; ++i) {
        result.startBar += std::max<std::int64_t>(entries[static_cast<std::size_t>(i)].bars, 1);
    }
    result.bars = grid.from(std::max<std::int64_t>(countInBars, 0) + result.startBar, offset);
    result.totalDuration = songEnd - offset;
    return result;
}

} // namespace cadenzo
