#pragma once

#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"
#include "CadenzoPlayer/audio/VirtualDeviceBackend.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

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

    std::shared_ptr<cadenzo::VirtualDeviceBackend> backend;
    std::shared_ptr<cadenzo::DeviceBackend> previous;
};

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
