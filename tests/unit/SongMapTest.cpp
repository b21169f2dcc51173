#include "CadenzoPlayer/timeline/SongMap.hpp"
#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <gtest/gtest.h>

using namespace cadenzo;

namespace {

TEST(SongMap, ParseKeepsOnlyItemsOfALabelAndAWholeNumber) {
    const std::vector<std::pair<const char*, std::vector<MapEntry>>> cases = {
        {"In:2,V:4,Ch:4,Out:2", {{"In", 2}, {"V", 4}, {"Ch", 4}, {"Out", 2}}}, {",In:2,,V:-1,", {{"In", 2}, {"V", -1}}},
        {"V::4", {{"V", 4}}}, {":V:+0:", {{"V", 0}}}, {" V 2:2", {{" V 2", 2}}}, {"V:4:2", {}}, {"V", {}}, {":4", {}},
        {"V:x", {}}, {"V:2 ", {}}, {"V:9223372036854775808", {}}, {"", {}}};
    for (const auto& [text, entries] : cases) EXPECT_EQ(parseSections(text), entries) << "'" << text << "'";
}

TEST(SongMap, SectionsFollowTheRunningSumsAfterTheCountInAndLastAtLeastABar) {
    const SectionLayout layout = layoutSections(4, 2, {{"In", 2}, {"V", 0}, {"Ch", -5}}, 100);
    ASSERT_EQ(layout.sections.size(), 3u);
    double t = 0.0;  // repeated additions, not products
    for (std::size_t i = 0; i < 3; ++i) {
        for (int beat = 0; beat < (i == 0 ? 16 : 4); ++beat) t = 0.6 + t;
        EXPECT_EQ(layout.sections[i].index, static_cast<std::int64_t>(i));
        EXPECT_EQ(layout.sections[i].startTime, i == 0 ? 4.8 : layout.sections[i - 1].endTime);
        EXPECT_EQ(layout.sections[i].endTime, t) << layout.sections[i].label;
    }
    EXPECT_EQ(layout.sections[0].endTime, 9.599999999999998);
    EXPECT_EQ(layout.songEnd, t);
    EXPECT_EQ(layout.sections[2].label, "Ch");
    EXPECT_EQ(songBarCount({{"A", 0}, {"B", -5}, {"C", 3}}), 5);
}

} // namespace
