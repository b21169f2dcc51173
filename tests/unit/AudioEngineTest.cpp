#include "AllocationCounter.hpp"
#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/AudioEngine.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <thread>

using namespace cadenzo;

namespace {

PcmBufferPtr constantBuffer(std::uint32_t channels, std::uint32_t channel, std::uint32_t frames, float value) {
    return rampBuffer(channels, channel, frames, value, 0.0f);
}

// Each listed frame of `samples` holds exactly its value.
void expectSamples(const std::vector<float>& samples, std::initializer_list<std::pair<std::size_t, float>> expected) {
    for (const auto& [frame, value] : expected) EXPECT_EQ(samples.at(frame), value) << "frame " << frame;
}

class Engine : public VirtualDevices {
protected:
    static void prepare(AudioEngine& engine, const std::string& name, std::uint32_t channels) {
        EXPECT_EQ(engine.selectDevice(idOf(name)), AudioEngine::statusOk);
        engine.setFormat({48000, channels});
    }
    // A running engine with one node on device `name`.
    static AudioPlayerNodePtr startEngine(AudioEngine& engine, const std::string& name, std::uint32_t channels) {
        prepare(engine, name, channels);
        auto node = std::make_shared<AudioPlayerNode>();
        engine.attach(node);
        engine.start();
        return node;
    }
};

} // namespace

TEST_F(Engine, ScheduledBuffersSoundAtTheirSampleTimesOnTheirChannelsAndOverlapsMix) {
    backend->addDevice("A", 3);
    AudioEngine engine;
    auto node = startEngine(engine, "A", 3);
    node->scheduleBuffer(rampBuffer(3, 1, 10, 1.0f), 100);
    node->scheduleBuffer(rampBuffer(3, 1, 10, 100.0f), 250);  // across the first block boundary
    node->scheduleBuffer(rampBuffer(3, 0, 300, 1.0f), 0);
    node->scheduleBuffer(constantBuffer(3, 0, 200, 0.5f), 200);
    node->play();
    ASSERT_TRUE(backend->render("A", 512));

    std::vector<std::vector<float>> expected(3, std::vector<float>(512, 0.0f));
    for (std::size_t i = 0; i < 10; ++i) {
        expected[1][100 + i] = static_cast<float>(1 + i);
        expected[1][250 + i] = static_cast<float>(100 + i);
    }
    for (std::size_t i = 0; i < 300; ++i) expected[0][i] += static_cast<float>(1 + i);
    for (std::size_t i = 200; i < 400; ++i) expected[0][i] += 0.5f;
    EXPECT_EQ(backend->recording("A"), expected);
}

TEST_F(Engine, AsSoonAsPossibleFollowsTheQueueOrTheCurrentPosition) {
    backend->addDevice("A", 1);
    AudioEngine engine;
    auto node = startEngine(engine, "A", 1);
    node->scheduleBuffer(constantBuffer(1, 0, 10, 1.0f));
    node->scheduleBuffer(constantBuffer(1, 0, 10, 2.0f));
    node->play();
    backend->render("A", 512);
    // The queue ended at 20; the node is now at 512.
    node->scheduleBuffer(constantBuffer(1, 0, 10, 3.0f));
    backend->render("A", 512);
    // Scheduled for 1020 when the node is already at 1024: only the rest sounds.
    node->scheduleBuffer(rampBuffer(1, 0, 10, 1.0f), 1020);
    backend->render("A", 256);

    expectSamples(backend->recording("A")[0], {{0, 1.0f}, {9, 1.0f}, {10, 2.0f}, {19, 2.0f}, {20, 0.0f},
                                               {511, 0.0f}, {512, 3.0f}, {521, 3.0f}, {522, 0.0f},
                                               {1023, 0.0f}, {1024, 5.0f}, {1029, 10.0f}, {1030, 0.0f}});
}

TEST_F(Engine, VolumeScalesFromTheNextBlock) {
    backend->addDevice("A", 1);
    AudioEngine engine;
    auto node = startEngine(engine, "A", 1);
    node->scheduleBuffer(constantBuffer(1, 0, 1024, 1.0f), 0);
    node->play();
    for (float volume : {0.5f, 0.25f, 0.0f}) {
        node->setVolume(volume);
        backend->render("A", 256);
    }
    expectSamples(backend->recording("A")[0], {{0, 0.5f}, {255, 0.5f}, {256, 0.25f}, {511, 0.25f}, {512, 0.0f}});
}

TEST_F(Engine, NodesStartedTogetherBeginOnTheSameSample) {
    backend->addDevice("A", 5);
    AudioEngine engine;
    prepare(engine, "A", 5);
    std::vector<AudioPlayerNodePtr> nodes;
    for (std::uint32_t c = 0; c < 5; ++c) {
        nodes.push_back(std::make_shared<AudioPlayerNode>());
        engine.attach(nodes.back());
        nodes.back()->scheduleBuffer(constantBuffer(5, c, 8, 1.0f), c == 4 ? 3 : 0);
    }
    nodes[4]->play();  // before the engine starts: it begins with the engine's first block
    engine.start();
    backend->render("A", 100);

    // Without a group, a block that ends between two starts separates them.
    nodes[0]->play();
    backend->render("A", 50);
    nodes[1]->play();
    backend->render("A", 50);
    {
        AudioEngine::StartGroup group(engine);
        nodes[2]->play();
        backend->render("A", 50);  // a whole block passes while the group holds
        nodes[3]->play();
    }
    backend->render("A", 100);

    const auto recorded = backend->recording("A");
    std::vector<long> starts;
    for (const auto& channel : recorded) starts.push_back(firstSound(channel));
    EXPECT_EQ(starts, (std::vector<long>{100, 150, 250, 250, 3}));
}

TEST_F(Engine, EnginesOnOneDeviceShareItsStreamAndMixOntoItsFirstChannels) {
    backend->addDevice("A", 3);
    AudioEngine narrow, wide;
    auto narrowNode = startEngine(narrow, "A", 2);
    auto wideNode = startEngine(wide, "A", 4);
    EXPECT_EQ(backend->streamsOpened("A"), 1);

    auto twoChannels = PcmBuffer::make({48000, 2}, 64);  // one buffer carrying two signals
    twoChannels->setFrameLength(64);
    std::fill_n(twoChannels->writableChannel(0), 64, 1.0f);
    std::fill_n(twoChannels->writableChannel(1), 64, 2.0f);
    narrowNode->scheduleBuffer(twoChannels, 0);
    wideNode->scheduleBuffer(constantBuffer(4, 0, 64, 0.25f), 0);
    wideNode->scheduleBuffer(constantBuffer(4, 3, 64, 7.0f), 0);  // beyond the device: dropped
    narrowNode->play();
    wideNode->play();
    backend->render("A", 32);

    narrow.stop();
    EXPECT_FALSE(narrowNode->isPlaying());
    EXPECT_TRUE(backend->isStreamOpen("A"));
    backend->render("A", 32);

    auto recorded = backend->recording("A");
    ASSERT_EQ(recorded.size(), 3u);
    expectSamples(recorded[0], {{0, 1.25f}, {32, 0.25f}});  // then only the wide engine is left
    expectSamples(recorded[1], {{31, 2.0f}, {32, 0.0f}});
    EXPECT_TRUE(silent(recorded[2]));

    // The last engine to leave closes the stream; a new start opens another.
    wide.stop();
    EXPECT_FALSE(backend->isStreamOpen("A"));
    EXPECT_FALSE(DeviceLayer::shared().hasOpenStream(VirtualDeviceBackend::uidFor("A")));
    EXPECT_FALSE(backend->render("A", 32));
    narrow.start();
    EXPECT_EQ(backend->streamsOpened("A"), 2);
    narrow.stop();
}

TEST_F(Engine, StoppingANodeForgetsItsBuffersAndRestartsItsTimeline) {
    backend->addDevice("A", 1);
    AudioEngine engine;
    auto node = startEngine(engine, "A", 1);
    node->scheduleBuffer(constantBuffer(1, 0, 4096, 1.0f), 0);
    node->scheduleBuffer(constantBuffer(1, 0, 10, 5.0f), 2000);
    node->play();
    EXPECT_TRUE(node->isPlaying());
    backend->render("A", 256);
    node->stop();
    EXPECT_FALSE(node->isPlaying());
    backend->render("A", 256);
    node->scheduleBuffer(rampBuffer(1, 0, 10, 1.0f), 5);
    node->play();
    backend->render("A", 2560);

    const auto samples = backend->recording("A")[0];
    EXPECT_EQ(samples[255], 1.0f);
    EXPECT_EQ(firstSound({samples.begin() + 256, samples.end()}), 256 + 5);
    expectSamples(samples, {{512 + 5, 1.0f}, {512 + 14, 10.0f}});
    EXPECT_TRUE(silent({samples.begin() + 512 + 15, samples.end()}));
}

TEST_F(Engine, BuffersAreReleasedOnceFinishedOrStopped) {
    backend->addDevice("A", 1);
    AudioEngine engine;
    auto node = startEngine(engine, "A", 1);
    auto shortBuffer = constantBuffer(1, 0, 10, 1.0f);
    auto longBuffer = constantBuffer(1, 0, 100000, 1.0f);
    node->scheduleBuffer(shortBuffer, 0);
    node->scheduleBuffer(longBuffer, 0);
    EXPECT_EQ(shortBuffer.use_count(), 2);
    node->play();
    backend->render("A", 256);
    // Finished buffers go back to the next control call, not on the audio thread.
    EXPECT_EQ(shortBuffer.use_count(), 2);
    node->setVolume(0.5f);
    node->scheduleBuffer(nullptr, 0);
    node->scheduleBuffer(constantBuffer(1, 0, 1, 1.0f), 100000);
    EXPECT_EQ(shortBuffer.use_count(), 1);
    EXPECT_EQ(longBuffer.use_count(), 2);
    engine.stop();
    EXPECT_EQ(longBuffer.use_count(), 1);
}

TEST_F(Engine, WithoutASelectionTheDefaultDevicePlays) {
    backend->addDevice("A", 1);
    backend->addDevice("B", 1);
    backend->setDefaultDevice("B");
    AudioEngine engine;
    engine.setFormat({48000, 1});
    engine.start();
    EXPECT_TRUE(backend->isStreamOpen("B"));
    EXPECT_FALSE(backend->isStreamOpen("A"));
}

TEST_F(Engine, DeviceSelectionReportsUnknownAndVanishedDevices) {
    backend->addDevice("A", 2);
    AudioEngine engine;
    EXPECT_EQ(engine.selectDevice(4000000000u), AudioEngine::statusUnknownDevice);
    EXPECT_EQ(engine.selectDevice(0), AudioEngine::statusUnknownDevice);
    EXPECT_FALSE(engine.selectedDevice());
    EXPECT_EQ(engine.selectDevice(idOf("A")), AudioEngine::statusOk);
    EXPECT_EQ(engine.selectedDevice(), idOf("A"));
    backend->removeDevice("A");
    EXPECT_EQ(AudioEngine().selectDevice(idOf("A")), AudioEngine::statusDeviceNotPresent);

    // The engine that selected it before it went fails to start, clearly.
    EXPECT_EQ(errorText([&] { engine.start(); }),
              "AudioEngine 4: Could not open output device virtual:A: no such device");
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(DeviceLayer::shared().hasOpenStream(VirtualDeviceBackend::uidFor("A")));
}

TEST_F(Engine, ADeviceThatVanishesWhilePlayingIsLeftCleanlyAndCanComeBack) {
    backend->addDevice("A", 1);
    AudioEngine first;
    auto node = startEngine(first, "A", 1);
    node->scheduleBuffer(constantBuffer(1, 0, 100000, 1.0f), 0);
    node->play();
    backend->render("A", 64);
    backend->removeDevice("A");
    EXPECT_FALSE(backend->render("A", 64));

    backend->addDevice("A", 1);
    AudioEngine second;
    auto other = startEngine(second, "A", 1);  // a fresh stream, not the dead one
    EXPECT_EQ(backend->streamsOpened("A"), 2);
    first.stop();  // closes only the dead stream
    EXPECT_TRUE(backend->isStreamOpen("A"));
    other->scheduleBuffer(constantBuffer(1, 0, 4, 3.0f), 0);
    other->play();
    backend->clearRecording("A");
    EXPECT_TRUE(backend->render("A", 8));
    EXPECT_EQ(backend->recording("A")[0][0], 3.0f);
}

TEST_F(Engine, StartFailuresAreErrorsAndLeaveNothingRunning) {
    AudioEngine engine;
    engine.setFormat({48000, 2});
    const auto start = [&] { engine.start(); };
    EXPECT_EQ(errorText(start), "AudioEngine 2: No output device is available");

    backend->addDevice("A", 2);
    engine.setFormat({48000, 0});
    EXPECT_EQ(errorText(start), "AudioEngine 3: Unsupported output format: 0 channel(s) at 48000 Hz");
    engine.setFormat({44100, 2});
    EXPECT_EQ(errorText(start), "AudioEngine 3: Unsupported output format: 2 channel(s) at 44100 Hz");
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(backend->isStreamOpen("A"));

    setDeviceBackendForTesting(nullptr);
    EXPECT_FALSE(engine.outputUnitAvailable());
    EXPECT_EQ(engine.selectDevice(1), AudioEngine::statusNoDeviceLayer);
    engine.setFormat({48000, 2});
    EXPECT_EQ(errorText(start), "AudioEngine 1: No audio device layer is available");
}

TEST_F(Engine, DeviceIdentifiersStayFixedForAUid) {
    backend->addDevice("A", 2);
    backend->addDevice("B", 2);
    const auto before = DeviceLayer::shared().devices();
    backend->removeDevice("A");
    backend->addDevice("C", 2);
    backend->addDevice("A", 2);
    const auto after = DeviceLayer::shared().devices();
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_NE(before[0].id, before[1].id);
    EXPECT_NE(before[0].id, 0u);
    std::map<std::string, std::uint32_t> ids;
    for (const auto& device : after) ids[device.uid] = device.id;
    EXPECT_EQ(ids["virtual:A"], before[0].id);
    EXPECT_EQ(ids["virtual:B"], before[1].id);
    EXPECT_NE(ids["virtual:C"], before[0].id);
    EXPECT_EQ(DeviceLayer::shared().uidForId(before[1].id), "virtual:B");
}

TEST_F(Engine, ADeviceAtAnotherRateKeepsLevelAndTiming) {
    backend->addDevice("R", 2, 44100.0);
    AudioEngine engine;
    auto node = startEngine(engine, "R", 2);
    auto tone = PcmBuffer::make({48000, 2}, 96000);
    tone->setFrameLength(96000);
    float* sine = tone->writableChannel(0);
    for (int i = 0; i < 96000; ++i) sine[i] = static_cast<float>(0.25 * std::sin(2 * M_PI * 440.0 * i / 48000.0));
    float* ticks = tone->writableChannel(1);
    ticks[4800] = 1.0f;
    ticks[4800 + 48000] = 1.0f;  // one second later
    node->scheduleBuffer(tone, 0);
    node->play();
    backend->render("R", 2 * 44100);

    // The resampler's own tests cover pitch; here both channels come through at level and on time.
    const auto recorded = backend->recording("R");
    EXPECT_NEAR(peak({recorded[0].begin() + 4410, recorded[0].begin() + 80000}), 0.25f, 0.0025f);
    // Timing: the two ticks stay one second apart at the device's rate.
    const auto& tickOut = recorded[1];
    const auto peakNear = [&](std::size_t around) {
        std::size_t best = around - 200;
        for (std::size_t i = around - 200; i < around + 200; ++i) {
            if (std::abs(tickOut[i]) > std::abs(tickOut[best])) best = i;
        }
        return best;
    };
    const std::size_t firstTick = peakNear(4410);
    EXPECT_NEAR(static_cast<double>(firstTick), 4410.0, 1.0);
    EXPECT_NEAR(static_cast<double>(peakNear(4410 + 44100) - firstTick), 44100.0, 1.0);
}

TEST_F(Engine, RenderingNeverTouchesTheHeap) {
    backend->addDevice("A", 8);
    backend->addDevice("R", 2, 44100.0);
    AudioEngine first, second, resampled;
    auto click = startEngine(first, "A", 8);
    auto guide = std::make_shared<AudioPlayerNode>();
    auto pad = std::make_shared<AudioPlayerNode>();
    first.attach(guide);
    first.attach(pad);
    auto other = startEngine(second, "A", 4);  // a second engine on the same stream
    auto far = startEngine(resampled, "R", 2);

    auto clickSound = constantBuffer(8, 4, 100, 0.5f);
    for (int i = 0; i < 200; ++i) click->scheduleBuffer(clickSound, i * 300);  // many start and finish
    guide->scheduleBuffer(constantBuffer(8, 6, 5000, 0.25f));
    guide->scheduleBuffer(constantBuffer(8, 6, 5000, 0.5f));
    pad->scheduleBuffer(constantBuffer(8, 0, 60000, 0.1f), 0);
    other->scheduleBuffer(constantBuffer(4, 1, 700, 1.0f), 1000);
    far->scheduleBuffer(constantBuffer(2, 0, 30000, 0.3f), 0);
    {
        AudioEngine::StartGroup group(first);
        click->play();
        guide->play();
        pad->play();
    }
    other->play();
    far->play();
    backend->reserveRecording("A", 1 << 16);
    backend->reserveRecording("R", 1 << 16);

    {
        allocation_counter::Armed armed;
        for (int block = 0; block < 100; ++block) {
            guide->setVolume(block % 2 ? 1.0f : 0.0f);
            backend->render("A", 256);
            backend->render("R", 256);
        }
    }
    EXPECT_EQ(allocation_counter::allocations(), 0u);
    EXPECT_EQ(allocation_counter::frees(), 0u);

    // The rendering above really did play and finish buffers.
    const auto recorded = backend->recording("A");
    expectSamples(recorded[4], {{0, 0.5f}, {300 * 80, 0.5f}});
    EXPECT_EQ(recorded[1][1000], 1.0f);
    EXPECT_NE(backend->recording("R")[0][1000], 0.0f);

    // And the counter does see allocations.
    {
        allocation_counter::Armed armed;
        auto probe = std::make_unique<int>(1);
        EXPECT_EQ(*probe, 1);
    }
    EXPECT_EQ(allocation_counter::allocations(), 1u);
    EXPECT_EQ(allocation_counter::frees(), 1u);
}

TEST_F(Engine, ADeviceThreadPlaysTheEngineWhileTheCallerWaits) {
    backend = std::make_shared<VirtualDeviceBackend>(VirtualDeviceBackend::Mode::realTime, 256);
    setDeviceBackendForTesting(backend);
    backend->addDevice("T", 2);
    {
        AudioEngine engine;
        engine.selectDevice(idOf("T"));
        engine.setFormat({48000, 2});
        auto node = std::make_shared<AudioPlayerNode>();
        engine.attach(node);
        node->scheduleBuffer(rampBuffer(2, 1, 2400, 1.0f), 0);
        node->play();
        engine.start();
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (backend->recordedFrames("T") < 9600 && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        engine.stop();
    }
    const auto recorded = backend->recording("T");
    ASSERT_GE(recorded[1].size(), 9600u);
    // The device thread may play a few silent blocks before the engine joins
    // its stream; the node's timeline starts on a block boundary after that.
    const long start = firstSound(recorded[1]);
    ASSERT_GE(start, 0);
    EXPECT_EQ(start % 256, 0);
    ASSERT_LE(static_cast<std::size_t>(start) + 2401, recorded[1].size());
    for (std::size_t f = 0; f < 2400; ++f) ASSERT_EQ(recorded[1][start + f], static_cast<float>(f + 1)) << f;
    EXPECT_EQ(recorded[1][start + 2400], 0.0f);
    EXPECT_TRUE(silent(recorded[0]));
    EXPECT_FALSE(backend->isStreamOpen("T"));
}
