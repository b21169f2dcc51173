#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/playback/SongPlan.hpp"

#include <algorithm>

// Jumps and vamps: the song playing is replanned from a bar line on.
namespace cadenzo {

using namespace songplan;

std::vector<BarInfo> songplan::songBars(const SongSettings& song) {
    std::vector<BarInfo> bars;
    for (std::size_t k = 0; k < song.entries.size(); ++k) {
        const MapEntry& entry = song.entries[k];
        for (std::int64_t b = 0; b < std::max<std::int64_t>(entry.bars, 1); ++b)
            bars.push_back({static_cast<std::int64_t>(k), static_cast<std::int64_t>(bars.size()),
                            entry.tempo.value_or(song.tempo), entry.beatsPerBar.value_or(song.beatsPerBar)});
    }
    return bars;
}

namespace {

// Frames [from, from + count) of a pad on its first channel (zeros beyond it), from a window that begins
// where the pad's own windows do, so that they are the samples it plays.
std::vector<float> padSamples(PadPlayer::PadStream& stream, std::uint32_t from, std::uint32_t count,
                              const std::vector<std::int64_t>& channels) {
    std::vector<float> samples(count);
    const std::uint32_t start = from - from % PadPlayer::PadStream::windowAlignment;
    if (from >= stream.frameCount() || channels.empty()) return samples;
    const std::uint32_t length = std::min(from - start + count, stream.frameCount() - start);
    const PcmBufferPtr window = stream.render(start, length);
    const float* data = window ? window->channelData(static_cast<std::uint32_t>(channels.front())) : nullptr;
    for (std::uint32_t i = 0; data && from - start + i < length && i < count; ++i) samples[i] = data[from - start + i];
    return samples;
}

} // namespace

std::int64_t SongPlayer::nowWithMargin() const {
    return clickPlayer_->playedFrames() + framesOf(jumpMarginSeconds);
}

SongPlayer::Plan& SongPlayer::planAt(std::int64_t frame) const {
    Plan* plan = plan_.get();
    while (plan->before && frame < plan->start) plan = plan->before.get();
    return *plan;
}

std::size_t SongPlayer::barAt(const Plan& plan, std::int64_t frame) {
    std::size_t bar = 0;
    while (bar + 1 < plan.bars.size() && plan.frameAt(bar + 1) <= frame) ++bar;
    return bar;
}

// The first bar after the run of bars of the section that `bar` is in.
std::size_t SongPlayer::sectionEnd(const Plan& plan, std::size_t bar) {
    const std::int64_t section = plan.bars[bar].section;
    while (bar < plan.bars.size() && plan.bars[bar].section == section) ++bar;
    return bar;
}

void SongPlayer::jumpToSection(std::int64_t section, bool atSectionEnd) {
    queue_.sync([&] {
        if (!engine_ || !plan_) throw Error(domain, SongPlayerError::idle, "Nothing is playing");
        const auto sections = static_cast<std::int64_t>(plan_->song.entries.size());
        if (section < 0 || section >= sections)
            throw Error(domain, SongPlayerError::noSuchSection,
                        "Section " + std::to_string(section) + " is out of range: the song has " +
                            std::to_string(sections) + (sections == 1 ? " section" : " sections"));
        const std::int64_t now = nowWithMargin();
        Plan& playing = planAt(now);
        if (playing.bars.empty() || now >= playing.frameAt(playing.bars.size()))
            throw Error(domain, SongPlayerError::idle, "Nothing is playing");
        const std::size_t bar = barAt(playing, now);
        vampSection_.reset();
        replan(playing, atSectionEnd ? sectionEnd(playing, bar) : bar + 1, section, now);
    });
}

SongPlayer::Position SongPlayer::position() {
    return queue_.sync([&] {
        Position position;
        if (!engine_ || !plan_) return position;
        const std::int64_t now = clickPlayer_->playedFrames();
        const Plan& plan = planAt(now);
        if (plan.bars.empty() || now >= plan.frameAt(plan.bars.size())) return position;
        const std::size_t bar = barAt(plan, now);
        const BarInfo& info = plan.bars[bar];
        position.playing = true;
        position.title = plan.song.title;
        position.section = info.section;
        if (info.section < 0) {
            position.sectionLabel = "Count-in";
            position.bar = static_cast<std::int64_t>(bar) + 1;
        } else {
            position.sectionLabel = plan.song.entries[static_cast<std::size_t>(info.section)].label;
            // Counted on the chart, so that a bar after a jump or a repeat keeps its number.
            std::int64_t first = 0;
            for (std::int64_t k = 0; k < info.section; ++k)
                first += std::max<std::int64_t>(plan.song.entries[static_cast<std::size_t>(k)].bars, 1);
            position.bar = info.songBar - first + 1;
        }
        const double framesPerBeat = plan.format.sampleRate * 60.0 / info.tempo;
        const auto beat = static_cast<std::int64_t>(static_cast<double>(std::max<std::int64_t>(now - plan.frameAt(bar), 0)) / framesPerBeat);
        position.beat = std::clamp<std::int64_t>(beat + 1, 1, info.beatsPerBar);
        return position;
    });
}

void SongPlayer::setVamp(bool on) {
    queue_.sync([&] {
        if (!engine_ || !plan_) throw Error(domain, SongPlayerError::idle, "Nothing is playing");
        const std::int64_t now = nowWithMargin();
        Plan& playing = planAt(now);
        if (!on) {
            // A repeat already planned gives way to what follows the section.
            if (vampSection_ && plan_->start > now)
                replan(playing, sectionEnd(playing, barAt(playing, now)), *vampSection_ + 1, now);
            vampSection_.reset();
            return;
        }
        if (vampSection_ || playing.bars.empty()) return;
        std::size_t bar = barAt(playing, now);
        while (bar + 1 < playing.bars.size() && playing.bars[bar].section < 0) ++bar;  // the count-in leads into it
        if (playing.bars[bar].section < 0) return;
        vampSection_ = playing.bars[bar].section;
        vampFrame_ = now;
        vampTick();
    });
}

void SongPlayer::vampTick() {
    const std::int64_t now = nowWithMargin();
    // Once a pass has begun, its end leads back to its start.
    if (!vampSection_ || now < vampFrame_) return;
    Plan& playing = planAt(now);
    std::size_t bar = barAt(playing, now);
    while (bar < playing.bars.size() && playing.bars[bar].section != *vampSection_) ++bar;
    if (bar >= playing.bars.size()) return;
    replan(playing, sectionEnd(playing, bar), *vampSection_, now);
    vampFrame_ = plan_->start;
}

void SongPlayer::replan(Plan& old, std::size_t jumpBar, std::int64_t target, std::int64_t now) {
    const std::int64_t jump = old.frameAt(jumpBar);
    const BarInfo cue = old.bars[jumpBar - 1];
    const std::int64_t cueStart = old.frameAt(jumpBar - 1);
    const bool speak = cueStart >= now;
    const bool end = target >= static_cast<std::int64_t>(old.song.entries.size());

    // The bar before the target, then the song from the target on: laid out as a song that starts at its
    // second section, the cue bar is the bar its timeline begins with.
    SongSettings song = old.song;
    song.entries = {MapEntry{"", 1, cue.tempo, cue.beatsPerBar}};
    auto plan = std::make_shared<Plan>(Plan{old.song, old.format, {cue}, {}, 0, {}, 0, nullptr, {}});
    const std::vector<BarInfo> all = songBars(old.song);
    const auto first = static_cast<std::size_t>(std::find_if(all.begin(), all.end(), [&](const BarInfo& bar) {
                                                    return bar.section == target;
                                                }) - all.begin());
    if (!end) {
        song.entries.insert(song.entries.end(), old.song.entries.begin() + target, old.song.entries.end());
        plan->bars.insert(plan->bars.end(), all.begin() + static_cast<std::ptrdiff_t>(first), all.end());
    }
    if (song.padChords) {
        const std::vector<std::string>& chart = *old.song.padChords;
        const auto symbol = [&](std::int64_t bar) {
            return bar >= 0 && bar < static_cast<std::int64_t>(chart.size()) ? chart[bar] : std::string();
        };
        std::vector<std::string> played{symbol(cue.songBar)};
        for (std::size_t bar = first; bar < all.size(); ++bar) played.push_back(symbol(static_cast<std::int64_t>(bar)));
        song.padChords = std::move(played);
    }
    // A count-in bar takes the cue bar's own cue and count, which the cut then drops; at the end there is no
    // cut, and only "End" is kept.
    song.countInBars = end ? 0 : 1;
    song.startSection = 1;
    plan->setTimeline(buildTimeline(song.beatsPerBar, song.countInBars, song.entries, 1, song.tempo));
    const std::int64_t lead = plan->frameAt(1);  // the cue bar, with the origin still 0
    plan->origin = jump - lead;

    // What the cue bar already holds stays, but for the cue of the section that was to follow.
    TimelineResult kept = plan->timeline;
    std::erase_if(kept.events, [&](const TimelineEvent& event) {
        const std::int64_t at = plan->origin + framesOf(event.time);
        if (end) return !(event.kind.isGuide() && event.kind.label() == "End" && speak);
        return at < jump && !(event.kind.isGuide() && speak);
    });
    const std::int64_t guideFrom = speak ? cueStart : now;
    clickPlayer_->cutFrom(jump);
    guidePlayer_->cutFrom(guideFrom);
    // What plays up to the jump goes on being fed, and plans that were to follow it give way whole.
    for (Plan* later = plan_.get(); later; later = later == &old ? nullptr : later->before.get()) {
        later->feed->until = std::min(later->feed->until, jump);
        later->feed->guideUntil = std::min(later->feed->guideUntil, guideFrom);
    }
    const std::shared_ptr<Feed> playing = old.feed;
    old.before.reset();  // its sound has begun: what came before it is over
    plan->start = jump;
    auto feed = std::make_shared<Feed>(Feed{clickPlayer_, guidePlayer_, padPlayer_,
                                            plannedSounds(kept, song, old.format, log_), 0, nullptr, 0, 0});
    for (Sound& sound : feed->sounds) sound.at += plan->origin;
    feed->origin = plan->origin;

    // The pad crosses from the old chart to the new one over a moment after the bar line (or, at the end,
    // rings out as it would have).
    if (playing && playing->padStream && padPlayer_->isPlaying()) {
        padPlayer_->cutFrom(jump);
        const std::optional<int> key = parseKey(*song.padKey);
        if (!end)
            feed->padStream = !song.padChords || !key
                                  ? PadPlayer::PadStream::drone(*song.padKey, plan->timeline.bars.length(0),
                                                                plan->timeline.totalDuration, old.format, song.padChannels)
                                  : PadPlayer::PadStream::chart(*song.padKey, plan->timeline.bars,
                                                                plan->timeline.totalDuration, old.format,
                                                                song.padChannels, 0, playedChords(song, *key, 0));
        // Until the new pad's own windows line up again; at the end, as long as a stop's fade.
        constexpr std::uint32_t align = PadPlayer::PadStream::windowAlignment;
        const auto cross = static_cast<std::uint32_t>(end ? framesOf(fadeSeconds) : align + (align - lead % align) % align);
        const auto from = static_cast<std::uint32_t>(std::max<std::int64_t>(jump - playing->origin, 0));
        const std::vector<float> before = padSamples(*playing->padStream, from, cross, song.padChannels);
        const std::vector<float> after = feed->padStream ? padSamples(*feed->padStream, static_cast<std::uint32_t>(lead),
                                                                      cross, song.padChannels)
                                                         : std::vector<float>(cross);
        if (auto mixed = PcmBuffer::make(old.format, cross)) {
            mixed->setFrameLength(cross);
            if (float* out = mixed->writableSharedChannels(song.padChannels)) {
                for (std::uint32_t i = 0; i < cross; ++i) {
                    const float rise = static_cast<float>(i) / static_cast<float>(cross);
                    out[i] = before[i] * (1.0f - rise) + after[i] * rise;
                }
                padPlayer_->scheduleBuffer(std::move(mixed), jump);
            }
        }
        feed->nextPadFrame = static_cast<std::uint32_t>(lead) + cross;
    }
    plan->feed = feed;
    std::shared_ptr<Plan> base = plan_;
    while (base.get() != &old) base = base->before;
    plan->before = std::move(base);
    plan_ = std::move(plan);
    feedSounds(*clickPlayer_, *guidePlayer_, *feed);
    if (feed->padStream && !feedPad(*padPlayer_, *feed)) feed->padStream.reset();
    keepFeeding(feed);

    // The song now ends where this plan does.
    cancelAutoStop();
    const std::int64_t songEnd = plan_->frameAt(plan_->bars.size());
    armAutoStop(engine_, static_cast<double>(songEnd - clickPlayer_->playedFrames()) / engineSampleRate);
}

} // namespace cadenzo
