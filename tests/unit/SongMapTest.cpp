#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <gtest/gtest.h>

using namespace cadenzo;

namespace {

struct ParseCase {
    const char* text;
    std::vector<MapEntry> entries;
    friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << "'" << c.text << "'"; }
};

class ParseSections : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseSections, ReadsOnlyWellFormedItems) {
    EXPECT_EQ(parseSections(GetParam().text), GetParam().entries) << "text: '" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseSections,
    testing::Values(ParseCase{"In:2,V:4,Ch:4,Out:2", {{"In", 2}, {"V", 4}, {"Ch", 4}, {"Out", 2}}},
                    ParseCase{"In:2,,V:4,", {{"In", 2}, {"V", 4}}}, ParseCase{",In:2", {{"In", 2}}},
                    ParseCase{"V::4", {{"V", 4}}}, ParseCase{":V:4", {{"V", 4}}}, ParseCase{"V:4:", {{"V", 4}}},
                    ParseCase{"V:4:2", {}}, ParseCase{"V", {}}, ParseCase{":4", {}}, ParseCase{"V:x", {}},
                    ParseCase{"V:4.5", {}}, ParseCase{"V:+3", {{"V", 3}}}, ParseCase{"V:-1", {{"V", -1}}},
                    ParseCase{"V:0", {{"V", 0}}}, ParseCase{"Intro 2:2", {{"Intro 2", 2}}},
                    ParseCase{" V :2", {{" V ", 2}}}, ParseCase{"V: 2", {}}, ParseCase{"V:2 ", {}},
                    ParseCase{"V:+-2", {}}, ParseCase{"V:++2", {}}, ParseCase{"V:+", {}},
                    ParseCase{"V:9223372036854775807", {{"V", INT64_MAX}}},
                    ParseCase{"V:-9223372036854775808", {{"V", INT64_MIN}}},
                    ParseCase{"V:9223372036854775808", {}}, ParseCase{"", {}}, ParseCase{",,,", {}}));

TEST(SectionLayout, DefaultMapFollowsRunningSums) {
    const SectionLayout layout = layoutSections(4, 2, parseSections("In:2,V:4,Ch:4,Out:2"), 100);
    ASSERT_EQ(layout.sections.size(), 4u);

    // Expected times are the sums of repeated additions, not products.
    double t = 0.0;
    auto advance = [&](int beats) {
        for (int i = 0; i < beats; ++i) t = 0.6 + t;
        return t;
    };
    advance(8);
    const int bars[] = {2, 4, 4, 2};
    const char* labels[] = {"In", "V", "Ch", "Out"};
    for (std::size_t i = 0; i < 4; ++i) {
        const TimelineSection& s = layout.sections[i];
        EXPECT_EQ(s.index, static_cast<std::int64_t>(i));
        EXPECT_EQ(s.label, labels[i]);
        EXPECT_EQ(s.startTime, t);
        EXPECT_EQ(s.endTime, advance(bars[i] * 4));
    }
    EXPECT_EQ(layout.sections[0].endTime, 9.599999999999998);
    EXPECT_NEAR(layout.songEnd, 33.6, 1e-9);
    EXPECT_EQ(layout.songEnd, layout.sections[3].endTime);
    EXPECT_EQ(songBarCount(parseSections("In:2,V:4,Ch:4,Out:2")), 12);
}

TEST(SectionLayout, EdgesOfTheDataModel) {
    // Bar counts below 1 lay out as one bar.
    const SectionLayout shortSections = layoutSections(4, 0, {{"A", 0}, {"B", -5}}, 120);
    EXPECT_DOUBLE_EQ(shortSections.sections[0].endTime, 2.0);
    EXPECT_DOUBLE_EQ(shortSections.sections[1].endTime, 4.0);
    EXPECT_EQ(songBarCount({{"A", 0}, {"B", -5}}), 2);

    // No entries: the song ends with the count-in.
    const SectionLayout empty = layoutSections(3, 2, {}, 60);
    EXPECT_TRUE(empty.sections.empty());
    EXPECT_DOUBLE_EQ(empty.songEnd, 6.0);

    // A bar without beats has no length.
    const SectionLayout noBeats = layoutSections(0, 2, {{"A", 4}, {"B", 2}}, 120);
    for (const TimelineSection& s : noBeats.sections) {
        EXPECT_EQ(s.startTime, 0.0);
        EXPECT_EQ(s.endTime, 0.0);
    }

    EXPECT_DOUBLE_EQ(secondsPerBeat(100), 0.6);
    EXPECT_DOUBLE_EQ(barDuration(100, 4), 2.4);
}

} // namespace
