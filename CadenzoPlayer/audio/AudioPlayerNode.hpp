#pragma once

#include "CadenzoPlayer/audio/LockFree.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace cadenzo {

class AudioEngine;
struct StartGate;

// Plays scheduled buffers on its own timeline: sample time 0 is the moment
// the node starts playing, counted in frames of the engine's format.
// Buffers that overlap in time are mixed, each at its own time. Control
// methods may be called from any thread; rendering never waits for them.
class AudioPlayerNode {
public:
    AudioPlayerNode();
    ~AudioPlayerNode();
    AudioPlayerNode(const AudioPlayerNode&) = delete;
    AudioPlayerNode& operator=(const AudioPlayerNode&) = delete;

    // `at` is a sample time on the node's timeline; without one the buffer
    // plays as soon as possible: right after the buffers already queued that
    // way, or at the node's current position. A buffer whose time has passed
    // plays only the part still ahead, so it stays on the timeline. Channels
    // beyond the engine's are ignored. Before or during playback.
    void scheduleBuffer(PcmBufferPtr buffer, std::optional<std::int64_t> at = std::nullopt);

    // Starts the timeline at the next audio block of the engine (or its first
    // block, when the engine is not running yet). Nodes of one engine started
    // within one AudioEngine::StartGroup begin on the same sample.
    void play();

    // Silences the node, forgets every scheduled buffer and resets the
    // timeline to 0.
    void stop();
    // Forgets what is scheduled from sample time `at` on: a buffer that would
    // begin there or later is dropped, one sounding across it ends there.
    void cutFrom(std::int64_t at);

    bool isPlaying() const { return playing_.load(); }

    // How much of the timeline the device has been handed so far, in frames.
    std::int64_t playedFrames() const { return played_.load(std::memory_order_relaxed); }

    // 0 is silent, 1 full; applied from the next audio block.
    float volume() const { return volume_.load(); }
    void setVolume(float volume) { volume_.store(volume); }

    // The source's level, a factor on top of the volume. One set before play
    // holds from the first sample; while playing the node glides to a new one
    // over gainRampFrames from the next audio block, so a change never clicks.
    float gain() const { return gain_.load(); }
    void setGain(float gain) { gain_.store(gain); }
    static constexpr std::int64_t gainRampFrames = 480;  // 10 ms

private:
    friend class AudioEngine;

    struct Command {
        enum class Kind { schedule, play, stop, cut };
        Kind kind = Kind::schedule;
        PcmBufferPtr buffer;            // released on a control thread only
        const PcmBuffer* raw = nullptr;
        std::int64_t at = 0;
        bool asap = false;
        std::int64_t length = 0;
        std::uint64_t ticket = 0;       // play: released by the engine's start gate
        std::int64_t start = 0;         // resolved sample time
        Command* next = nullptr;        // handoff stacks and the pending queue
        Command* before = nullptr;      // the sorted list of scheduled buffers
        Command* after = nullptr;
    };

    // Render side; the thread that renders the engine owns all of it.
    void render(float* const* out, std::uint32_t channels, std::uint32_t frames, std::uint64_t releasedStarts) noexcept;
    // The frames a device skipped: the timeline moves on by them unheard.
    void skip(std::int64_t frames, std::uint64_t releasedStarts) noexcept;
    void applyCommand(Command* command) noexcept;
    void insertScheduled(Command* command) noexcept;
    void unlinkScheduled(Command* command) noexcept;
    void retire(Command* command) noexcept;
    void clearScheduled() noexcept;
    // The gain `done` frames into the glide: a step each frame, then the target exactly.
    float gainAfter(std::int64_t done) const noexcept;

    // Control side.
    void submit(Command* command);
    void releaseFinished();
    void attachTo(std::shared_ptr<StartGate> gate);
    // Called by the engine once nothing renders it any more.
    void resetAfterEngineStop();
    void freeRenderState();

    std::mutex controlMutex_;
    std::shared_ptr<StartGate> gate_;
    std::atomic<bool> playing_{false};
    std::atomic<float> volume_{1.0f};
    std::atomic<float> gain_{1.0f};
    std::atomic<std::int64_t> played_{0};
    IntrusiveStack<Command> incoming_;
    IntrusiveStack<Command> finished_;

    // Render side state.
    Command* pendingHead_ = nullptr;
    Command* pendingTail_ = nullptr;
    Command* scheduledHead_ = nullptr;
    Command* scheduledTail_ = nullptr;
    bool rendering_ = false;
    std::int64_t position_ = 0;
    std::int64_t asapEnd_ = 0;
    // The glide towards gain_: from, to, and how many of its frames have played.
    float rampFrom_ = 1.0f;
    float rampTo_ = 1.0f;
    std::int64_t rampDone_ = gainRampFrames;
};

using AudioPlayerNodePtr = std::shared_ptr<AudioPlayerNode>;

// Node starts of one engine pass through its gate: a start is taken up by the
// render thread only once its ticket is released, and every node reads the
// released ticket from the same snapshot per block.
struct StartGate {
    std::uint64_t takeTicket();
    void hold();
    void unhold();

    std::atomic<std::uint64_t> released{0};

private:
    std::mutex mutex_;
    std::uint64_t issued_ = 0;
    int holds_ = 0;
};

} // namespace cadenzo
