#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/DeviceLayer.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

namespace cadenzo::CoreAudioDevices {

namespace {
constexpr const char* domain = "CoreAudioDevices";
constexpr double twoPiTimes440 = 2764.601535159018;
constexpr std::uint32_t fadeFrames = 500;
} // namespace

std::vector<Device> outputDevices() {
    std::vector<Device> devices;
    for (const auto& device : DeviceLayer::shared().devices()) {
        devices.push_back({device.id, device.uid, device.name, device.channelCount});
    }
    return devices;
}

std::optional<std::uint32_t> defaultOutputDeviceID() {
    for (const auto& device : DeviceLayer::shared().devices()) {
        if (device.isDefault) return device.id;
    }
    return std::nullopt;
}

std::shared_ptr<PcmBuffer> makeTestToneBuffer(const AudioFormat& format, std::int64_t channel) {
    auto buffer = PcmBuffer::make(format, testToneFrames);
    if (!buffer) return nullptr;
    buffer->setFrameLength(testToneFrames);
    if (channel < 0 || channel >= static_cast<std::int64_t>(format.channelCount)) return buffer;
    float* samples = buffer->writableChannel(static_cast<std::uint32_t>(channel));
    if (!samples) return nullptr;
    for (std::uint32_t i = 0; i < testToneFrames; ++i) {
        const float rising = static_cast<float>(i) / static_cast<float>(fadeFrames);
        const float falling = static_cast<float>(testToneFrames - i) / static_cast<float>(fadeFrames);
        const float envelope = std::min(std::min(rising, falling), 1.0f);
        const auto s = static_cast<float>(std::sin(static_cast<double>(i) * twoPiTimes440 / 48000.0));
        samples[i] = s * 0.25f * envelope;
    }
    return buffer;
}

void playTestTone(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                  std::int64_t requestedChannelCount) {
    playTestTone(deviceId, deviceChannelCount, channel, requestedChannelCount, [](double seconds) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    });
}

void playTestTone(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                  std::int64_t requestedChannelCount, const std::function<void(double seconds)>& wait) {
    AudioEngine engine;
    if (!engine.outputUnitAvailable()) throw Error(domain, 1, "No underlying AudioUnit");
    if (const int status = engine.selectDevice(deviceId); status != 0) {
        throw Error(domain, 2, "setSinkId equivalent failed: " + std::to_string(status));
    }
    const std::int64_t channelCount = std::min(deviceChannelCount, requestedChannelCount);
    if (!discreteInOrderLayoutTag(channelCount)) {
        throw Error(domain, 3, "Could not build " + std::to_string(channelCount) + "-channel layout");
    }
    const AudioFormat format{48000.0, static_cast<std::uint32_t>(channelCount)};

    auto player = std::make_shared<AudioPlayerNode>();
    engine.attach(player);
    engine.setFormat(format);
    engine.start();

    auto buffer = makeTestToneBuffer(format, channel);
    if (!buffer) throw Error(domain, 4, "Could not allocate buffer");  // the engine stops as it goes
    player->scheduleBuffer(std::move(buffer));
    player->play();
    wait(testToneWaitSeconds);
    engine.stop();
}

} // namespace cadenzo::CoreAudioDevices
