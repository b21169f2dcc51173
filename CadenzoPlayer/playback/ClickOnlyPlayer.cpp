#include "CadenzoPlayer/playback/ClickOnlyPlayer.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/dispatch/DelayedTask.hpp"
#include "CadenzoPlayer/playback/EngineStart.hpp"
#include "CadenzoPlayer/playback/PlayWait.hpp"
#include "CadenzoPlayer/sources/ClickTrack.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace cadenzo {

namespace {

constexpr const char* domain = "ClickTrack";
constexpr double ringOutSeconds = 0.3;

// The number of clicks makeClickEvents would make, counted without making
// them; nothing when it exceeds `limit`, however large the bar counts.
std::optional<std::int64_t> clickCount(std::int64_t beatsPerBar, std::int64_t countInBars,
                                       const std::vector<std::int64_t>& sectionBars, std::int64_t limit) {
    if (beatsPerBar <= 0) return 0;
    const std::int64_t maxBars = limit / beatsPerBar;
    std::int64_t bars = std::max<std::int64_t>(countInBars, 0);
    if (bars > maxBars) return std::nullopt;
    for (std::int64_t section : sectionBars) {
        const std::int64_t played = std::max<std::int64_t>(section, 1);
        if (played > maxBars - bars) return std::nullopt;
        bars += played;
    }
    return bars * beatsPerBar;
}

// The number of clicks, once the tempo and the length are known to be playable.
std::int64_t checkPlayable(std::int64_t beatsPerBar, std::int64_t countInBars,
                           const std::vector<std::int64_t>& sectionBars, double tempo) {
    if (auto problem = ClickTrack::tempoProblem(tempo)) throw Error(domain, ClickTrackError::unplayable, *problem);
    const auto clicks = clickCount(beatsPerBar, countInBars, sectionBars, maxClickEvents);
    if (!clicks) {
        throw Error(domain, ClickTrackError::unplayable,
                    "Song too long to schedule: more than " + std::to_string(maxClickEvents) + " click events");
    }
    if (static_cast<double>(*clicks) * 60.0 / tempo > maxClickTrackSeconds) {
        throw Error(domain, ClickTrackError::unplayable, "Song too long to schedule: more than one hour");
    }
    return *clicks;
}

} // namespace

void playClickTrack(std::uint32_t deviceId, std::int64_t deviceChannelCount, const std::vector<std::int64_t>& channels,
                    std::int64_t requestedChannelCount, std::int64_t beatsPerBar, std::int64_t countInBars,
                    const std::vector<std::int64_t>& sectionBars, double tempo) {
    playClickTrack(deviceId, deviceChannelCount, channels, requestedChannelCount, beatsPerBar, countInBars,
                   sectionBars, tempo, std::cout,
                   sleepSeconds);
}

void playClickTrack(std::uint32_t deviceId, std::int64_t deviceChannelCount, const std::vector<std::int64_t>& channels,
                    std::int64_t requestedChannelCount, std::int64_t beatsPerBar, std::int64_t countInBars,
                    const std::vector<std::int64_t>& sectionBars, double tempo, std::ostream& out,
                    const std::function<void(double seconds)>& wait) {
    // Without beats there is nothing to build, however many bars are asked for.
    const ClickTrack::Events clicks = checkPlayable(beatsPerBar, countInBars, sectionBars, tempo) == 0
                                          ? ClickTrack::Events{}
                                          : ClickTrack::makeClickEvents(beatsPerBar, countInBars, sectionBars, tempo);
    char total[64];
    std::snprintf(total, sizeof total, "%.2f", clicks.totalDuration);
    out << "Built " << clicks.events.size() << " click events, " << total << "s total.\n" << std::flush;

    AudioEngine engine;  // stops on the way out, whatever fails after it starts
    auto player = std::make_shared<AudioPlayerNode>();
    const AudioFormat format = startEngine(engine, deviceId, deviceChannelCount, requestedChannelCount, {player},
                                           {domain, "Couldn't select device: ", "Couldn't build "});
    warnUnplayedChannels(out, "click", channels, format.channelCount);

    PcmBufferPtr accent = ClickTrack::makeClickBuffer(true, format, channels);
    PcmBufferPtr normal = ClickTrack::makeClickBuffer(false, format, channels);
    if (!accent || !normal) throw Error(domain, ClickTrackError::noClickBuffers, "Couldn't allocate click buffers");
    for (const ClickTrack::Event& click : clicks.events) {
        player->scheduleBuffer(click.accent ? accent : normal, static_cast<std::int64_t>(click.time * format.sampleRate));
    }
    player->play();
    waitUntilPlayed([&] { return engineProgress(engine, *player); }, clicks.totalDuration + ringOutSeconds, wait,
                    domain, static_cast<int>(ClickTrackError::deviceLost));
    engine.stop();
}

} // namespace cadenzo
