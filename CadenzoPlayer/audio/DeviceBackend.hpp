#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cadenzo {

// An output device as a backend reports it. `uid` is "<api>:<name>".
struct BackendDevice {
    std::string uid;
    std::string name;
    std::int64_t channelCount = 0;  // output channels
    bool isDefault = false;

    friend bool operator==(const BackendDevice&, const BackendDevice&) = default;
};

// Called on the device's real-time thread with one array per device channel.
// `deviceFrame` is the device clock at the block's first frame, counted from
// the stream's first block: a block follows on from the one before unless the
// device skipped cycles (an xrun), which shows as a jump. Implementations must
// not lock, allocate, free or block.
class DeviceRenderCallback {
public:
    virtual void renderDevice(float* const* channels, std::uint32_t channelCount, std::uint32_t frames,
                              std::int64_t deviceFrame) noexcept = 0;

    // The device runs at another rate from now on (its server changed it). Called
    // on a thread of the backend's other than the render thread; may allocate.
    virtual void deviceRateChanged(double /*rate*/) {}

protected:
    ~DeviceRenderCallback() = default;
};

// An open output stream on all of a device's output channels. Destroying it
// stops and closes it; no callback runs once the destructor has returned.
class DeviceStream {
public:
    virtual ~DeviceStream() = default;
    virtual double sampleRate() const = 0;
    virtual std::uint32_t channelCount() const = 0;
    // Starts calling the render callback. Throws cadenzo::Error.
    virtual void start() = 0;
    // True once the device or its server has gone away; no more callbacks come.
    virtual bool hasFailed() const = 0;
};

class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;

    // Output devices in the backend's order. Never throws and never starts an
    // audio server; a failure gives a shorter list.
    virtual std::vector<BackendDevice> devices() = 0;

    // Whether the uid belongs to this backend's api.
    virtual bool ownsUid(const std::string& uid) const = 0;

    // Opens a stream on every output channel of the device, at the preferred
    // rate when the device allows it. The callback outlives the stream.
    // Throws cadenzo::Error (domain "AudioEngine") when the device cannot be opened.
    virtual std::unique_ptr<DeviceStream> openStream(const std::string& uid, double preferredSampleRate,
                                                     DeviceRenderCallback& callback) = 0;
};

// The error a backend raises when a stream cannot be had.
[[noreturn]] void throwDeviceOpenFailure(const std::string& uid, const std::string& reason);

// "<api>:<name>" split at the first colon; the api is empty without one.
std::string uidApi(const std::string& uid);
std::string uidName(const std::string& uid);

} // namespace cadenzo
