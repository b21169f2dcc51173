#pragma once

#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The pad's musical rules behind makeDronePad and renderPad: its tuning,
// voicing and voice leading, chord segments, envelope and length.
namespace cadenzo::PadPlayer {

// MIDI notes, one per voice.
using Voicing = std::array<int, 5>;

struct Segment {
    double startTime = 0.0;  // seconds from the buffer's start
    PadChord chord;
    Voicing voicing{};
    std::size_t chordsInBar = 1;  // its crossfade is sized from its share of the bar

    friend bool operator==(const Segment&, const Segment&) = default;
};

inline constexpr float voiceAmplitude = 0.05f;
inline constexpr float bassAmplitude = 0.07f;
// A slash bass sounds at this note plus its pitch class.
inline constexpr int bassOctaveNote = 48;
// Anchors above the key's pitch class: root, third, fifth, then root and third an octave up.
inline constexpr Voicing anchorOffsets = {48, 52, 55, 60, 64};
// Index into a chord's tones for each voice; voice 3 takes the root when there is no seventh.
inline constexpr std::array<std::size_t, 5> voiceToneIndex = {0, 1, 2, 3, 1};
// Drone partials above note 48 + key, each detuned by (j - 2) steps of droneDetuneCents.
inline constexpr std::array<int, 5> dronePartialOffsets = {0, 4, 7, 12, 16};
inline constexpr double droneDetuneCents = 4.0;
inline constexpr double releaseSeconds = 2.0;
inline constexpr double tailSeconds = 0.1;
inline constexpr double crossfadeBarFraction = 0.4;
inline constexpr double crossfadeMaxSeconds = 0.5;

// 440 Hz at note 69, twelve equal steps per octave.
double noteFrequency(int note);

// The voicing of the key's tonic chord, towards which every voice stays.
Voicing anchorNotes(int key);
// The key's major triad.
PadChord tonicChord(int key);

// Linear fade-in over the first bar, 1 until the duration, linear release
// over releaseSeconds, then 0. The fade-in wins when the song is shorter than a bar.
double envelope(double t, double secondsPerBar, double duration);
double crossfadeLength(double secondsPerBar);

// trunc((duration + release + tail) x sampleRate); nothing when an input is
// negative or not finite, or the count does not fit in 32 bits.
std::optional<std::uint32_t> padFrameCount(double duration, double sampleRate);

// Each voice takes its chord tone (voiceToneIndex; a tone the chord lacks
// falls back to the root): a voice already on that pitch class holds its
// note, the others move to the nearest such note around their anchor
// (anchor - 6 ... anchor + 5). An empty `tones` leaves the voicing as it is.
Voicing voiceLead(std::span<const int> tones, const Voicing& previous, const Voicing& anchors);

// The chord changes of a chart: one segment to start with (the first chord
// when there is no count-in, the tonic otherwise) and one per chord that
// differs from the one sounding, where its share of its bar begins. Absent
// bars sound as the tonic.
std::vector<Segment> buildPadSegments(int key, const BarGrid& bars, std::int64_t countInBars,
                                      std::span<const std::optional<BarChords>> chords);

// One sample of a voicing (and optional slash bass) at time t, scaled by gain:
// the reference that rendering follows.
float chordSample(std::optional<int> bass, std::span<const int> voicing, double t, float gain);

} // namespace cadenzo::PadPlayer
