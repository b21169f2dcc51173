#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

using namespace cadenzo;

namespace {

// The events in order as "time what" (a cue's label, "*" for an accent, "." for
// a click), times to six significant digits; with `clicks` false only the cues.
std::string describe(const TimelineResult& result, bool clicks = false) {
    std::string text;
    for (const TimelineEvent& e : result.events) {
        if (!clicks && e.kind.isClick()) continue;
        char time[32];
        std::snprintf(time, sizeof time, "%g ", e.time);
        text += (text.empty() ? "" : ", ") + (time + (e.kind.isGuide() ? e.kind.label() : e.kind.accent() ? "*" : "."));
    }
    return text;
}

const std::vector<MapEntry> defaultMap = parseSections("In:2,V:4,Ch:4,Out:2");

TEST(Timeline, ClicksSitOnRunningSumsAndEachCueComesABarAhead) {
    const TimelineResult result = buildTimeline(4, 2, defaultMap, 0, 100);
    ASSERT_EQ(result.events.size(), 75u);
    EXPECT_EQ(result.startBar, 0);
    double t = 0.0;
    std::size_t clicks = 0;
    for (const TimelineEvent& e : result.events) {
        if (!e.kind.isClick()) continue;
        EXPECT_EQ(e.time, t) << "click " << clicks;
        EXPECT_EQ(e.kind.accent(), clicks++ % 4 == 0) << "click " << clicks;
        t = 0.6 + t;
    }
    EXPECT_EQ(result.totalDuration, t);
    EXPECT_EQ(describe(result, true).substr(0, 30), "0 *, 0 1, 0.6 ., 1.2 ., 1.2 2,");  // each count after its click
    EXPECT_EQ(describe(result), "0 1, 1.2 2, 2.4 In, 3 2, 3.6 3, 4.2 4, 7.2 V, 7.8 2, 8.4 3, 9 4, 16.8 Ch, 17.4 2, "
                                "18 3, 18.6 4, 26.4 Out, 27 2, 27.6 3, 28.2 4, 31.2 End");
}

TEST(Timeline, CountInSpeaksTheNumbersOfItsMetre) {
    // Beats per bar and the beats that carry a number; the last count-in bar carries the first cue instead.
    // Every beat up to three, then twos, or threes in a metre of threes; seven numbers at most.
    for (const auto& [beats, spoken] : std::vector<std::pair<int, std::vector<int>>>{
             {1, {0}}, {3, {0, 1, 2}}, {4, {0, 2}}, {6, {0, 3}}, {7, {0, 2, 4, 6}}, {16, {0, 2, 4, 6, 8, 10, 12}}}) {
        const auto cue = [](int time, auto label) { return std::to_string(time) + " " + std::to_string(label) + ", "; };
        std::string expected;
        for (std::size_t n = 0; n < spoken.size(); ++n) expected += cue(spoken[n], n + 1);
        expected += std::to_string(beats) + " A, ";
        for (int k = 1; k < beats && k <= 6; ++k) expected += cue(beats + k, k + 1);
        expected += std::to_string(2 * beats) + " End, ";
        EXPECT_EQ(describe(buildTimeline(beats, 2, {{"A", 1}}, 0, 60)) + ", ", expected);
    }
}

TEST(Timeline, EventsOfOneMomentKeepTheOrderTheyWereLaidOutInAndOnlyASongIsSpoken) {
    EXPECT_EQ(describe(buildTimeline(2, 0, {{"V", 1}, {"B", 2}}, 0, 60), true),
              "0 V, 0 *, 0 B, 1 2, 1 ., 1 2, 2 *, 3 ., 4 *, 4 End, 5 .");
    EXPECT_EQ(describe(buildTimeline(4, 1, {{"V", 1}}, 0, 60)), "0 V, 1 2, 2 3, 3 4, 4 End");
    EXPECT_EQ(describe(buildTimeline(3, 2, {}, 0, 60), true), "0 *, 1 ., 2 ., 3 *, 4 ., 5 .");
    EXPECT_DOUBLE_EQ(buildTimeline(3, 2, {}, 0, 60).totalDuration, 6.0);
}

TEST(Timeline, StartingAtALaterSectionCutsABarBeforeIt) {
    const TimelineResult verse = buildTimeline(4, 0, defaultMap, 1, 100);
    EXPECT_EQ(verse.events.size(), 57u);
    EXPECT_EQ(describe(verse, true).substr(0, 10), "0 *, 0 V, ");
    EXPECT_NEAR(verse.totalDuration, 26.4, 1e-9);
    EXPECT_EQ(describe(verse), "0 V, 0.6 2, 1.2 3, 1.8 4, 9.6 Ch, 10.2 2, 10.8 3, 11.4 4, 19.2 Out, 19.8 2, 20.4 3, "
                               "21 4, 24 End");
    // The song bars before the cut, rounded: at 70 bpm the quotient is a hair under 1.
    for (const auto& [tempo, countIn, start, startBar] : std::vector<std::tuple<double, int, int, int>>{
             {100, 0, 1, 1}, {70, 0, 1, 1}, {100, 2, 1, 1}, {70, 0, 2, 5}})
        EXPECT_EQ(buildTimeline(4, countIn, defaultMap, start, tempo).startBar, startBar) << tempo << " " << start;
    // A first section of one bar without count-in: the cut is at 0 and drops nothing.
    const TimelineResult early = buildTimeline(4, 0, {{"A", 1}, {"B", 2}}, 1, 60);
    EXPECT_EQ(describe(early, true), describe(buildTimeline(4, 0, {{"A", 1}, {"B", 2}}, 0, 60), true));
    EXPECT_EQ(early.startBar, 0);
    // A start section outside the map does not cut.
    for (const std::int64_t start : {std::int64_t{4}, std::int64_t{-1}, INT64_MIN}) {
        const TimelineResult result = buildTimeline(4, 2, defaultMap, start, 100);
        EXPECT_EQ(describe(result, true), describe(buildTimeline(4, 2, defaultMap, 0, 100), true)) << start;
        EXPECT_EQ(result.startBar, 0) << start;
    }
    // At 40.3 bpm the first click of the bar before "B" sums to a hair under the cut: it is kept.
    const TimelineResult hair = buildTimeline(4, 0, {{"A", 2}, {"B", 2}}, 1, 40.3);
    ASSERT_EQ(hair.events.size(), 17u);  // 12 clicks, B's cue, its counts and End
    EXPECT_TRUE(hair.events[0].kind.accent() && hair.events[0].time < 0.0 && hair.events[0].time > -1e-9);
}

TEST(Timeline, EachSectionKeepsItsOwnTempoAndMetreAndItsCueFollowsTheBarBefore) {
    // 4/4 at 60, then two bars of 3/4 at 100, then 4/4 at 120.
    const std::vector<MapEntry> map = {{"A", 1}, {"B", 2, 100.0, 3}, {"C", 1, 120.0}};
    const TimelineResult result = buildTimeline(4, 1, map, 0, 60);
    const SectionLayout layout = layoutSections(4, 1, map, 60);
    double t = 0.0;
    std::vector<double> starts;  // of the count-in, B and C
    std::size_t click = 0;
    for (const auto& [beats, perBar, beat] : std::vector<std::tuple<int, int, double>>{{8, 4, 1.0}, {6, 3, 0.6},
                                                                                       {4, 4, 0.5}}) {
        starts.push_back(t);
        for (int j = 0; j < beats; ++j, ++click, t = beat + t) {
            while (!result.events[click].kind.isClick()) ++click;
            EXPECT_EQ(result.events[click].time, t) << "beat " << j << " at " << beat;
            EXPECT_EQ(result.events[click].kind.accent(), j % perBar == 0) << "beat " << j << " at " << beat;
        }
    }
    EXPECT_EQ(std::tuple(result.totalDuration, layout.songEnd, layout.sections[1].startTime,
                         layout.sections[2].startTime), std::tuple(t, t, starts[1], starts[2]));
    // The counts into 3/4 stop at 3, and so do those that a bar of 3/4 carries, on its own beats.
    EXPECT_EQ(describe(result), "0 A, 1 2, 2 3, 3 4, 4 B, 5 2, 6 3, 9.8 C, 10.4 2, 11 3, 11.6 End");
    // Bar lines: a change sits on the section's summed start, bars within it a product away.
    const double threeFour = barDuration(100, 3);
    EXPECT_EQ(std::tuple(result.bars.start(2), result.bars.start(3), result.bars.start(4)),
              std::tuple(starts[1], starts[1] + threeFour, starts[2]));
    EXPECT_EQ(std::tuple(result.bars.length(0), result.bars.length(3), result.bars.length(4), result.bars.lengthAt(9.9)),
              std::tuple(4.0, threeFour, 2.0, threeFour));
    // The count-in takes the first section's tempo and metre.
    EXPECT_EQ(describe(buildTimeline(4, 2, {{"A", 1, 120.0, 3}}, 0, 60)), "0 1, 0.5 2, 1 3, 1.5 A, 2 2, 2.5 3, 3 End");
    // Cut into C (B at 120 bpm here, so that sums are exact): from the last bar of B, in its metre.
    const TimelineResult cut = buildTimeline(4, 1, {{"A", 1}, {"B", 2, 120.0, 3}, {"C", 1, 120.0}}, 2, 60);
    EXPECT_EQ(describe(cut, true), "0 *, 0 C, 0.5 ., 0.5 2, 1 ., 1 3, 1.5 *, 1.5 End, 2 ., 2.5 ., 3 .");
    EXPECT_EQ(std::tuple(cut.startBar, cut.totalDuration, cut.bars.length(0), cut.bars.start(1), cut.bars.length(1)),
              std::tuple(2, 3.5, 1.5, 1.5, 2.0));
}

} // namespace
