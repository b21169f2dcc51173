#include "CadenzoPlayer/playback/CoreAudioDevices.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/dispatch/DelayedTask.hpp"
#include "CadenzoPlayer/playback/EngineStart.hpp"
#include "CadenzoPlayer/playback/PipeWire.hpp"
#include "CadenzoPlayer/playback/PlayWait.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <string>
#include <thread>

namespace cadenzo::CoreAudioDevices {

namespace {
constexpr const char* domain = "CoreAudioDevices";
constexpr double toneHertz = 440.0;
constexpr std::uint32_t fadeFrames = 500;
} // namespace

std::vector<Device> outputDevices() {
    auto devices = DeviceLayer::shared().devices();
    addProAudioHints(devices);
    return devices;
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
        const auto s = static_cast<float>(std::sin(static_cast<double>(i) * (2.0 * std::numbers::pi * toneHertz) / format.sampleRate));
        samples[i] = s * 0.25f * envelope;
    }
    return buffer;
}

void playTestTone(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                  std::int64_t requestedChannelCount) {
    playTestTone(deviceId, deviceChannelCount, channel, requestedChannelCount, sleepSeconds);
}

void playTestTone(std::uint32_t deviceId, std::int64_t deviceChannelCount, std::int64_t channel,
                  std::int64_t requestedChannelCount, const std::function<void(double seconds)>& wait) {
    AudioEngine engine;
    auto player = std::make_shared<AudioPlayerNode>();
    const AudioFormat format = startEngine(engine, deviceId, deviceChannelCount, requestedChannelCount, {player},
                                           {domain, "setSinkId equivalent failed: ", "Could not build "});

    auto buffer = makeTestToneBuffer(format, channel);
    if (!buffer) throw Error(domain, TestToneError::noBuffer, "Could not allocate buffer");  // the engine stops as it goes
    player->scheduleBuffer(std::move(buffer));
    player->play();
    waitUntilPlayed([&] { return engineProgress(engine, *player); }, testToneWaitSeconds, wait, domain,
                    static_cast<int>(TestToneError::deviceLost));
    engine.stop();
}

} // namespace cadenzo::CoreAudioDevices
