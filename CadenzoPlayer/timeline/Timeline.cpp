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

// One pass over the song that advances the running time beat by beat,
// appending events when `events` is given and laying out sections when
// `sections` is given. Returns the song end. Shared by buildTimeline and
// layoutSections so that both see the same sums.
double walkSong(std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<MapEntry>& entries,
                double tempo, std::vector<TimelineEvent>* events, std::vector<TimelineSection>* sections) {
    const double beat = secondsPerBeat(tempo);
    const double bar = barDuration(tempo, beatsPerBar);
    double t = 0.0;
    auto append = [&](double time, TimelineEventKind kind) {
        if (events) events->push_back({time, std::move(kind)});
    };

    const std::int64_t countStep = countStepFor(beatsPerBar);
    for (std::int64_t b = 0; b < countInBars; ++b) {
        const bool spoken = !entries.empty() && b < countInBars - 1;
        for (std::int64_t j = 0; j < beatsPerBar; ++j) {
            append(t, TimelineEventKind::click(j == 0));
            if (spoken && j % countStep == 0) {
                const std::int64_t n = j / countStep + 1;
                if (n <= 7) append(t, TimelineEventKind::guide(std::to_string(n)));
            }
            t = beat + t;
        }
    }

    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MapEntry& entry = entries[i];
        const double cueTime = std::max(t - bar, 0.0);
        append(cueTime, TimelineEventKind::guide(entry.label));
        if (beatsPerBar >= 2) {
            for (std::int64_t k = 1; k < beatsPerBar && k <= 6; ++k) {
                append(cueTime + beat * static_cast<double>(k), TimelineEventKind::guide(std::to_string(k + 1)));
            }
        }
        const double startTime = t;
        const std::int64_t bars = std::max<std::int64_t>(entry.bars, 1);
        for (std::int64_t b = 0; b < bars; ++b) {
            for (std::int64_t j = 0; j < beatsPerBar; ++j) {
                append(t, TimelineEventKind::click(j == 0));
                t = beat + t;
            }
        }
        if (sections) sections->push_back({static_cast<std::int64_t>(i), entry.label, startTime, t});
    }

    if (!entries.empty()) append(std::max(t - bar, 0.0), TimelineEventKind::guide("End"));
    return t;
}

} // namespace


SectionLayout layoutSections(std::int64_t beatsPerBar, std::int64_t countInBars,
                             const std::vector<MapEntry>& entries, double tempo) {
    SectionLayout layout;
    layout.songEnd = walkSong(beatsPerBar, countInBars, entries, tempo, nullptr, &layout.sections);
    return layout;
}

TimelineResult buildTimeline(std::int64_t beatsPerBar, std::int64_t countInBars,
                             const std::vector<MapEntry>& entries, std::int64_t startSection,
                             double tempo) {
    TimelineResult result;
    std::vector<TimelineSection> sections;
    const double songEnd = walkSong(beatsPerBar, countInBars, entries, tempo, &result.events, &sections);
    std::stable_sort(result.events.begin(), result.events.end(),
                     [](const TimelineEvent& a, const TimelineEvent& b) { return earlier(a.time, b.time); });

    const double bar = barDuration(tempo, beatsPerBar);
    const bool cut = startSection >= 1 && startSection < static_cast<std::int64_t>(sections.size()) &&
                     std::isfinite(bar) && bar > 0.0;
    if (!cut) {
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
    result.startBar = static_cast<std::int64_t>((offset - bar * static_cast<double>(countInBars)) / bar + 0.5);
    result.totalDuration = songEnd - offset;
    return result;
}

} // namespace cadenzo
