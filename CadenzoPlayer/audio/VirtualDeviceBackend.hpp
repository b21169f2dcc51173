#pragma once

#include "CadenzoPlayer/audio/DeviceBackend.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cadenzo {

// Devices that exist only in memory, for tests: any names, channel counts and
// rates. In on-demand mode a device plays only when render() asks, faster than
// real time; in real-time mode each open stream has a thread that plays at the
// device's rate. Either way every device records what it received.
class VirtualDeviceBackend final : public DeviceBackend {
public:
    enum class Mode { onDemand, realTime };

    explicit VirtualDeviceBackend(Mode mode = Mode::onDemand, std::uint32_t blockFrames = 256);
    ~VirtualDeviceBackend() override;

    static std::string uidFor(const std::string& name) { return "virtual:" + name; }

    // Adds a device (the first added is the default unless one is named).
    void addDevice(const std::string& name, std::int64_t channelCount, double sampleRate = engineSampleRate);
    void setDefaultDevice(const std::string& name);
    // The device vanishes: it leaves the list, cannot be opened, and an open
    // stream on it fails and plays no more.
    void removeDevice(const std::string& name);

    std::vector<BackendDevice> devices() override;
    bool ownsUid(const std::string& uid) const override;
    std::unique_ptr<DeviceStream> openStream(const std::string& uid, double preferredSampleRate,
                                             DeviceRenderCallback& callback) override;

    // On-demand mode: plays `frames` frames on the device, in blocks of the
    // block size. False when no running stream is open on it.
    bool render(const std::string& name, std::size_t frames);
    // On-demand mode: the device skips `frames` frames, as in an xrun: its
    // clock moves on, nothing is asked for them and they record as silence.
    bool skip(const std::string& name, std::size_t frames);
    // On-demand mode: the device runs at `rate` from its next block, as when its
    // server changes rate, and tells its stream's callback.
    bool changeRate(const std::string& name, double rate);
    void setBlockFrames(std::uint32_t frames);

    // What the device received, one sample array per channel.
    std::vector<std::vector<float>> recording(const std::string& name) const;
    std::size_t recordedFrames(const std::string& name) const;
    void clearRecording(const std::string& name);
    // Makes room so that recording that many more frames allocates nothing.
    void reserveRecording(const std::string& name, std::size_t frames);

    bool isStreamOpen(const std::string& name) const;
    int streamsOpened(const std::string& name) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace cadenzo
