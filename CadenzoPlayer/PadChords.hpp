#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace cadenzo {

// A chord as pitch classes 0-11, C = 0.
struct PadChord {
    int root = 0;
    // Root, third, fifth and an optional seventh.
    std::vector<int> tones;
    // A slash bass; absent when there is none or it is the root.
    std::optional<int> bass;

    friend bool operator==(const PadChord&, const PadChord&) = default;
};

// 0 to 11 for any whole number of semitones above C.
int pitchClass(int value);

// A key name such as "C", "f#" or "B♭" (UTF-8) as a pitch class. Spaces and
// tabs around the name are ignored; minor keys and other text give nothing.
std::optional<int> parseKey(std::string_view name);

// A chord symbol in scale degrees ("1", "6-", "57", "4/5", "♭7") of the key
// with pitch class `key`, or nothing when the symbol does not read as one.
std::optional<PadChord> parseChord(std::string_view symbol, int key);

// The chords of one bar of a chart, sharing it evenly in this order.
using BarChords = std::vector<PadChord>;
inline constexpr std::size_t maxChordsPerBar = 16;

// A chart item: one chord symbol, or up to maxChordsPerBar of them in square
// brackets, separated by spaces ("[1 4]"). Nothing when it does not read: an
// unreadable symbol, brackets empty, nested or too full.
std::optional<BarChords> parseBar(std::string_view item, int key);

} // namespace cadenzo
