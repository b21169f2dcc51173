#pragma once

#include "ErrorText.hpp"

#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"
#include "CadenzoPlayer/audio/VirtualDeviceBackend.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Puts a fresh in-memory device backend in place of the system one for the
// length of a test.
class VirtualDevices : public ::testing::Test {
protected:
    void SetUp() override {
        backend = std::make_shared<cadenzo::VirtualDeviceBackend>();
        previous = cadenzo::setDeviceBackendForTesting(backend);
    }
    void TearDown() override { cadenzo::setDeviceBackendForTesting(previous); }

    static std::uint32_t idOf(const std::string& name) {
        return cadenzo::DeviceLayer::shared().idForUid(cadenzo::VirtualDeviceBackend::uidFor(name));
    }

    // A wait that plays `device` for as long as it was asked to wait instead
    // of sleeping, noting each wait and whether the stream was open then.
    std::function<void(double)> renderingWait(const std::string& device) {
        return [this, device](double seconds) {
            waits.push_back(seconds);
            streamOpenDuringWait = backend->isStreamOpen(device);
            backend->render(device, static_cast<std::size_t>(std::llround(seconds * 48000)));
        };
    }

    std::shared_ptr<cadenzo::VirtualDeviceBackend> backend;
    std::shared_ptr<cadenzo::DeviceBackend> previous;
    std::vector<double> waits;
    bool streamOpenDuringWait = false;
};

// Lists the devices it is given and opens none of them, noting each attempt.
// With an api it owns only that api's uids.
class RefusingBackend final : public cadenzo::DeviceBackend {
public:
    RefusingBackend(std::vector<cadenzo::BackendDevice> devices, std::string reason, std::string api = "")
        : devices_(std::move(devices)), reason_(std::move(reason)), api_(std::move(api)) {}
    std::vector<cadenzo::BackendDevice> devices() override { return devices_; }
    bool ownsUid(const std::string& uid) const override { return api_.empty() || cadenzo::uidApi(uid) == api_; }
    std::unique_ptr<cadenzo::DeviceStream> openStream(const std::string& uid, double,
                                                      cadenzo::DeviceRenderCallback&) override {
        opened.push_back(uid);
        cadenzo::throwDeviceOpenFailure(uid, reason_);
    }

    std::vector<std::string> opened;

private:
    std::vector<cadenzo::BackendDevice> devices_;
    std::string reason_;
    std::string api_;
};

// Index of the first non-zero sample, or -1.
inline long firstSound(const std::vector<float>& samples) {
    const auto found = std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0.0f; });
    return found == samples.end() ? -1 : static_cast<long>(found - samples.begin());
}

inline bool silent(const std::vector<float>& samples) { return firstSound(samples) < 0; }

inline float peak(const std::vector<float>& samples) {
    float loudest = 0.0f;
    for (float v : samples) loudest = std::max(loudest, std::fabs(v));
    return loudest;
}

// A buffer whose `channel` carries first, first + step, ... and whose other
// channels are silent.
inline cadenzo::PcmBufferPtr rampBuffer(std::uint32_t channels, std::uint32_t channel, std::uint32_t frames,
                                        float first = 1.0f, float step = 1.0f) {
    auto buffer = cadenzo::PcmBuffer::make({48000, channels}, frames);
    buffer->setFrameLength(frames);
    float* data = buffer->writableChannel(channel);
    for (std::uint32_t i = 0; i < frames; ++i) data[i] = first + step * static_cast<float>(i);
    return buffer;
}

// For each channel of `buffer`, the first channel whose array it shares, or -1
// when it has none: {0, -1, 0} is one array on channels 0 and 2.
inline std::vector<int> channelSharing(const cadenzo::PcmBuffer& buffer) {
    std::vector<int> sharing;
    for (std::uint32_t c = 0; c < buffer.format().channelCount; ++c) {
        int first = -1;
        for (std::uint32_t d = 0; buffer.channelData(c) && first < 0; ++d) {
            if (buffer.channelData(d) == buffer.channelData(c)) first = static_cast<int>(d);
        }
        sharing.push_back(first);
    }
    return sharing;
}

// Adds `buffer`'s channel `channel` into `into` from frame `at` on, as far as `into` reaches.
inline void mixAt(std::vector<float>& into, const cadenzo::PcmBuffer& buffer, std::uint32_t channel, std::size_t at) {
    for (std::uint32_t i = 0; i < buffer.frameLength() && at + i < into.size(); ++i) {
        into[at + i] += buffer.sample(channel, i);
    }
}
