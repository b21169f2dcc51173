#pragma once

// What the song player keeps of a song while it plays, shared by its files.

#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/playback/SongPlayer.hpp"
#include "CadenzoPlayer/sources/PadPlayer.hpp"
#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

namespace cadenzo {

namespace songplan {

inline constexpr const char* domain = "SongPlayer";

// Every click and cue of the timeline with its sound, in time order; the
// sounds are made once each.
std::vector<SongPlayer::Sound> plannedSounds(const TimelineResult& timeline, const SongSettings& song,
                                             const AudioFormat& format, std::ostream& log);
// One bar's chords per played bar: the chart padded to the song's bars, then
// the bars before the start bar dropped.
std::vector<std::optional<BarChords>> playedChords(const SongSettings& song, int key, std::int64_t startBar);
std::int64_t framesOf(double seconds);

} // namespace songplan

// What the song hands its nodes while it plays, a few seconds ahead of the
// device, on the player's queue: a late feed has that long before anything
// is missed, and neither the start nor the memory grows with the song.
struct SongPlayer::Feed {
    std::weak_ptr<AudioPlayerNode> click, guide, pad;
    std::vector<Sound> sounds;
    std::size_t nextSound = 0;
    std::unique_ptr<PadPlayer::PadStream> padStream;  // none without a pad
    std::uint32_t nextPadFrame = 0;
    std::int64_t origin = 0;  // the node frame of the pad's frame 0
    // Where a jump takes over: clicks and pad stop there, cues where its cue bar begins.
    std::int64_t until = std::numeric_limits<std::int64_t>::max();
    std::int64_t guideUntil = std::numeric_limits<std::int64_t>::max();
};

// One bar as played: its section (-1 in the count-in), its bar of the song's
// chart (-1 in the count-in), its tempo and metre.
struct BarInfo {
    std::int64_t section = -1;
    std::int64_t songBar = -1;
    double tempo = 0;
    std::int64_t beatsPerBar = 0;
};

namespace songplan {
// Every bar of the song, in order, as its sections lay them out.
std::vector<BarInfo> songBars(const SongSettings& song);
} // namespace songplan



// The song as it plays now: its timeline placed on the nodes' timeline at
// `origin`, and what each of its bars is. A jump or a vamp replaces it.
struct SongPlayer::Plan {
    SongSettings song;  // as asked for
    AudioFormat format;
    std::vector<BarInfo> bars;
    TimelineResult timeline;
    std::int64_t origin = 0;
    std::shared_ptr<Feed> feed;
    // Where its sound takes over, and the plan that plays until then.
    std::int64_t start = 0;
    std::shared_ptr<Plan> before;

    // When each bar's first click sounds: the sums the clicks are placed by, so that a jump lands on one.
    std::vector<double> downbeats;

    void setTimeline(TimelineResult laidOut) {
        timeline = std::move(laidOut);
        downbeats.clear();
        for (const TimelineEvent& event : timeline.events)
            if (event.kind.accent()) downbeats.push_back(event.time);
    }
    std::int64_t frameAt(std::size_t bar) const {
        return origin + songplan::framesOf(bar < downbeats.size() ? downbeats[bar] : timeline.totalDuration);
    }
};

} // namespace cadenzo
