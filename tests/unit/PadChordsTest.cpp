#include "CadenzoPlayer/PadChords.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace cadenzo {
static void PrintTo(const PadChord& chord, std::ostream* os) {
    *os << "root " << chord.root << " tones [";
    for (std::size_t i = 0; i < chord.tones.size(); ++i) *os << (i ? ", " : "") << chord.tones[i];
    *os << "] bass " << (chord.bass ? std::to_string(*chord.bass) : "none");
}
} // namespace cadenzo

using namespace cadenzo;

namespace {

struct KeyCase {
    std::string name;
    std::optional<int> pitchClass;
};

TEST(ParseKey, LettersWithOptionalAccidental) {
    const std::vector<KeyCase> cases = {
        {"C", 0},       {"c", 0},      {"D", 2},        {"E", 4},      {"F", 5},          {"G", 7},
        {"A", 9},       {"B", 11},     {"Bb", 10},      {"B♭", 10},    {"F#", 6},         {"F♯", 6},
        {"f♯", 6},      {"Cb", 11},    {"B#", 0},       {"E#", 5},     {"\tG ", 7},       {"  Eb\t\t", 3},
        {"Am", {}},     {"C#m", {}},   {"H", {}},       {"Bbb", {}},   {"", {}},          {"   ", {}},
        {"\t", {}},     {"C #", {}},   {"#C", {}},      {"C\n", {}},   {"\xC2\xA0" "C", {}}, {"C\xE2\x99", {}},
        {"CB", {}},     {"C♭♭", {}},   {"Ab#", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseKey(c.name), c.pitchClass) << "key name '" << c.name << "'";
    }
}

struct ChordCase {
    std::string symbol;
    int root;
    std::vector<int> tones;
    std::optional<int> bass;
};

void expectChords(const std::vector<ChordCase>& cases, int key) {
    for (const auto& c : cases) {
        const auto chord = parseChord(c.symbol, key);
        ASSERT_TRUE(chord) << "symbol '" << c.symbol << "' in key " << key;
        EXPECT_EQ(*chord, (PadChord{c.root, c.tones, c.bass})) << "symbol '" << c.symbol << "' in key " << key;
    }
}

TEST(ParseChord, DegreesAndQualitiesInC) {
    expectChords(
        {
            {"1", 0, {0, 4, 7}, {}},
            {"4", 5, {5, 9, 0}, {}},
            {"6-", 9, {9, 0, 4}, {}},
            {"57", 7, {7, 11, 2, 5}, {}},
            {"2-7", 2, {2, 5, 9, 0}, {}},
            {"4maj7", 5, {5, 9, 0, 4}, {}},
            {"1M7", 0, {0, 4, 7, 11}, {}},
            {"7dim", 11, {11, 2, 5}, {}},
            {"7°7", 11, {11, 2, 5, 8}, {}},
            {"1sus", 0, {0, 5, 7}, {}},
            {"1sus4", 0, {0, 5, 7}, {}},
            {"1sus2", 0, {0, 2, 7}, {}},
            {"1+", 0, {0, 4, 8}, {}},
            {"5aug7", 7, {7, 11, 3, 5}, {}},
            {"b7", 10, {10, 2, 5}, {}},
            {"#4-7", 6, {6, 9, 1, 4}, {}},
            {"1/3", 0, {0, 4, 7}, 4},
            {"5/b7", 7, {7, 11, 2}, 10},
            {"1/1", 0, {0, 4, 7}, {}},
            {"<4", 5, {5, 9, 0}, {}},
            {"1m", 0, {0, 4, 7}, {}},
        },
        0);
}

TEST(ParseChord, UnicodeAccidentalsAreSingleCharacters) {
    expectChords(
        {
            {"♭7", 10, {10, 2, 5}, {}},
            {"♯4-7", 6, {6, 9, 1, 4}, {}},
            {"5/♭7", 7, {7, 11, 2}, 10},
            {"1/♯4", 0, {0, 4, 7}, 6},
            {"♭3°", 3, {3, 6, 9}, {}},
        },
        0);
}

TEST(ParseChord, DegreesCountFromTheKey) {
    expectChords(
        {
            {"1", 10, {10, 2, 5}, {}},
            {"5", 5, {5, 9, 0}, {}},
            {"4/5", 3, {3, 7, 10}, 5},
            {"7", 9, {9, 1, 4}, {}},
        },
        10);
    // Roots and basses wrap into 0-11 from either side.
    expectChords({{"#7", 0, {0, 4, 7}, {}}, {"b1/1", 11, {11, 3, 6}, 0}}, 0);
    expectChords({{"7", 10, {10, 2, 5}, {}}, {"b1", 10, {10, 2, 5}, {}}}, 11);
}

TEST(ParseChord, QualityPrecedence) {
    expectChords(
        {
            {"1-sus", 0, {0, 5, 7}, {}},        // sus outranks minor
            {"1-sus2", 0, {0, 2, 7}, {}},       // and so does sus2
            {"1-dim", 0, {0, 3, 6}, {}},
            {"1dim", 0, {0, 3, 6}, {}},         // diminished alone lowers the third too
            {"1dim7", 0, {0, 3, 6, 9}, {}},     // diminished seventh
            {"1maj7dim", 0, {0, 3, 6, 11}, {}}, // major seventh outranks the diminished one
            {"1sus2aug", 0, {0, 2, 8}, {}},
            {"1-7+", 0, {0, 3, 8, 10}, {}},
            {"17", 0, {0, 4, 7, 10}, {}},       // the 7 after a degree is quality text
            {"7", 11, {11, 3, 6}, {}},          // a major triad on degree 7
            {"1m7", 0, {0, 4, 7, 10}, {}},      // only a leading '-' makes a chord minor
            {"1sus-", 0, {0, 5, 7}, {}},
            {"1add9", 0, {0, 4, 7}, {}},
            {"16", 0, {0, 4, 7}, {}},
            {"1b5", 0, {0, 4, 7}, {}},
            {"1 ", 0, {0, 4, 7}, {}},           // trailing text of any kind is quality text
        },
        0);
}

TEST(ParseChord, RejectsWhatIsNotASymbol) {
    const std::vector<std::string> rejected = {
        // not a degree
        "8", "0", "x", "", "<", "-1", "m1", "♮1",
        // more than one accidental
        "##1", "b#1", "♭♭1", "#♭1",
        // spaces before the degree
        " 1", "\t1",
        // slash basses that are not exactly an accidental and a degree
        "1/", "1/3/5", "1/x", "1/3m", "1/ 3", "1/3 ", "1/8", "1//3", "/3", "1/##3",
        // line breaks are outside the quality text
        "1\n", "1sus\r\n", "1\u2028", "1-\x0B",
        // malformed UTF-8 cannot be read as an accidental
        "\xE2\x99" "1", "\xE2\x99\xAD\xAD" "1", "1\xFF", "1/\xE2\x99" "3",
        "\xC0\xB1", "\xE0\x80\xB1", "1\xED\xA0\x80", "1\xF4\x90\x80\x80",  // overlong, surrogate, beyond U+10FFFF
        // "<" is a marker only at the very start
        "<<1",
    };
    for (const auto& symbol : rejected) {
        EXPECT_FALSE(parseChord(symbol, 0)) << "symbol '" << symbol << "'";
    }
}

TEST(ParseChord, LongQualityTextIsScannedNotRecursed) {
    std::string symbol = "5";
    symbol.append(1'000'000, 'x');
    symbol += "7";
    const auto chord = parseChord(symbol, 0);
    ASSERT_TRUE(chord);
    EXPECT_EQ(*chord, (PadChord{7, {7, 11, 2, 5}, {}}));
}

} // namespace
