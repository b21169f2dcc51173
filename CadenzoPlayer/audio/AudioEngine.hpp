#pragma once

#include "CadenzoPlayer/audio/AudioPlayerNode.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cadenzo {

class DeviceOutput;

// Player nodes mixed by a main mixer into an output of N channels at
// the engine rate on one device. The device's stream is shared with every other
// engine running on that device; this engine's channels land on device
// channels 0 to N - 1 (those beyond the device's count are dropped).
//
//     AudioEngine engine;
//     engine.selectDevice(device.id);           // status, 0 = success
//     engine.setFormat({engineSampleRate, 8});
//     auto click = std::make_shared<AudioPlayerNode>();
//     engine.attach(click);
//     engine.start();                           // throws cadenzo::Error
//     click->scheduleBuffer(buffer, 96000);
//     { AudioEngine::StartGroup group(engine); click->play(); guide->play(); }
//     ...
//     engine.stop();
class AudioEngine {
public:
    // Errors raised by start(), domain "AudioEngine".
    enum ErrorCode : int {
        noDeviceLayer = 1,       // no device layer at all
        noOutputDevice = 2,      // nothing selected and no device to default to
        unsupportedFormat = 3,   // not 1 to 65535 channels at the engine rate
        deviceUnavailable = 4,   // the device's stream could not be opened
    };

    // Statuses of selectDevice.
    static constexpr int statusOk = 0;
    static constexpr int statusUnknownDevice = -1;     // no device ever had this identifier
    static constexpr int statusDeviceNotPresent = -2;  // the device has gone away
    static constexpr int statusNoDeviceLayer = -3;

    AudioEngine();
    ~AudioEngine();  // stops
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // Whether there is a device backend to point the engine at.
    bool hasDeviceLayer() const;

    // Selects the output device by its process-wide identifier. Takes effect
    // at the next start. Without a selection the default device is used.
    int selectDevice(std::uint32_t deviceId);
    std::optional<std::uint32_t> selectedDevice() const;

    // The output format (and the format of the buffers the nodes play);
    // two channels at the engine rate until set. Read at start.
    void setFormat(const AudioFormat& format);
    AudioFormat format() const;

    // The engine owns its nodes from now on; attaching twice does nothing. A
    // node belongs to one engine.
    void attach(const AudioPlayerNodePtr& node);
    std::vector<AudioPlayerNodePtr> attachedNodes() const;

    // Joins the device's stream. Throws cadenzo::Error; on failure nothing
    // is left running. Starting a running engine does nothing.
    void start();
    // Runs the engine without a device, for a render to a file: the caller
    // pulls each block with renderOffline, on one thread. Throws on an
    // unsupported format, as start does.
    void startOffline();
    // The next `frames` of an engine started offline, added to `channels` as
    // a device's stream adds them (before its output limiter).
    void renderOffline(float* const* channels, std::uint32_t channelCount, std::uint32_t frames) noexcept;
    // Leaves the stream (closing it when this was its last engine), then
    // stops every node: their buffers are released and their timelines reset.
    void stop();
    bool isRunning() const { return running_.load(); }
    // The device this running engine plays on (empty when stopped), and
    // whether that device or its audio server has gone away.
    std::string deviceUid() const;
    bool hasLostDevice() const;

    // Holds every node start of the engine while it lives and releases them
    // together when it ends, so the render thread begins all those nodes on
    // the same sample even if an audio block ends between the play() calls.
    //
    //     { AudioEngine::StartGroup group(engine); pad->play(); click->play(); guide->play(); }
    class StartGroup {
    public:
        explicit StartGroup(AudioEngine& engine);
        ~StartGroup();
        StartGroup(const StartGroup&) = delete;
        StartGroup& operator=(const StartGroup&) = delete;

    private:
        std::shared_ptr<StartGate> gate_;
    };

private:
    class Core;

    mutable std::mutex mutex_;
    std::shared_ptr<Core> core_;
    std::atomic<bool> running_{false};
    AudioFormat format_{engineSampleRate, 2};
    std::optional<std::uint32_t> deviceId_;
    std::shared_ptr<DeviceOutput> output_;
};

} // namespace cadenzo
