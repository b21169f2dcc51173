#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"
#include "CadenzoPlayer/sources/GuideSounds.hpp"
#include "CadenzoPlayer/sources/PadPlayer.hpp"
#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace cadenzo {

namespace {

constexpr const char* domain = "SongPlayer";
constexpr double sampleRate = 48000.0;
// Beyond this the timeline alone would hold millions of events.
constexpr double mostBeats = 1'000'000.0;

void printLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string twoDecimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Settings that would give times the engine cannot schedule, or a song too
// long to render ahead, are refused before the current song is touched.
void checkPlayable(std::int64_t totalChannels, double tempo, std::int64_t beatsPerBar, std::int64_t countInBars,
                   const std::vector<MapEntry>& entries) {
    if (!(std::isfinite(tempo) && tempo > 0.0)) {
        throw Error(domain, 4, "Tempo must be a positive, finite number of beats per minute");
    }
    if (beatsPerBar < 1) throw Error(domain, 4, "Beats per bar must be at least 1");
    if (countInBars < 0) throw Error(domain, 4, "Count-in bars can't be negative");
    if (totalChannels < 0 || totalChannels > 65535) {
        throw Error(domain, 4, "Total channels must be between 0 and 65535");
    }
    // In floating point: bar counts may be anything up to the 64-bit limit.
    double bars = static_cast<double>(countInBars);
    for (const MapEntry& entry : entries) bars += static_cast<double>(std::max<std::int64_t>(entry.bars, 1));
    const double beats = bars * static_cast<double>(beatsPerBar);
    if (beats > mostBeats || beats * secondsPerBeat(tempo) > SongPlayer::longestSongSeconds) {
        throw Error(domain, 4, "Song too long to schedule: more than one hour");
    }
}

} // namespace

std::shared_ptr<SongPlayer> SongPlayer::make() { return std::shared_ptr<SongPlayer>(new SongPlayer()); }

SongPlayer::SongPlayer() : queue_(std::string(applicationIdentifier) + ".player.songplayer") {}

SongPlayer::~SongPlayer() = default;

double SongPlayer::play(const CoreAudioDevices::Device& device, const std::vector<std::int64_t>& clickChannels,
                        const std::vector<std::int64_t>& guideChannels, std::int64_t totalChannels, double tempo,
                        std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<MapEntry>& entries,
                        std::int64_t startSection, const std::optional<std::string>& padKey,
                        const std::vector<std::int64_t>& padChannels,
                        const std::optional<std::vector<std::string>>& padChords,
                        const GuideMuteSchedule& guideMuteSchedule) {
    return queue_.sync([&] {
        return playOnQueue(device, clickChannels, guideChannels, totalChannels, tempo, beatsPerBar, countInBars,
                           entries, startSection, padKey, padChannels, padChords, guideMuteSchedule);
    });
}

double SongPlayer::playOnQueue(const CoreAudioDevices::Device& device, const std::vector<std::int64_t>& clickChannels,
                               const std::vector<std::int64_t>& guideChannels, std::int64_t totalChannels,
                               double tempo, std::int64_t beatsPerBar, std::int64_t countInBars,
                               const std::vector<MapEntry>& entries, std::int64_t startSection,
                               const std::optional<std::string>& padKey, const std::vector<std::int64_t>& padChannels,
                               const std::optional<std::vector<std::string>>& padChords,
                               const GuideMuteSchedule& guideMuteSchedule) {
    const bool cut = startSection >= 1 && startSection < static_cast<std::int64_t>(entries.size());
    const std::int64_t countIn = cut ? 0 : countInBars;
    checkPlayable(totalChannels, tempo, beatsPerBar, countInBars, entries);

    detachPlayback();

    const TimelineResult timeline = buildTimeline(beatsPerBar, countIn, entries, startSection, tempo);
    std::string built = "Built " + std::to_string(timeline.events.size()) + " events (click + guide), " +
                        twoDecimals(timeline.totalDuration) + "s total";
    if (cut) built += " (starting at section " + std::to_string(startSection) + ", skipping the count-in)";
    printLine(built + ".");

    auto engine = std::make_shared<AudioEngine>();
    if (!engine->outputUnitAvailable()) throw Error(domain, 1, "No underlying AudioUnit");
    if (const int status = engine->selectDevice(device.id); status != 0) {
        throw Error(domain, 2, "Couldn't select device: " + std::to_string(status));
    }
    const std::int64_t outputChannelCount = std::min(device.channelCount, totalChannels);
    if (!discreteInOrderLayoutTag(outputChannelCount)) {
        throw Error(domain, 3, "Couldn't build " + std::to_string(outputChannelCount) + "-channel layout");
    }
    const AudioFormat format{sampleRate, static_cast<std::uint32_t>(outputChannelCount)};

    engine->setFormat(format);
    auto click = std::make_shared<AudioPlayerNode>();
    auto guide = std::make_shared<AudioPlayerNode>();
    auto pad = std::make_shared<AudioPlayerNode>();
    engine->attach(click);
    engine->attach(guide);
    engine->attach(pad);
    engine->start();

    const PcmBufferPtr accentClick = ClickTrack::makeClickBuffer(true, format, clickChannels);
    const PcmBufferPtr normalClick = ClickTrack::makeClickBuffer(false, format, clickChannels);
    std::map<std::string, PcmBufferPtr, std::less<>> guideBufferCache;
    for (const TimelineEvent& event : timeline.events) {
        const auto at = static_cast<std::int64_t>(event.time * format.sampleRate);
        if (event.kind.isClick()) {
            if (const PcmBufferPtr& buffer = event.kind.accent() ? accentClick : normalClick) {
                click->scheduleBuffer(buffer, at);
            }
            continue;
        }
        const std::string& label = event.kind.label();
        auto cached = guideBufferCache.find(label);
        if (cached == guideBufferCache.end()) {
            PcmBufferPtr buffer;
            if (PcmBufferPtr sample = loadGuideSound(label)) {
                buffer = placeMonoOnChannels(*sample, guideChannels, format);
            } else {
                buffer = makeFallbackCue(label, format, guideChannels);
            }
            cached = guideBufferCache.emplace(label, std::move(buffer)).first;
        }
        if (cached->second) guide->scheduleBuffer(cached->second, at);
    }

    {
        // Pad, click and guide begin on one sample, whatever the audio thread does meanwhile.
        AudioEngine::StartGroup startTogether(*engine);

        if (padKey && !padChannels.empty()) {
            const double secondsPerBar = barDuration(tempo, beatsPerBar);
            const std::optional<int> key = parseKey(*padKey);
            PcmBufferPtr padBuffer;
            if (!padChords || !key) {
                padBuffer = PadPlayer::makeDronePad(*padKey, secondsPerBar, timeline.totalDuration, format, padChannels);
            } else {
                std::vector<std::optional<PadChord>> chords;
                for (const std::string& symbol : *padChords) chords.push_back(parseChord(symbol, *key));
                const auto bars = static_cast<std::size_t>(songBarCount(entries));
                if (chords.size() < bars) chords.resize(bars);
                const auto skipped = std::min(static_cast<std::size_t>(std::max<std::int64_t>(timeline.startBar, 0)),
                                              chords.size());
                chords.erase(chords.begin(), chords.begin() + static_cast<std::ptrdiff_t>(skipped));
                padBuffer = PadPlayer::renderPad(*padKey, secondsPerBar, timeline.totalDuration, format, padChannels,
                                                 countIn, chords);
            }
            if (padBuffer) {
                pad->scheduleBuffer(padBuffer, 0);
                pad->play();
            } else {
                printLine("Pad: couldn't build a buffer for key '" + *padKey + "'.");
            }
        }

        guide->setVolume(1.0f);
        GuideMuteSchedule schedule = guideMuteSchedule;
        std::stable_sort(schedule.begin(), schedule.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [seconds, muted] : schedule) {
            afterWeak(ConcurrentPool::shared(), seconds, std::weak_ptr<AudioPlayerNode>(guide),
                      [muted](AudioPlayerNode& node) { node.setVolume(muted ? 0.0f : 1.0f); });
        }

        click->play();
        guide->play();
    }

    engine_ = engine;
    clickPlayer_ = click;
    guidePlayer_ = guide;
    padPlayer_ = pad;

    // The effect runs on the queue, which owns the engine lists.
    autoStop_ = afterWeak(queue_, timeline.totalDuration + autoStopMarginSeconds, weak_from_this(),
                          [engine](SongPlayer& player) {
                              player.autoStop_.reset();
                              player.retireEngine(engine);
                          });
    return timeline.totalDuration;
}

void SongPlayer::stop() {
    queue_.async([this] { stopPlayback(); });
}

void SongPlayer::setGuideMuted(bool muted) {
    queue_.async([this, muted] {
        if (guidePlayer_) guidePlayer_->setVolume(muted ? 0.0f : 1.0f);
    });
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

void SongPlayer::detachPlayback() {
    cancelAutoStop();
    if (engine_) fadingOutEngines_.push_back(engine_);
    engine_.reset();
    clickPlayer_.reset();
    guidePlayer_.reset();
    padPlayer_.reset();
}

void SongPlayer::stopPlayback() {
    cancelAutoStop();
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
