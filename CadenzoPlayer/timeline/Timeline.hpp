#pragma once

#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace cadenzo {

struct TimelineEventKind {
    struct Click {
        bool accent = false;
        friend bool operator==(const Click&, const Click&) = default;
    };
    struct Guide {
        std::string label;
        friend bool operator==(const Guide&, const Guide&) = default;
    };

    static TimelineEventKind click(bool accent) { return {Click{accent}}; }
    static TimelineEventKind guide(std::string label) { return {Guide{std::move(label)}}; }

    bool isClick() const { return std::holds_alternative<Click>(value); }
    bool isGuide() const { return std::holds_alternative<Guide>(value); }
    // Only meaningful for the matching case.
    bool accent() const { return isClick() && std::get<Click>(value).accent; }
    const std::string& label() const { return std::get<Guide>(value).label; }

    std::variant<Click, Guide> value;
    friend bool operator==(const TimelineEventKind&, const TimelineEventKind&) = default;
};

struct TimelineEvent {
    double time = 0.0;
    TimelineEventKind kind;
};

// A section laid out in time, from the first beat of the count-in.
struct TimelineSection {
    std::int64_t index = 0;
    std::string label;
    double startTime = 0.0;
    double endTime = 0.0;
};

struct TimelineResult {
    std::vector<TimelineEvent> events;
    std::int64_t startBar = 0;
    double totalDuration = 0.0;
    // The bars played, bar 0 the first, from the start of playback.
    BarGrid bars;
};

// Clicks on every beat, count-in numbers, each section's cue and count one
// bar ahead, "End" one bar before the end, sorted by time (stable), cut at
// the start of the bar before startSection when 1 <= startSection < entries.size().
// Each section plays at its own tempo and metre or else the song's; the
// count-in takes the first section's. A cue and its count follow the bar that
// carries them, and count no further than the beats of the section they lead into.
//
// Outside the data model: a negative countInBars or beatsPerBar adds no beats
// for that part; a start-section cut is skipped when the bar before it has no
// positive, finite length (beatsPerBar <= 0 or a bad tempo), so startBar stays 0.
// Callers reject a tempo that is not positive and finite before building.
TimelineResult buildTimeline(std::int64_t beatsPerBar, std::int64_t countInBars,
                             const std::vector<MapEntry>& entries, std::int64_t startSection,
                             double tempo);

struct SectionLayout {
    std::vector<TimelineSection> sections;
    double songEnd = 0.0;
};

// Start and end of every section. Times are running sums of each section's
// secondsPerBeat, one addition per beat, so they match the clicks of
// buildTimeline bit for bit.
SectionLayout layoutSections(std::int64_t beatsPerBar, std::int64_t countInBars,
                             const std::vector<MapEntry>& entries, double tempo);

} // namespace cadenzo
