#pragma once

#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/AudioPlayerNode.hpp"
#include "CadenzoPlayer/dispatch/DelayedTask.hpp"
#include "CadenzoPlayer/dispatch/SerialQueue.hpp"
#include "CadenzoPlayer/playback/Device.hpp"
#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cadenzo {

// Plays one song at a time: click, guide cues and pad, each on its own
// channels of one device, through a fresh engine per song. Every operation
// that touches the playback runs on the player's serial queue.
//
// Errors of play, domain "SongPlayer":
//   1 "No underlying AudioUnit"              no way to select a device
//   2 "Couldn't select device: <status>"     the device could not be selected
//   3 "Couldn't build <n>-channel layout"    n = min(device channels, totalChannels) is 0
//   4 settings that cannot be played (tempo, metre, count-in, channel count,
//     a song too long), refused before anything else happens
// and the engine's own start error unchanged.
class SongPlayer : public std::enable_shared_from_this<SongPlayer> {
public:
    // Delayed tasks hold the player weakly, so it always lives in a shared_ptr.
    static std::shared_ptr<SongPlayer> make();
    ~SongPlayer();

    using GuideMuteSchedule = std::vector<std::pair<double, bool>>;  // (seconds after start, muted)

    // Takes over from the current song (which keeps sounding until the next
    // stop), starts this one and returns its length in seconds. Runs on the
    // player's queue; the caller waits.
    double play(const CoreAudioDevices::Device& device, const std::vector<std::int64_t>& clickChannels,
                const std::vector<std::int64_t>& guideChannels, std::int64_t totalChannels, double tempo,
                std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<MapEntry>& entries,
                std::int64_t startSection, const std::optional<std::string>& padKey,
                const std::vector<std::int64_t>& padChannels, const std::optional<std::vector<std::string>>& padChords,
                const GuideMuteSchedule& guideMuteSchedule);

    // Clicks and cues stop at once; a sounding pad fades out over 1.5 s.
    // Returns at once.
    void stop();

    // Mutes or unmutes the current song's cues at once. Returns at once.
    void setGuideMuted(bool muted);

    static constexpr double fadeSeconds = 1.5;
    static constexpr int fadeSteps = 30;
    static constexpr double retirementDelaySeconds = fadeSeconds + 0.1;
    static constexpr double autoStopMarginSeconds = 2.0;
    // Longer songs would hold too much pad audio to render ahead.
    static constexpr double longestSongSeconds = 3600.0;

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
    SongPlayer();

    double playOnQueue(const CoreAudioDevices::Device& device, const std::vector<std::int64_t>& clickChannels,
                       const std::vector<std::int64_t>& guideChannels, std::int64_t totalChannels, double tempo,
                       std::int64_t beatsPerBar, std::int64_t countInBars, const std::vector<MapEntry>& entries,
                       std::int64_t startSection, const std::optional<std::string>& padKey,
                       const std::vector<std::int64_t>& padChannels,
                       const std::optional<std::vector<std::string>>& padChords,
                       const GuideMuteSchedule& guideMuteSchedule);
    void detachPlayback();
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
    // Last, so that it goes first: its thread ends before the fields its
    // tasks use are released.
    SerialQueue queue_;
};

} // namespace cadenzo
