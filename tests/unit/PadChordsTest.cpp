#include "CadenzoPlayer/PadChords.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace cadenzo;

namespace {

TEST(ParseKey, ALetterWithAtMostOneAccidental) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"C", 0}, {"c", 0}, {"D", 2}, {"E", 4}, {"F", 5}, {"G", 7}, {"A", 9}, {"B", 11}, {"Bb", 10}, {"B♭", 10},
        {"F#", 6}, {"F♯", 6}, {"f♯", 6}, {"Cb", 11}, {"B#", 0}, {"E#", 5}, {"\tG ", 7}, {"  Eb\t\t", 3},
        {"Am", {}}, {"C#m", {}}, {"H", {}}, {"Bbb", {}}, {"", {}}, {"   ", {}}, {"\t", {}}, {"C #", {}},
        {"#C", {}}, {"C\n", {}}, {"\xC2\xA0" "C\xC2\xA0", 0}, {"C\xE2\x99", {}}, {"CB", {}}, {"C♭♭", {}}, {"Ab#", {}}};
    for (const auto& [name, pitchClass] : cases) EXPECT_EQ(parseKey(name), pitchClass) << "key '" << name << "'";
}

TEST(ParseChord, DegreeQualityAndBassInTheKey) {
    // Symbol and key; the tones from the root up, and the bass.
    const std::vector<std::tuple<std::string, int, std::vector<int>, std::optional<int>>> cases = {
        {"1", 0, {0, 4, 7}, {}}, {"4", 0, {5, 9, 0}, {}}, {"6-", 0, {9, 0, 4}, {}}, {"57", 0, {7, 11, 2, 5}, {}},
        {"2-7", 0, {2, 5, 9, 0}, {}}, {"4maj7", 0, {5, 9, 0, 4}, {}}, {"1M7", 0, {0, 4, 7, 11}, {}},
        {"7dim", 0, {11, 2, 5}, {}}, {"7°7", 0, {11, 2, 5, 8}, {}}, {"1sus", 0, {0, 5, 7}, {}},
        {"1sus2", 0, {0, 2, 7}, {}}, {"1+", 0, {0, 4, 8}, {}}, {"5aug7", 0, {7, 11, 3, 5}, {}},
        {"b7", 0, {10, 2, 5}, {}}, {"#4-7", 0, {6, 9, 1, 4}, {}}, {"1/3", 0, {0, 4, 7}, 4}, {"5/b7", 0, {7, 11, 2}, 10},
        {"1/1", 0, {0, 4, 7}, {}}, {"<4", 0, {5, 9, 0}, {}}, {"♭7", 0, {10, 2, 5}, {}}, {"♯4-7", 0, {6, 9, 1, 4}, {}},
        {"1/♯4", 0, {0, 4, 7}, 6}, {"5/♭7", 0, {7, 11, 2}, 10}, {"♭3°", 0, {3, 6, 9}, {}},
        // Degrees count from the key; roots and basses wrap into 0-11 from either side.
        {"1", 10, {10, 2, 5}, {}}, {"5", 10, {5, 9, 0}, {}}, {"4/5", 10, {3, 7, 10}, 5}, {"7", 10, {9, 1, 4}, {}},
        {"#7", 0, {0, 4, 7}, {}}, {"b1/1", 0, {11, 3, 6}, 0}, {"7", 11, {10, 2, 5}, {}}, {"b1", 11, {10, 2, 5}, {}},
        // Which quality wins.
        {"1-sus", 0, {0, 5, 7}, {}}, {"1-sus2", 0, {0, 2, 7}, {}}, {"1-dim", 0, {0, 3, 6}, {}},
        {"1dim7", 0, {0, 3, 6, 9}, {}}, {"1maj7dim", 0, {0, 3, 6, 11}, {}}, {"1sus2aug", 0, {0, 2, 8}, {}},
        {"1-7+", 0, {0, 3, 8, 10}, {}}, {"17", 0, {0, 4, 7, 10}, {}}, {"7", 0, {11, 3, 6}, {}},
        // Only a leading '-' makes a chord minor; other text is ignored.
        {"1m7", 0, {0, 4, 7, 10}, {}}, {"1sus-", 0, {0, 5, 7}, {}}, {"1add-9", 0, {0, 4, 7}, {}},
        {"57-", 0, {7, 11, 2, 5}, {}}, {"1b5 ", 0, {0, 4, 7}, {}}};
    for (const auto& [symbol, key, tones, bass] : cases) {
        const auto chord = parseChord(symbol, key);
        ASSERT_TRUE(chord) << "'" << symbol << "' in key " << key;
        EXPECT_EQ(std::tie(chord->root, chord->tones, chord->bass), std::tie(tones[0], tones, bass)) << symbol;
    }
}

TEST(ParseChord, RejectsWhatIsNotASymbol) {
    for (const std::string symbol : {
             "8", "0", "x", "", "<", "-1", "m1", "♮1", "<<1",      // not a degree
             "##1", "b#1", "♭♭1", "#♭1", " 1", "\t1",              // two accidentals, leading space
             "1/", "1/3/5", "1/x", "1/3m", "1/ 3", "1/3 ", "1/8", "1//3", "/3", "1/##3",  // bad basses
             "1\n", "1sus\r\n", "1\u2028", "1-\x0B",                // line breaks end the quality text
             "\xE2\x99" "1", "\xE2\x99\xAD\xAD" "1", "1\xFF", "1/\xE2\x99" "3",  // malformed UTF-8
             "\xC0\xB1", "\xE0\x80\xB1", "1\xED\xA0\x80", "1\xF4\x90\x80\x80"}) {  // overlong, surrogate, too high
        EXPECT_FALSE(parseChord(symbol, 0)) << "'" << symbol << "'";
    }
}

TEST(ParseBar, OneSymbolOrUpToSixteenInBracketsWhereEveryOneReads) {
    const auto ones = [](int n) { std::string item = "["; while (n-- > 0) item += "1 "; return item + "]"; };
    // Item and the roots of its chords in C; none when the item does not read.
    const std::vector<std::pair<std::string, std::optional<std::vector<int>>>> cases = {
        {"4", {{5}}}, {"[1 4]", {{0, 5}}}, {"[ 1  5/7 6-]", {{0, 7, 9}}}, {"[b7]", {{10}}},
        {ones(16), std::vector(16, 0)}, {ones(17), {}}, {"x", {}}, {"[]", {}}, {"[ ]", {}}, {"[1 x]", {}},
        {"[1 [4 5]]", {}}, {"[4[ 5]", {}}, {"[1 4] 5]", {}}, {"[1 4", {}}};
    for (const auto& [item, roots] : cases) {
        const auto bar = parseBar(item, 0);
        std::vector<int> read;
        for (const PadChord& chord : bar.value_or(BarChords{})) read.push_back(chord.root);
        EXPECT_EQ(bar ? std::optional(read) : std::nullopt, roots) << "'" << item << "'";
    }
}

} // namespace
