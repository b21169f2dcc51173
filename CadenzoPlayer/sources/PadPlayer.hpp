#pragma once

#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// A soft chord bed rendered ahead of playback: a detuned drone on the key, or
// five voices that follow a chord chart, led smoothly from chord to chord.
namespace cadenzo::PadPlayer {

// A detuned major chord on the key for `duration` seconds plus the release.
// Nothing for a key that parseKey rejects or a buffer that cannot be made.
PcmBufferPtr makeDronePad(std::string_view key, double secondsPerBar, double duration, const AudioFormat& format,
                          std::span<const std::int64_t> channels);

// A pad that follows `chords` (entry i is the i-th bar after the count-in),
// crossfading at each change.
PcmBufferPtr renderPad(std::string_view key, double secondsPerBar, double duration, const AudioFormat& format,
                       std::span<const std::int64_t> channels, std::int64_t countInBars,
                       std::span<const std::optional<PadChord>> chords);

} // namespace cadenzo::PadPlayer
