// The cost of rendering one audio block, of listing devices and of opening a
// JACK stream (the last two with a JACK server running, as bench/run does).
//
// ns_per_frame is the render time per device frame; core_percent is the share
// of one core that rendering in real time at the device's rate takes.

#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"
#include "CadenzoPlayer/audio/VirtualDeviceBackend.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

using namespace cadenzo;

namespace {

constexpr std::uint32_t blockFrames = 256;
constexpr std::uint32_t channelCount = 16;
constexpr int blocks = 20000;  // about 107 s of audio, all of it scheduled

// A device whose callback the benchmark calls itself, with nothing recorded.
class CapturingBackend final : public DeviceBackend {
public:
    explicit CapturingBackend(double rate) : rate_(rate) {}

    std::vector<BackendDevice> devices() override { return {{"bench:out", "out", channelCount, true}}; }
    bool ownsUid(const std::string&) const override { return true; }
    std::unique_ptr<DeviceStream> openStream(const std::string&, double, DeviceRenderCallback& callback) override {
        callback_ = &callback;
        return std::make_unique<Stream>(rate_);
    }

    void renderBlock(float* const* channels) {
        callback_->renderDevice(channels, channelCount, blockFrames, clock_);
        clock_ += blockFrames;
    }

private:
    struct Stream final : DeviceStream {
        explicit Stream(double rate) : rate(rate) {}
        double sampleRate() const override { return rate; }
        std::uint32_t channelCount() const override { return ::channelCount; }
        void start() override {}
        bool hasFailed() const override { return false; }
        double rate;
    };

    double rate_;
    std::int64_t clock_ = 0;
    DeviceRenderCallback* callback_ = nullptr;
};

PcmBufferPtr soundOn(std::vector<std::int64_t> channels, std::uint32_t frames, double frequency) {
    auto buffer = PcmBuffer::make({48000, channelCount}, frames);
    buffer->setFrameLength(frames);
    float* samples = buffer->writableSharedChannels(channels);
    for (std::uint32_t i = 0; i < frames; ++i) samples[i] = static_cast<float>(0.2 * std::sin(frequency * i / 48000.0));
    return buffer;
}

// Click, guide and pad nodes of a song: a click every half second on two
// channels, a one-second cue every four seconds, and a pad throughout.
void renderSong(benchmark::State& state, double deviceRate) {
    auto backend = std::make_shared<CapturingBackend>(deviceRate);
    auto previous = setDeviceBackendForTesting(backend);
    {
        AudioEngine engine;
        engine.setFormat({48000, channelCount});
        auto click = std::make_shared<AudioPlayerNode>();
        auto guide = std::make_shared<AudioPlayerNode>();
        auto pad = std::make_shared<AudioPlayerNode>();
        engine.attach(click);
        engine.attach(guide);
        engine.attach(pad);
        engine.start();
        const std::int64_t total = static_cast<std::int64_t>(blocks + 10) * blockFrames;
        const auto clickSound = soundOn({4, 5}, 1200, 6000);
        const auto cue = soundOn({6}, 48000, 1500);
        for (std::int64_t at = 0; at < total; at += 24000) click->scheduleBuffer(clickSound, at);
        for (std::int64_t at = 0; at < total; at += 192000) guide->scheduleBuffer(cue, at);
        pad->scheduleBuffer(soundOn({0, 1}, static_cast<std::uint32_t>(total), 800), 0);
        {
            AudioEngine::StartGroup group(engine);
            click->play();
            guide->play();
            pad->play();
        }

        std::vector<std::vector<float>> device(channelCount, std::vector<float>(blockFrames));
        std::vector<float*> pointers;
        for (auto& channel : device) pointers.push_back(channel.data());
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            backend->renderBlock(pointers.data());
            benchmark::DoNotOptimize(device[4][0]);
        }
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        const double frames = static_cast<double>(state.iterations()) * blockFrames;
        state.counters["ns_per_frame"] = spent.count() * 1e9 / frames;
        state.counters["core_percent"] = 100.0 * spent.count() / (frames / deviceRate);
        engine.stop();
    }
    setDeviceBackendForTesting(previous);
}

void BM_RenderBlock_3Nodes16Channels(benchmark::State& state) { renderSong(state, 48000.0); }
BENCHMARK(BM_RenderBlock_3Nodes16Channels)->Iterations(blocks);

void BM_RenderBlock_3Nodes16Channels_DeviceAt44100(benchmark::State& state) { renderSong(state, 44100.0); }
BENCHMARK(BM_RenderBlock_3Nodes16Channels_DeviceAt44100)->Iterations(blocks);

void BM_EnumerateDevices_Virtual(benchmark::State& state) {
    auto backend = std::make_shared<VirtualDeviceBackend>();
    for (const char* name : {"Interface", "Phones", "Monitors", "Recorder"}) backend->addDevice(name, 8);
    auto previous = setDeviceBackendForTesting(backend);
    for (auto _ : state) benchmark::DoNotOptimize(DeviceLayer::shared().devices());
    setDeviceBackendForTesting(previous);
}
BENCHMARK(BM_EnumerateDevices_Virtual);

// Whatever JACK, ALSA and PulseAudio offer on this machine.
void BM_EnumerateDevices_System(benchmark::State& state) {
    auto previous = setDeviceBackendForTesting(DeviceLayer::makeSystemBackend());
    std::size_t count = 0;
    for (auto _ : state) count = DeviceLayer::shared().devices().size();
    state.counters["devices"] = static_cast<double>(count);
    setDeviceBackendForTesting(previous);
}
BENCHMARK(BM_EnumerateDevices_System)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each system backend's part of that list, in wall time: most of it is spent waiting on servers and libraries.
void enumerateWith(benchmark::State& state, DeviceBackend& backend) {
    std::size_t count = 0;
    for (auto _ : state) count = backend.devices().size();
    state.counters["devices"] = static_cast<double>(count);
}
void BM_EnumerateDevices_Jack(benchmark::State& state) {
    JackDeviceBackend jack;
    enumerateWith(state, jack);
}
BENCHMARK(BM_EnumerateDevices_Jack)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_EnumerateDevices_Alsa(benchmark::State& state) {
    RtAudioDeviceBackend alsa(RtAudioDeviceBackend::Api::alsa);
    enumerateWith(state, alsa);
}
BENCHMARK(BM_EnumerateDevices_Alsa)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_EnumerateDevices_Pulse(benchmark::State& state) {
    RtAudioDeviceBackend pulse(RtAudioDeviceBackend::Api::pulse);
    enumerateWith(state, pulse);
}
BENCHMARK(BM_EnumerateDevices_Pulse)->Unit(benchmark::kMillisecond)->UseRealTime();

class SilentCallback final : public DeviceRenderCallback {
public:
    void renderDevice(float* const* channels, std::uint32_t channelCount, std::uint32_t frames,
                      std::int64_t) noexcept override {
        for (std::uint32_t c = 0; c < channelCount; ++c) std::fill_n(channels[c], frames, 0.0f);
    }
};

// Opening and starting a stream on the JACK server's "system" device, as a song's start does; closing it is
// left out of the time.
void BM_OpenJackStream(benchmark::State& state) {
    JackDeviceBackend jack;
    const auto devices = jack.devices();
    if (std::none_of(devices.begin(), devices.end(), [](const auto& d) { return d.uid == "jack:system"; })) {
        state.SkipWithError("no JACK server with a system device");
        return;
    }
    SilentCallback silence;
    for (auto _ : state) {
        auto stream = jack.openStream("jack:system", 48000.0, silence);
        stream->start();
        state.PauseTiming();
        stream.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenJackStream)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
