#include "CadenzoPlayer/PadChords.hpp"

#include "CadenzoPlayer/TextParsing.hpp"

#include <array>
#include <string>

namespace cadenzo {

int pitchClass(int value) {
    const int m = value % 12;
    return m < 0 ? m + 12 : m;
}

namespace {

constexpr std::array<int, 7> degreeSemitones = {0, 2, 4, 5, 7, 9, 11};

// The character class [b#♭♯]: +1, -1, or 0 for any other character.
int accidentalOffset(char32_t c) {
    if (c == U'#' || c == U'\u266F') return 1;
    if (c == U'b' || c == U'\u266D') return -1;
    return 0;
}

// What the dot does not match.
bool isLineTerminator(char32_t c) {
    return (c >= U'\n' && c <= U'\r') || c == U'\u0085' || c == U'\u2028' || c == U'\u2029';
}

struct DegreeMatch {
    int offset = 0;  // accidental, in semitones
    int degree = 1;
    std::u32string_view rest;
};

// ^([b#♭♯]?)([1-7])(.*)$ over the whole text, without the recursion of a
// backtracking engine (quality text may be arbitrarily long). The optional
// accidental never competes with the degree for a character, so a single
// left-to-right pass finds the only possible match.
std::optional<DegreeMatch> matchChordPattern(std::u32string_view text) {
    DegreeMatch match;
    std::size_t i = 0;
    if (!text.empty() && accidentalOffset(text[0]) != 0) {
        match.offset = accidentalOffset(text[0]);
        i = 1;
    }
    if (i >= text.size() || text[i] < U'1' || text[i] > U'7') return std::nullopt;
    match.degree = static_cast<int>(text[i] - U'0');
    match.rest = text.substr(i + 1);
    for (char32_t c : match.rest) {
        if (isLineTerminator(c)) return std::nullopt;
    }
    return match;
}

// ^([b#♭♯]?)([1-7])$
std::optional<DegreeMatch> matchBassPattern(std::u32string_view text) {
    auto match = matchChordPattern(text);
    if (!match || !match->rest.empty()) return std::nullopt;
    return match;
}

bool contains(std::u32string_view text, std::u32string_view part) {
    return text.find(part) != std::u32string_view::npos;
}

} // namespace

std::optional<int> parseKey(std::string_view name) {
    name = trimSpaces(name);
    if (name.empty()) return std::nullopt;

    // No character outside ASCII uppercases to a single letter A-G, so the
    // letter can be read from the first byte.
    char letter = name.front();
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    int base = 0;
    switch (letter) {
    case 'C': base = 0; break;
    case 'D': base = 2; break;
    case 'E': base = 4; break;
    case 'F': base = 5; break;
    case 'G': base = 7; break;
    case 'A': base = 9; break;
    case 'B': base = 11; break;
    default: return std::nullopt;
    }

    const std::string_view rest = name.substr(1);
    int offset = 0;
    if (rest.empty()) {
        offset = 0;
    } else if (rest == "#" || rest == "\u266F") {
        offset = 1;
    } else if (rest == "b" || rest == "\u266D") {
        offset = -1;
    } else {
        return std::nullopt;
    }
    return pitchClass(base + offset);
}

std::optional<PadChord> parseChord(std::string_view symbol, int key) {
    if (!symbol.empty() && symbol.front() == '<') symbol.remove_prefix(1);

    const auto slash = symbol.find('/');
    const std::string_view chordPart = symbol.substr(0, slash);
    std::optional<std::string_view> bassPart;
    if (slash != std::string_view::npos) {
        bassPart = symbol.substr(slash + 1);
        if (bassPart->find('/') != std::string_view::npos) return std::nullopt;
    }

    const auto chordText = strictUtf8(chordPart);
    if (!chordText) return std::nullopt;
    const auto chord = matchChordPattern(*chordText);
    if (!chord) return std::nullopt;

    const int root = pitchClass(key + degreeSemitones[chord->degree - 1] + chord->offset);
    const std::u32string_view quality = chord->rest;
    const bool sus2 = contains(quality, U"sus2");
    const bool sus = !sus2 && contains(quality, U"sus");
    const bool minor = quality.starts_with(U'-');
    const bool diminished = contains(quality, U"dim") || contains(quality, U"\u00B0");
    const bool augmented = contains(quality, U"aug") || contains(quality, U"+");
    const bool majorSeventh = contains(quality, U"maj7") || contains(quality, U"M7");
    const bool seventh = contains(quality, U"7");

    const int third = sus2 ? 2 : sus ? 5 : (minor || diminished) ? 3 : 4;
    const int fifth = diminished ? 6 : augmented ? 8 : 7;

    PadChord result;
    result.root = root;
    result.tones = {root, pitchClass(root + third), pitchClass(root + fifth)};
    if (majorSeventh) {
        result.tones.push_back(pitchClass(root + 11));
    } else if (seventh) {
        result.tones.push_back(pitchClass(root + (diminished ? 9 : 10)));
    }

    if (bassPart) {
        const auto bassText = strictUtf8(*bassPart);
        if (!bassText) return std::nullopt;
        const auto bass = matchBassPattern(*bassText);
        if (!bass) return std::nullopt;
        const int bassClass = pitchClass(key + degreeSemitones[bass->degree - 1] + bass->offset);
        if (bassClass != root) result.bass = bassClass;
    }
    return result;
}

std::optional<BarChords> parseBar(std::string_view item, int key) {
    if (!item.starts_with('[')) {
        auto chord = parseChord(item, key);
        if (!chord) return std::nullopt;
        return BarChords{std::move(*chord)};
    }
    if (item.size() < 2 || !item.ends_with(']')) return std::nullopt;
    BarChords chords;
    for (const std::string& symbol : splitNonEmpty(item.substr(1, item.size() - 2), ' ')) {
        auto chord = symbol.find_first_of("[]") == std::string::npos ? parseChord(symbol, key) : std::nullopt;
        if (!chord || chords.size() == maxChordsPerBar) return std::nullopt;
        chords.push_back(std::move(*chord));
    }
    if (chords.empty()) return std::nullopt;
    return chords;
}

} // namespace cadenzo
