#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/audio/OutputLimiter.hpp"
#include "CadenzoPlayer/TextParsing.hpp"
#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"
#include "CadenzoPlayer/playback/EngineStart.hpp"
#include "CadenzoPlayer/playback/PlayWait.hpp"
#include "CadenzoPlayer/playback/SongPlan.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"
#include "CadenzoPlayer/sources/GuideSounds.hpp"
#include "CadenzoPlayer/sources/PadPlayer.hpp"
#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

namespace cadenzo {

using namespace songplan;

namespace {

// Beyond this the timeline alone would hold millions of events.
constexpr double mostBeats = 1'000'000.0;

std::string twoDecimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

void refuse(const std::string& why) {
    throw Error(domain, SongPlayerError::unplayable, why);
}

void checkSize(const SongSettings& song) {
    using S = SongSettings;
    if (song.entries.size() > S::mostSections) refuse("Too many sections: at most 1000");
    for (const MapEntry& entry : song.entries) {
        if (entry.label.size() > S::longestLabel) refuse("Section label too long: at most 256 bytes");
    }
    if (song.padChords && song.padChords->size() > S::longestChart) refuse("Chord chart too long: at most 20000 bars");
    for (const std::string& chord : song.padChords.value_or(std::vector<std::string>{})) {
        if (chord.size() > S::longestChord) refuse("Chord symbol too long: at most 64 bytes");
    }
    if (song.padKey && song.padKey->size() > S::longestChord) refuse("Pad key too long: at most 64 bytes");
    for (const auto* list : {&song.clickChannels, &song.guideChannels, &song.padChannels}) {
        if (list->size() > S::mostListedChannels) refuse("Too many channels for one source: at most 1024");
    }
}

// A boost beyond +6 dB would only drive the output limiter.
void checkLevels(const LevelChange& levels) {
    for (const auto& [source, dB] : {std::pair{"click", levels.click}, {"guide", levels.guide}, {"pad", levels.pad}}) {
        if (dB && !(*dB <= SongPlayer::maxLevelDb)) {
            refuse(std::string("Level of ") + source + " must be at most +6 dB");
        }
    }
}

// Settings that would give times the engine cannot schedule, or a song too
// long to render ahead, are refused before the current song is touched.
void checkPlayable(const SongSettings& song, std::int64_t totalChannels) {
    checkSize(song);
    checkLevels({song.levels.click, song.levels.guide, song.levels.pad});
    if (auto problem = ClickTrack::tempoProblem(song.tempo)) refuse(*problem);
    if (song.beatsPerBar < 1) refuse("Beats per bar must be at least 1");
    for (std::size_t i = 0; i < song.entries.size(); ++i) {
        const MapEntry& entry = song.entries[i];
        const std::string section = "Section " + std::to_string(i) + " (" + shortForLog(entry.label) + "): ";
        if (auto problem = ClickTrack::tempoProblem(entry.tempo.value_or(song.tempo))) refuse(section + *problem);
        if (entry.beatsPerBar.value_or(song.beatsPerBar) < 1) refuse(section + "Beats per bar must be at least 1");
    }
    if (song.countInBars < 0) refuse("Count-in bars can't be negative");
    if (totalChannels < 0) refuse("Total channels can't be negative");
    // In floating point: bar counts may be anything up to the 64-bit limit.
    // Beats at the song's tempo are summed first, so that a song of one tempo
    // is measured as one product.
    const MapEntry* first = song.entries.empty() ? nullptr : &song.entries.front();
    double bars = static_cast<double>(song.countInBars);
    double beats = 0.0, beatsAtSongTempo = 0.0, seconds = 0.0;
    auto add = [&](double sectionBars, const MapEntry* entry) {
        const double tempo = entry ? entry->tempo.value_or(song.tempo) : song.tempo;
        const double sectionBeats =
            sectionBars * static_cast<double>(entry ? entry->beatsPerBar.value_or(song.beatsPerBar) : song.beatsPerBar);
        beats += sectionBeats;
        if (tempo == song.tempo) {
            beatsAtSongTempo += sectionBeats;
        } else {
            seconds += sectionBeats * secondsPerBeat(tempo);
        }
    };
    add(static_cast<double>(song.countInBars), first);
    for (const MapEntry& entry : song.entries) {
        const auto sectionBars = static_cast<double>(std::max<std::int64_t>(entry.bars, 1));
        bars += sectionBars;
        add(sectionBars, &entry);
    }
    if (bars - static_cast<double>(song.countInBars) > SongSettings::mostBars) {
        refuse("Song too long: at most 20000 bars");
    }
    seconds += beatsAtSongTempo * secondsPerBeat(song.tempo);
    if (beats > mostBeats || seconds > SongPlayer::longestSongSeconds) {
        refuse("Song too long to schedule: more than 24 hours");
    }
}

void armGuideMutes(const SongSettings& song, const AudioPlayerNodePtr& guide) {
    SongSettings::GuideMuteSchedule schedule = song.guideMuteSchedule;
    std::stable_sort(schedule.begin(), schedule.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [seconds, muted] : schedule) {
        afterWeak(ConcurrentPool::shared(), seconds, std::weak_ptr<AudioPlayerNode>(guide),
                  [muted = muted](AudioPlayerNode& node) { node.setVolume(muted ? 0.0f : 1.0f); });
    }
}

} // namespace

namespace songplan {

// One buffer per distinct cue label, made once per song.
static PcmBufferPtr cueBuffer(const std::string& label, const SongSettings& song, const AudioFormat& format,
                       std::ostream& log) {
    if (PcmBufferPtr sample = loadGuideSound(label, log)) return placeMonoOnChannels(*sample, song.guideChannels, format);
    return makeFallbackCue(label, format, song.guideChannels);
}

// Every click and cue of the timeline with its sound, in time order; the
// sounds are made once each.
std::vector<SongPlayer::Sound> plannedSounds(const TimelineResult& timeline, const SongSettings& song,
                                             const AudioFormat& format, std::ostream& log) {
    const PcmBufferPtr accentClick = ClickTrack::makeClickBuffer(true, format, song.clickChannels);
    const PcmBufferPtr normalClick = ClickTrack::makeClickBuffer(false, format, song.clickChannels);
    std::map<std::string, PcmBufferPtr, std::less<>> guideBufferCache;
    std::vector<SongPlayer::Sound> sounds;
    sounds.reserve(timeline.events.size());
    for (const TimelineEvent& event : timeline.events) {
        const auto at = static_cast<std::int64_t>(event.time * format.sampleRate);
        if (event.kind.isClick()) {
            if (const PcmBufferPtr& buffer = event.kind.accent() ? accentClick : normalClick) {
                sounds.push_back({at, buffer, true});
            }
            continue;
        }
        const std::string& label = event.kind.label();
        auto cached = guideBufferCache.find(label);
        if (cached == guideBufferCache.end()) {
            cached = guideBufferCache.emplace(label, cueBuffer(label, song, format, log)).first;
        }
        if (cached->second) sounds.push_back({at, cached->second, false});
    }
    return sounds;
}

// The chords of each played bar: the chart padded to the song's bars, then the
// bars before the start section dropped.
std::vector<std::optional<BarChords>> playedChords(const SongSettings& song, int key, std::int64_t startBar) {
    std::vector<std::optional<BarChords>> chords;
    for (const std::string& item : *song.padChords) chords.push_back(parseBar(item, key));
    const auto bars = static_cast<std::size_t>(songBarCount(song.entries));
    if (chords.size() < bars) chords.resize(bars);
    const auto skipped = std::min(static_cast<std::size_t>(std::max<std::int64_t>(startBar, 0)), chords.size());
    chords.erase(chords.begin(), chords.begin() + static_cast<std::ptrdiff_t>(skipped));
    return chords;
}

std::int64_t framesOf(double seconds) { return static_cast<std::int64_t>(seconds * engineSampleRate); }

} // namespace songplan

struct SongPlayer::Nodes {
    AudioPlayerNodePtr click = std::make_shared<AudioPlayerNode>();
    AudioPlayerNodePtr guide = std::make_shared<AudioPlayerNode>();
    AudioPlayerNodePtr pad = std::make_shared<AudioPlayerNode>();
    AudioFormat format;
};

std::shared_ptr<SongPlayer> SongPlayer::make(std::ostream& log) {
    return std::shared_ptr<SongPlayer>(new SongPlayer(log));
}

SongPlayer::SongPlayer(std::ostream& log)
    : log_(log), queue_(std::string(applicationIdentifier) + ".player.songplayer") {}

SongPlayer::~SongPlayer() = default;

double SongPlayer::play(const CoreAudioDevices::Device& device, const SongSettings& song) {
    return queue_.sync([&] { return playOnQueue(device, song); });
}

// The song's timeline, with the count-in it plays; said on the log.
struct SongPlayer::Layout {
    TimelineResult timeline;
    std::int64_t countIn = 0;
};

SongPlayer::Layout SongPlayer::layOut(const SongSettings& song) {
    const bool cut = song.startSection >= 1 && song.startSection < static_cast<std::int64_t>(song.entries.size());
    Layout layout{{}, cut ? 0 : song.countInBars};
    layout.timeline = buildTimeline(song.beatsPerBar, layout.countIn, song.entries, song.startSection, song.tempo);
    log_ << "Built " << layout.timeline.events.size() << " events (click + guide), "
         << twoDecimals(layout.timeline.totalDuration) << "s total";
    if (cut) log_ << " (starting at section " << song.startSection << ", skipping the count-in)";
    log_ << ".\n" << std::flush;
    return layout;
}

std::shared_ptr<SongPlayer::Feed> SongPlayer::startNodes(const SongSettings& song, const Nodes& nodes,
                                                         AudioEngine& engine, const Layout& layout,
                                                         const std::function<void()>& checkNotStopped) {
    warnUnplayedChannels(log_, "click", song.clickChannels, nodes.format.channelCount);
    warnUnplayedChannels(log_, "guide", song.guideChannels, nodes.format.channelCount);
    if (song.padKey) warnUnplayedChannels(log_, "pad", song.padChannels, nodes.format.channelCount);
    for (const auto& [node, level] : {std::pair{nodes.click, song.levels.click}, std::pair{nodes.guide, song.levels.guide},
                                      std::pair{nodes.pad, song.levels.pad}})
        node->setGain(levelGain(level));
    auto feed = std::make_shared<Feed>(Feed{nodes.click, nodes.guide, nodes.pad,
                                            plannedSounds(layout.timeline, song, nodes.format, log_), 0, nullptr, 0, 0});
    feedSounds(*nodes.click, *nodes.guide, *feed);
    // Pad, click and guide begin on one sample, whatever the audio thread does meanwhile.
    AudioEngine::StartGroup startTogether(engine);
    startPad(song, nodes, layout.timeline, layout.countIn, *feed);
    checkNotStopped();
    nodes.guide->setVolume(song.guideMuted ? 0.0f : 1.0f);
    nodes.click->play();
    nodes.guide->play();
    return feed;
}

double SongPlayer::playOnQueue(const CoreAudioDevices::Device& device, const SongSettings& song) {
    const std::uint64_t stopsBefore = stopRequests_.load();
    const auto checkNotStopped = [&] {
        if (stopRequests_.load() != stopsBefore) {
            throw Error(domain, SongPlayerError::stopped, "Stopped before the song started");
        }
    };
    const std::int64_t totalChannels = song.totalChannels.value_or(device.channelCount);
    checkPlayable(song, totalChannels);

    // A new song takes over: the one it replaces stops as a stop stops it.
    stopPlayback();
    lostDeviceUid_.reset();

    const Layout layout = layOut(song);
    checkNotStopped();

    auto engine = std::make_shared<AudioEngine>();
    Nodes nodes;
    nodes.format = startEngine(*engine, device.id, device.channelCount, totalChannels,
                               {nodes.click, nodes.guide, nodes.pad},
                               {domain, "Couldn't select device: ", "Couldn't build "});
    const auto feed = startNodes(song, nodes, *engine, layout, checkNotStopped);
    armGuideMutes(song, nodes.guide);

    engine_ = engine;
    clickPlayer_ = nodes.click;
    guidePlayer_ = nodes.guide;
    padPlayer_ = nodes.pad;
    plan_ = std::make_shared<Plan>(Plan{song, nodes.format, {}, {}, 0, feed, 0, nullptr, {}});
    plan_->setTimeline(layout.timeline);
    const std::vector<BarInfo> all = songBars(song);
    const BarInfo first = all.empty() ? BarInfo{-1, -1, song.tempo, song.beatsPerBar}
                                      : all[std::min<std::size_t>(layout.timeline.startBar, all.size() - 1)];
    plan_->bars.assign(static_cast<std::size_t>(layout.countIn), {-1, -1, first.tempo, first.beatsPerBar});
    plan_->bars.insert(plan_->bars.end(), all.begin() + std::min<std::ptrdiff_t>(layout.timeline.startBar,
                                                                                 static_cast<std::ptrdiff_t>(all.size())),
                       all.end());
    armAutoStop(engine, layout.timeline.totalDuration);
    watchDevice(engine);
    keepFeeding(feed);
    return layout.timeline.totalDuration;
}

std::int64_t SongPlayer::render(const SongSettings& song, std::int64_t channelCount, const RenderSink& sink) {
    checkPlayable(song, channelCount);
    if (channelCount < 1 || channelCount > 1024) refuse("Total channels must be 1 to 1024 for a render");
    const Layout layout = layOut(song);
    AudioEngine engine;
    Nodes nodes;
    nodes.format = {engineSampleRate, static_cast<std::uint32_t>(channelCount)};
    engine.setFormat(nodes.format);
    for (const auto& node : {nodes.click, nodes.guide, nodes.pad}) engine.attach(node);
    engine.startOffline();
    const auto feed = startNodes(song, nodes, engine, layout, [] {});

    // The mutes a live song times on the clock land here on their frames.
    SongSettings::GuideMuteSchedule mutes = song.guideMuteSchedule;
    std::stable_sort(mutes.begin(), mutes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t nextMute = 0;
    const auto frameOf = [](double seconds) {
        return static_cast<std::int64_t>(std::clamp(seconds, 0.0, longestSongSeconds + 60) * engineSampleRate);
    };

    // As long as a device plays it: until the player's own stop after the end.
    const std::int64_t total = frameOf(layout.timeline.totalDuration + autoStopMarginSeconds);
    constexpr std::int64_t block = 4096;
    std::vector<std::vector<float>> samples(static_cast<std::size_t>(channelCount), std::vector<float>(block));
    std::vector<float*> channels;
    for (auto& channel : samples) channels.push_back(channel.data());
    OutputLimiter limiter(static_cast<std::uint32_t>(channelCount), engineSampleRate);
    for (std::int64_t done = 0; done < total;) {
        for (; nextMute < mutes.size() && frameOf(mutes[nextMute].first) <= done; ++nextMute)
            nodes.guide->setVolume(mutes[nextMute].second ? 0.0f : 1.0f);
        std::int64_t frames = std::min(block, total - done);
        if (nextMute < mutes.size()) frames = std::min(frames, frameOf(mutes[nextMute].first) - done);
        feedSounds(*nodes.click, *nodes.guide, *feed);
        if (feed->padStream && !feedPad(*nodes.pad, *feed)) refuse("Out of memory for the pad");
        for (auto& channel : samples) std::fill(channel.begin(), channel.end(), 0.0f);
        engine.renderOffline(channels.data(), static_cast<std::uint32_t>(channelCount), static_cast<std::uint32_t>(frames));
        limiter.process(channels.data(), static_cast<std::uint32_t>(channelCount), static_cast<std::uint32_t>(frames));
        sink(channels.data(), static_cast<std::uint32_t>(frames));
        done += frames;
    }
    return total;
}

void SongPlayer::startPad(const SongSettings& song, const Nodes& nodes, const TimelineResult& timeline,
                          std::int64_t countIn, Feed& feed) {
    if (!song.padKey || song.padChannels.empty()) return;
    const std::string& padKey = *song.padKey;
    const double totalDuration = timeline.totalDuration;
    const std::optional<int> key = parseKey(padKey);
    feed.padStream = !song.padChords || !key
                         ? PadPlayer::PadStream::drone(padKey, timeline.bars.length(0), totalDuration, nodes.format,
                                                       song.padChannels)
                         : PadPlayer::PadStream::chart(padKey, timeline.bars, totalDuration, nodes.format,
                                                       song.padChannels, countIn,
                                                       playedChords(song, *key, timeline.startBar));
    if (!feed.padStream || !feedPad(*nodes.pad, feed)) {
        feed.padStream.reset();
        log_ << "Pad: couldn't build a buffer for key '" << shortForLog(padKey) << "'.\n" << std::flush;
        return;
    }
    nodes.pad->play();
}

void SongPlayer::feedSounds(AudioPlayerNode& click, AudioPlayerNode& guide, Feed& feed) {
    const double ahead = static_cast<double>(click.playedFrames()) + feedLeadSeconds * engineSampleRate;
    for (; feed.nextSound < feed.sounds.size(); ++feed.nextSound) {
        Sound& sound = feed.sounds[feed.nextSound];
        if (static_cast<double>(sound.at) >= ahead) break;
        if (sound.at >= (sound.click ? feed.until : feed.guideUntil)) continue;
        (sound.click ? click : guide).scheduleBuffer(std::move(sound.buffer), sound.at);
    }
}

bool SongPlayer::feedPad(AudioPlayerNode& node, Feed& feed) {
    constexpr std::uint32_t window = 12 * PadPlayer::PadStream::windowAlignment;  // about a second
    const std::uint32_t frames = feed.padStream->frameCount();
    const double ahead = static_cast<double>(node.playedFrames()) + feedLeadSeconds * engineSampleRate;
    while (feed.nextPadFrame < frames && static_cast<double>(feed.origin + feed.nextPadFrame) < ahead &&
           feed.origin + feed.nextPadFrame < feed.until) {
        const auto count = static_cast<std::uint32_t>(
            std::min<std::int64_t>({window, frames - feed.nextPadFrame, feed.until - feed.origin - feed.nextPadFrame}));
        PcmBufferPtr buffer = feed.padStream->render(feed.nextPadFrame, count);
        if (!buffer) return false;
        node.scheduleBuffer(std::move(buffer), feed.origin + feed.nextPadFrame);
        feed.nextPadFrame += count;
    }
    return true;
}

void SongPlayer::keepFeeding(const std::shared_ptr<Feed>& feed) {
    afterWeak(queue_, feedSeconds, weak_from_this(), [feed](SongPlayer& player) {
        if (player.plan_ && player.plan_->feed == feed) player.vampTick();
        // Each part until its node has been stopped (its engine retired) or it is all handed over.
        bool more = false;
        const AudioPlayerNodePtr click = feed->click.lock(), guide = feed->guide.lock(), pad = feed->pad.lock();
        if (click && guide && click->isPlaying() && feed->nextSound < feed->sounds.size()) {
            feedSounds(*click, *guide, *feed);
            more = true;
        }
        if (pad && pad->isPlaying() && feed->padStream && feed->nextPadFrame < feed->padStream->frameCount() &&
            feed->origin + feed->nextPadFrame < feed->until) {
            if (feedPad(*pad, *feed)) {
                more = true;
            } else {
                player.log_ << "Pad: out of memory; the rest of the pad is left out.\n" << std::flush;
            }
        }
        if (more) player.keepFeeding(feed);
    });
}

void SongPlayer::armAutoStop(const std::shared_ptr<AudioEngine>& engine, double totalDuration) {
    // The effect runs on the queue, which owns the engine lists.
    autoStop_ = afterWeak(queue_, totalDuration + autoStopMarginSeconds, weak_from_this(),
                          [engine](SongPlayer& player) {
                              player.autoStop_.reset();
                              player.retireEngine(engine);
                          });
}

void SongPlayer::watchDevice(const std::shared_ptr<AudioEngine>& engine) {
    afterWeak(queue_, deviceWatchSeconds, weak_from_this(), [engine](SongPlayer& player) {
        if (player.engine_ != engine) return;  // the song has ended or been replaced
        if (!engine->hasLostDevice()) return player.watchDevice(engine);
        // Nothing to fade on a device that is gone.
        player.lostDeviceUid_ = engine->deviceUid();
        player.padPlayer_.reset();
        player.stopPlayback();
        if (player.deviceLost_) player.deviceLost_(*player.lostDeviceUid_);
    });
}

void SongPlayer::setDeviceLostHandler(std::function<void(const std::string& deviceUid)> handler) {
    queue_.sync([&] { deviceLost_ = std::move(handler); });
}

PlayProgress SongPlayer::progress() {
    return queue_.sync([this] {
        if (lostDeviceUid_) return PlayProgress{0, true, *lostDeviceUid_, true};
        if (!engine_) return PlayProgress{0, true, {}, false};
        return engineProgress(*engine_, *clickPlayer_);
    });
}

void SongPlayer::stop() {
    // Counted at once, so that a song still being built sees it.
    ++stopRequests_;
    queue_.async([this] { stopPlayback(); });
}

void SongPlayer::setGuideMuted(bool muted) {
    queue_.async([this, muted] {
        if (guidePlayer_) guidePlayer_->setVolume(muted ? 0.0f : 1.0f);
    });
}

void SongPlayer::setLevels(const LevelChange& change) {
    checkLevels(change);
    queue_.sync([&] {
        if (!engine_ || !engine_->isRunning()) throw Error(domain, SongPlayerError::idle, "Nothing is playing");
        for (const auto& [node, dB] : {std::pair{clickPlayer_, change.click}, {guidePlayer_, change.guide},
                                       {padPlayer_, change.pad}}) {
            if (node && dB) node->setGain(levelGain(*dB));
        }
    });
}

float SongPlayer::levelGain(double dB) {
    return dB <= silentLevelDb ? 0.0f : static_cast<float>(std::pow(10.0, dB / 20.0));
}

SongPlayer::State SongPlayer::state() {
    return queue_.sync([this] {
        return State{engine_, clickPlayer_, guidePlayer_, padPlayer_, autoStop_.has_value(), fadingOutEngines_};
    });
}

void SongPlayer::cancelAutoStop() {
    if (autoStop_) autoStop_->cancel();
    autoStop_.reset();
}

void SongPlayer::stopPlayback() {
    cancelAutoStop();
    plan_.reset();
    vampSection_.reset();
    for (const auto& engine : fadingOutEngines_) engine->stop();
    fadingOutEngines_.clear();

    if (engine_ && padPlayer_ && padPlayer_->isPlaying()) {
        if (clickPlayer_) clickPlayer_->stop();
        if (guidePlayer_) guidePlayer_->stop();
        auto engine = std::move(engine_);
        auto padNode = std::move(padPlayer_);
        clickPlayer_.reset();
        guidePlayer_.reset();
        fadingOutEngines_.push_back(engine);
        fadeOutPad(engine, padNode, fadeSeconds);
        return;
    }
    if (engine_) engine_->stop();
    engine_.reset();
    clickPlayer_.reset();
    guidePlayer_.reset();
    padPlayer_.reset();
}

void SongPlayer::fadeOutPad(const std::shared_ptr<AudioEngine>& engine, const AudioPlayerNodePtr& padNode,
                            double length) {
    const float startVolume = padNode->volume();
    for (int i = 1; i <= fadeSteps; ++i) {
        const float factor = static_cast<float>(1.0 - static_cast<double>(i) / fadeSteps);
        afterWeak(queue_, length * i / fadeSteps, std::weak_ptr<AudioPlayerNode>(padNode),
                  [startVolume, factor](AudioPlayerNode& node) { node.setVolume(startVolume * factor); });
    }
    afterWeak(queue_, length + 0.1, weak_from_this(), [engine](SongPlayer& player) { player.retireEngine(engine); });
}

void SongPlayer::retireEngine(const std::shared_ptr<AudioEngine>& engine) {
    engine->stop();
    std::erase(fadingOutEngines_, engine);
}

} // namespace cadenzo
