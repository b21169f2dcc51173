#pragma once

#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cadenzo::ClickTrack {

struct Event {
    double time = 0.0;  // seconds from the start of playback
    bool accent = false;  // first beat of a bar

    friend bool operator==(const Event&, const Event&) = default;
};

struct Events {
    std::vector<Event> events;
    double totalDuration = 0.0;
};

// Every beat of the count-in and of each section (a section shorter than one
// bar still gets one bar), accented on beat 0 of each bar. Times are running
// sums of the beat length. A negative beatsPerBar or countInBars adds nothing;
// callers reject a tempo that is not positive and finite.
Events makeClickEvents(std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<std::int64_t>& sectionBars,
                       double tempo);

inline constexpr double clickSeconds = 0.08;
// Above this a beat is shorter than the click, and clicks would pile up.
inline constexpr double fastestTempo = 60.0 / clickSeconds;

// Why a tempo cannot be played, in the words every player refuses it with;
// nothing when it can.
std::optional<std::string> tempoProblem(double tempo);

// One 80 ms click (accent 1200 Hz at 0.9, normal 800 Hz at 0.55) on every
// valid listed channel (0-based); other channels, and the whole buffer when no
// index is valid, are silent. The listed channels share one array. Nullptr only
// when the storage cannot be had.
std::shared_ptr<PcmBuffer> makeClickBuffer(bool accent, const AudioFormat& format,
                                           const std::vector<std::int64_t>& channels);

} // namespace cadenzo::ClickTrack
