#pragma once

#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/AudioPlayerNode.hpp"
#include "CadenzoPlayer/dispatch/DelayedTask.hpp"
#include "CadenzoPlayer/dispatch/SerialQueue.hpp"
#include "CadenzoPlayer/playback/Device.hpp"
#include "CadenzoPlayer/playback/PlayWait.hpp"
#include "CadenzoPlayer/playback/SongSettings.hpp"

#include <atomic>
#include <functional>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cadenzo {

struct TimelineResult;

// Errors of play, domain "SongPlayer"; 1 to 3 are the EngineStartError codes:
//   1 "No underlying AudioUnit"              no way to select a device
//   2 "Couldn't select device: <status>"     the device could not be selected
//   3 "Couldn't build <n>-channel layout"    n = min(device channels, totalChannels) is 0
// and the engine's own start error unchanged.
enum class SongPlayerError : int {
    // Tempo, metre, count-in, channel count or a song too long, refused
    // before anything else happens.
    unplayable = 4,
    // "Stopped before the song started": a stop came while it was being built.
    stopped = 5,
    // lostDeviceText: the device went away while the song played (raised by
    // those who wait for the song, such as the song test).
    deviceLost = 6,
    // "Nothing is playing": a level change, jump or vamp with no song to change.
    idle = 7,
    // A jump to a section the song does not have.
    noSuchSection = 8,
};

// Plays one song at a time: click, guide cues and pad, each on its own
// channels of one device, through a fresh engine per song. Every operation
// that touches the playback runs on the player's serial queue.
class SongPlayer : public std::enable_shared_from_this<SongPlayer> {
public:
    // Delayed tasks hold the player weakly, so it always lives in a shared_ptr.
    // What the player has to say (the song it built, a pad it could not make)
    // goes to `log`, which must outlive it.
    static std::shared_ptr<SongPlayer> make(std::ostream& log = std::cout);
    ~SongPlayer();

    using GuideMuteSchedule = SongSettings::GuideMuteSchedule;

    // Stops the current song as stop() does, starts this one and returns its
    // length in seconds. Runs on the player's queue; the caller waits. A
    // stop() that comes while the song is being built cancels it.
    double play(const CoreAudioDevices::Device& device, const SongSettings& song);

    // Receives each rendered block: one array per channel, `frames` long.
    using RenderSink = std::function<void(const float* const* channels, std::uint32_t frames)>;

    // Renders the song with no device, block by block into `sink`, exactly as
    // a device of `channelCount` channels at the engine rate receives it when
    // the song is played (its output limiter included), until the player's
    // stop after the end. Runs on the caller's thread and leaves the playing
    // song alone. Returns the frames rendered; throws what play() would for
    // the song, or what `sink` throws.
    std::int64_t render(const SongSettings& song, std::int64_t channelCount, const RenderSink& sink);

    // Clicks and cues stop at once; a sounding pad fades out over 1.5 s.
    // Returns at once.
    void stop();

    // Mutes or unmutes the current song's cues at once. Returns at once.
    void setGuideMuted(bool muted);

    // Changes the levels of the current song; each node glides to its new
    // level from its next audio block. Runs on the player's queue; the caller
    // waits. A level above maxLevelDb is refused as unplayable, a change with
    // no song playing as idle.
    void setLevels(const LevelChange& change);

    // Moves the playing song to `section` (from 0) at its next bar line, or at
    // the end of the section playing, on the grid: the bars before it play
    // out, the target's cue and count are spoken in the bar before it when
    // that bar has not begun, and the pad follows the target's chart. Ends a
    // vamp. Runs on the player's queue; the caller waits. Throws idle, or
    // noSuchSection.
    void jumpToSection(std::int64_t section, bool atSectionEnd);
    // Repeats the section playing at the end of each pass while on; turned
    // off, the pass playing ends and the song goes on. Throws idle.
    void setVamp(bool on);
    // A jump is planned this far ahead of what the device has played, so
    // that the nodes have it before it is due.
    static constexpr double jumpMarginSeconds = 0.1;

    // A level in dB as a factor on the samples: at or below silentLevelDb, 0.
    static float levelGain(double dB);
    static constexpr double maxLevelDb = 6.0;
    static constexpr double silentLevelDb = -120.0;

    // Called on the player's queue with the device's uid when the device of
    // the current song goes away; the song is then cut. Set before playing.
    void setDeviceLostHandler(std::function<void(const std::string& deviceUid)> handler);

    // Where the playing song is on its device: its section (from 0, -1 in the
    // count-in) and that section's label, the bar within the section or the
    // count-in and the beat within the bar, both from 1. Not playing once the
    // song's last bar has sounded. Runs on the player's queue; the caller waits.
    struct Position {
        bool playing = false;
        std::string title;
        std::int64_t section = -1;
        std::string sectionLabel;
        std::int64_t bar = 0, beat = 0;
        friend bool operator==(const Position&, const Position&) = default;
    };
    Position position();

    // How far the current song has played on its device; ended once it has
    // stopped or was never started, lost once its device went away.
    PlayProgress progress();

    static constexpr double fadeSeconds = 1.5;
    static constexpr int fadeSteps = 30;
    static constexpr double retirementDelaySeconds = fadeSeconds + 0.1;
    static constexpr double autoStopMarginSeconds = 2.0;
    // How often a playing song's device is checked.
    static constexpr double deviceWatchSeconds = 0.2;
    // Far beyond any set; sample times and the pad's frame count stay in range.
    static constexpr double longestSongSeconds = 24 * 3600.0;
    // Clicks, cues and the pad are handed to the nodes this far ahead of the
    // device, topped up this often.
    static constexpr double feedLeadSeconds = 4.0;
    static constexpr double feedSeconds = 0.25;

    // A click or cue of the song: its sound at its sample time.
    struct Sound {
        std::int64_t at = 0;
        PcmBufferPtr buffer;
        bool click = false;  // else a cue
    };

    // What the player holds right now, read on its queue.
    struct State {
        std::shared_ptr<AudioEngine> engine;
        AudioPlayerNodePtr clickPlayer;
        AudioPlayerNodePtr guidePlayer;
        AudioPlayerNodePtr padPlayer;
        bool autoStopPending = false;
        std::vector<std::shared_ptr<AudioEngine>> fadingOutEngines;
    };
    State state();

private:
    explicit SongPlayer(std::ostream& log);

    struct Nodes;
    struct Feed;
    struct Layout;
    struct Plan;
    std::int64_t nowWithMargin() const;
    // The plan sounding at `frame`: the current one, or one it follows on from.
    Plan& planAt(std::int64_t frame) const;
    static std::size_t barAt(const Plan& plan, std::int64_t frame);
    static std::size_t sectionEnd(const Plan& plan, std::size_t bar);
    // Plays `target` (the end of the song when past its last section) from bar `jumpBar` of `old` on.
    void replan(Plan& old, std::size_t jumpBar, std::int64_t target, std::int64_t now);
    void vampTick();
    Layout layOut(const SongSettings& song);
    std::shared_ptr<Feed> startNodes(const SongSettings& song, const Nodes& nodes, AudioEngine& engine,
                                     const Layout& layout, const std::function<void()>& checkNotStopped);
    static void feedSounds(AudioPlayerNode& click, AudioPlayerNode& guide, Feed& feed);
    static bool feedPad(AudioPlayerNode& node, Feed& feed);
    void keepFeeding(const std::shared_ptr<Feed>& feed);
    double playOnQueue(const CoreAudioDevices::Device& device, const SongSettings& song);
    void startPad(const SongSettings& song, const Nodes& nodes, const TimelineResult& timeline, std::int64_t countIn,
                  Feed& feed);
    void armAutoStop(const std::shared_ptr<AudioEngine>& engine, double totalDuration);
    void watchDevice(const std::shared_ptr<AudioEngine>& engine);
    void stopPlayback();
    void fadeOutPad(const std::shared_ptr<AudioEngine>& engine, const AudioPlayerNodePtr& padNode, double length);
    void retireEngine(const std::shared_ptr<AudioEngine>& engine);
    void cancelAutoStop();

    std::shared_ptr<AudioEngine> engine_;
    AudioPlayerNodePtr clickPlayer_;
    AudioPlayerNodePtr guidePlayer_;
    AudioPlayerNodePtr padPlayer_;
    std::optional<DelayedTask> autoStop_;
    std::vector<std::shared_ptr<AudioEngine>> fadingOutEngines_;
    std::ostream& log_;
    std::function<void(const std::string&)> deviceLost_;
    std::optional<std::string> lostDeviceUid_;  // of the current song
    std::atomic<std::uint64_t> stopRequests_{0};
    // The playing song as planned on its nodes' timeline, and its vamp.
    std::shared_ptr<Plan> plan_;
    std::optional<std::int64_t> vampSection_;
    std::int64_t vampFrame_ = 0;  // where the last repeat begins
    // Last, so that it goes first: its thread ends before the fields its
    // tasks use are released.
    SerialQueue queue_;
};

} // namespace cadenzo
