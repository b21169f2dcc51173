#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace cadenzo;

namespace {

struct Cue {
    double time;
    std::string label;
};

std::vector<Cue> cuesOf(const TimelineResult& result) {
    std::vector<Cue> cues;
    for (const TimelineEvent& e : result.events) {
        if (e.kind.isGuide()) cues.push_back({e.time, e.kind.label()});
    }
    return cues;
}

std::vector<TimelineEvent> clicksOf(const TimelineResult& result) {
    std::vector<TimelineEvent> clicks;
    for (const TimelineEvent& e : result.events) {
        if (e.kind.isClick()) clicks.push_back(e);
    }
    return clicks;
}

void expectCues(const TimelineResult& result, const std::vector<Cue>& expected) {
    const std::vector<Cue> cues = cuesOf(result);
    ASSERT_EQ(cues.size(), expected.size());
    for (std::size_t i = 0; i < cues.size(); ++i) {
        EXPECT_NEAR(cues[i].time, expected[i].time, 1e-9) << "cue " << i;
        EXPECT_EQ(cues[i].label, expected[i].label) << "cue " << i;
    }
}

bool sortedByTime(const TimelineResult& result) {
    for (std::size_t i = 1; i < result.events.size(); ++i) {
        if (result.events[i].time < result.events[i - 1].time) return false;
    }
    return true;
}

const std::vector<MapEntry> defaultMap = parseSections("In:2,V:4,Ch:4,Out:2");

TEST(Timeline, DefaultSongFromTheBeginning) {
    const TimelineResult result = buildTimeline(4, 2, defaultMap, 0, 100);
    EXPECT_EQ(result.events.size(), 75u);
    EXPECT_EQ(result.startBar, 0);
    EXPECT_NEAR(result.totalDuration, 33.6, 1e-9);
    EXPECT_TRUE(sortedByTime(result));

    // Clicks sit exactly on the running sums, accented every bar.
    const std::vector<TimelineEvent> clicks = clicksOf(result);
    ASSERT_EQ(clicks.size(), 56u);
    double t = 0.0;
    for (std::size_t i = 0; i < clicks.size(); ++i) {
        EXPECT_EQ(clicks[i].time, t) << "click " << i;
        EXPECT_EQ(clicks[i].kind.accent(), i % 4 == 0) << "click " << i;
        t = 0.6 + t;
    }
    EXPECT_EQ(clicks[16].time, 9.599999999999998);
    EXPECT_EQ(t, result.totalDuration);

    expectCues(result, {{0.0, "1"},  {1.2, "2"},  {2.4, "In"},  {3.0, "2"},  {3.6, "3"},
                        {4.2, "4"},  {7.2, "V"},  {7.8, "2"},   {8.4, "3"},  {9.0, "4"},
                        {16.8, "Ch"}, {17.4, "2"}, {18.0, "3"}, {18.6, "4"}, {26.4, "Out"},
                        {27.0, "2"}, {27.6, "3"}, {28.2, "4"},  {31.2, "End"}});
}

TEST(Timeline, DefaultSongFromTheVerse) {
    const TimelineResult result = buildTimeline(4, 0, defaultMap, 1, 100);
    EXPECT_EQ(result.events.size(), 57u);
    EXPECT_EQ(clicksOf(result).size(), 44u);
    EXPECT_EQ(result.startBar, 1);
    EXPECT_NEAR(result.totalDuration, 26.4, 1e-9);
    ASSERT_GE(result.events.size(), 2u);
    EXPECT_EQ(result.events[0].time, 0.0);
    EXPECT_TRUE(result.events[0].kind.accent());
    EXPECT_EQ(result.events[1].kind.label(), "V");
    const std::vector<Cue> cues = cuesOf(result);
    ASSERT_EQ(cues.size(), 13u);
    EXPECT_NEAR(cues[1].time, 0.6, 1e-9);
    EXPECT_NEAR(cues[2].time, 1.2, 1e-9);
    EXPECT_NEAR(cues[3].time, 1.8, 1e-9);
    EXPECT_EQ(cues.back().label, "End");
}

struct CountInRow {
    std::int64_t beatsPerBar;
    std::vector<int> spokenBeats;  // 0-based beats that carry a number
    friend void PrintTo(const CountInRow& row, std::ostream* os) { *os << row.beatsPerBar << " beats"; }
};

class CountInByMetre : public testing::TestWithParam<CountInRow> {};

TEST_P(CountInByMetre, SpeaksTheTableNumbers) {
    const CountInRow& row = GetParam();
    // Three count-in bars: the first two are spoken, the last carries the cue.
    const TimelineResult result = buildTimeline(row.beatsPerBar, 3, {{"A", 1}}, 0, 60);
    const double bar = static_cast<double>(row.beatsPerBar);
    std::vector<Cue> expected;
    for (int b = 0; b < 2; ++b) {
        for (std::size_t n = 0; n < row.spokenBeats.size(); ++n) {
            expected.push_back({b * bar + row.spokenBeats[n], std::to_string(n + 1)});
        }
    }
    expected.push_back({2 * bar, "A"});
    for (std::int64_t k = 1; k < row.beatsPerBar && k <= 6; ++k) expected.push_back({2 * bar + k, std::to_string(k + 1)});
    expected.push_back({3 * bar, "End"});
    expectCues(result, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CountInByMetre,
                         testing::Values(CountInRow{1, {0}}, CountInRow{2, {0, 1}}, CountInRow{3, {0, 1, 2}},
                                         CountInRow{4, {0, 2}}, CountInRow{5, {0, 2, 4}}, CountInRow{6, {0, 3}},
                                         CountInRow{7, {0, 2, 4, 6}}, CountInRow{8, {0, 2, 4, 6}},
                                         CountInRow{9, {0, 3, 6}}, CountInRow{12, {0, 3, 6, 9}},
                                         CountInRow{16, {0, 2, 4, 6, 8, 10, 12}}));

TEST(Timeline, CountInShapes) {
    // No count-in: the first cue and its count come before the clicks they share a time with.
    const TimelineResult none = buildTimeline(4, 0, {{"V", 2}}, 0, 120);
    ASSERT_GE(none.events.size(), 2u);
    EXPECT_EQ(none.events[0].kind.label(), "V");
    EXPECT_TRUE(none.events[1].kind.accent());
    EXPECT_EQ(none.events[2].kind.label(), "2");
    EXPECT_TRUE(none.events[3].kind.isClick());

    // One count-in bar is the last: it carries the first cue and no numbers.
    expectCues(buildTimeline(4, 1, {{"V", 1}}, 0, 60),
               {{0, "V"}, {1, "2"}, {2, "3"}, {3, "4"}, {4, "End"}});

    // One beat per bar: every click accented, the cue has no count.
    const TimelineResult single = buildTimeline(1, 3, {{"V", 2}}, 0, 60);
    for (const TimelineEvent& click : clicksOf(single)) EXPECT_TRUE(click.kind.accent());
    expectCues(single, {{0, "1"}, {1, "1"}, {2, "V"}, {4, "End"}});
}

TEST(Timeline, EmptyMapAndShortSections) {
    const TimelineResult empty = buildTimeline(3, 2, {}, 0, 60);
    EXPECT_EQ(empty.events.size(), 6u);
    EXPECT_TRUE(cuesOf(empty).empty());
    EXPECT_DOUBLE_EQ(empty.totalDuration, 6.0);

    // A one-bar section carries the next cue on its own first beat, with its accented click.
    const TimelineResult oneBar = buildTimeline(4, 0, {{"A", 1}, {"B", 2}}, 0, 60);
    std::vector<std::string> atZero;
    for (const TimelineEvent& e : oneBar.events) {
        if (e.time == 0.0) atZero.push_back(e.kind.isClick() ? (e.kind.accent() ? "accent" : "click") : e.kind.label());
    }
    EXPECT_EQ(atZero, (std::vector<std::string>{"A", "accent", "B"}));
}

TEST(Timeline, StartSectionOutsideTheMapDoesNotCut) {
    const TimelineResult whole = buildTimeline(4, 2, defaultMap, 0, 100);
    for (std::int64_t start : {std::int64_t{4}, std::int64_t{99}, std::int64_t{-1}, INT64_MIN}) {
        const TimelineResult result = buildTimeline(4, 2, defaultMap, start, 100);
        EXPECT_EQ(result.events.size(), whole.events.size()) << start;
        EXPECT_EQ(result.startBar, 0) << start;
        EXPECT_EQ(result.totalDuration, whole.totalDuration) << start;
    }
}

TEST(Timeline, CutAtTheOffset) {
    // A one-bar first section without count-in: the offset is 0 and nothing is dropped.
    const TimelineResult early = buildTimeline(4, 0, {{"A", 1}, {"B", 2}}, 1, 60);
    EXPECT_EQ(early.events.size(), buildTimeline(4, 0, {{"A", 1}, {"B", 2}}, 0, 60).events.size());
    EXPECT_EQ(early.startBar, 0);
    EXPECT_DOUBLE_EQ(early.totalDuration, 12.0);

    // At 40.3 bpm the last bar's click of "A" sums to a hair below the offset;
    // the tolerance keeps it, and it becomes the first event.
    const double beat = 60.0 / 40.3;
    double t = 0.0;
    for (int i = 0; i < 4; ++i) t = beat + t;
    double start = t;
    for (int i = 0; i < 4; ++i) start = beat + start;
    ASSERT_LT(t, start - beat * 4) << "the rounding this test relies on is gone";

    const TimelineResult cut = buildTimeline(4, 0, {{"A", 2}, {"B", 2}}, 1, 40.3);
    ASSERT_FALSE(cut.events.empty());
    EXPECT_TRUE(cut.events[0].kind.accent());
    EXPECT_LT(cut.events[0].time, 0.0);
    EXPECT_GT(cut.events[0].time, -1e-9);
    EXPECT_EQ(clicksOf(cut).size(), 12u);
    EXPECT_EQ(cut.startBar, 1);
}

TEST(Timeline, ValuesOutsideTheModelStayBounded) {
    // Negative counts add no beats; the song still lays out.
    const TimelineResult negativeCountIn = buildTimeline(4, -3, {{"A", 2}}, 0, 120);
    EXPECT_EQ(clicksOf(negativeCountIn).size(), 8u);
    const TimelineResult negativeBeats = buildTimeline(-4, 2, {{"A", 2}}, 0, 120);
    EXPECT_TRUE(clicksOf(negativeBeats).empty());
    EXPECT_EQ(negativeBeats.totalDuration, 0.0);

    // A bar without length cannot be cut at: no cut, startBar 0.
    const TimelineResult zeroBeats = buildTimeline(0, 2, {{"A", 2}, {"B", 2}}, 1, 120);
    EXPECT_EQ(zeroBeats.startBar, 0);
    EXPECT_EQ(cuesOf(zeroBeats).size(), 3u);

    // A tempo callers must reject still sorts without breaking the ordering.
    const TimelineResult zeroTempo = buildTimeline(4, 1, defaultMap, 2, 0);
    EXPECT_EQ(zeroTempo.startBar, 0);
    EXPECT_FALSE(zeroTempo.events.empty());
}

} // namespace
