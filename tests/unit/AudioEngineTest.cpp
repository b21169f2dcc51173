#include "AllocationCounter.hpp"
#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/audio/AudioEngine.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <thread>
#include <tuple>

using namespace cadenzo;

namespace {

PcmBufferPtr constantBuffer(std::uint32_t channels, std::uint32_t channel, std::uint32_t frames, float value) {
    return rampBuffer(channels, channel, frames, value, 0.0f);
}

std::vector<float> from(const std::vector<float>& samples, std::size_t frame) {
    return {samples.begin() + static_cast<long>(frame), samples.end()};
}

class Engine : public VirtualDevices {
protected:
    // An engine of `channels` with one node, on device `name` (made with as
    // many channels unless it exists), running unless told otherwise.
    AudioPlayerNodePtr startEngine(AudioEngine& engine, const std::string& name, std::uint32_t channels,
                                   bool start = true) {
        const auto devices = backend->devices();
        if (std::none_of(devices.begin(), devices.end(), [&](const auto& d) { return d.name == name; }))
            backend->addDevice(name, channels);
        EXPECT_EQ(engine.selectDevice(idOf(name)), AudioEngine::statusOk);
        engine.setFormat({48000, channels});
        auto node = std::make_shared<AudioPlayerNode>();
        engine.attach(node);
        if (start) engine.start();
        return node;
    }
};

} // namespace

TEST_F(Engine, ANodePlaysEachBufferAtItsSampleTimeOnItsChannelsAndOverlapsMix) {
    AudioEngine engine;
    auto node = startEngine(engine, "A", 3);
    auto finished = rampBuffer(3, 1, 10, 1.0f);
    node->scheduleBuffer(finished, 100);
    node->scheduleBuffer(rampBuffer(3, 1, 10, 100.0f), 250);  // across the first block boundary
    node->scheduleBuffer(rampBuffer(3, 0, 300, 1.0f), 0);
    node->scheduleBuffer(constantBuffer(3, 0, 200, 0.5f), 200);
    node->scheduleBuffer(constantBuffer(3, 2, 10, 1.0f));  // as soon as possible: at 0, then after it
    node->scheduleBuffer(constantBuffer(3, 2, 10, 2.0f));
    node->scheduleBuffer(constantBuffer(3, 2, 10, 5.0f), 1000);
    node->play();
    ASSERT_TRUE(backend->render("A", 512));
    std::vector<std::vector<float>> expected(3, std::vector<float>(512, 0.0f));
    for (std::size_t i = 0; i < 10; ++i) expected[1][100 + i] = 1 + i, expected[1][250 + i] = 100 + i;
    for (std::size_t i = 0; i < 300; ++i) expected[0][i] += 1 + i;
    for (std::size_t i = 200; i < 400; ++i) expected[0][i] += 0.5f;
    for (std::size_t i = 0; i < 20; ++i) expected[2][i] = i < 10 ? 1.0f : 2.0f;
    EXPECT_EQ(backend->recording("A"), expected);
    EXPECT_EQ(finished.use_count(), 2);  // finished buffers go back on the next control call, not in the callback

    auto pending = constantBuffer(3, 1, 4096, 0.25f);
    node->scheduleBuffer(pending, 512);
    EXPECT_EQ(finished.use_count(), 1);
    node->scheduleBuffer(constantBuffer(3, 2, 10, 3.0f));  // the queue ended at 20; the node is at 512
    node->play();                                          // already playing: the timeline goes on
    backend->render("A", 512);
    node->scheduleBuffer(rampBuffer(3, 2, 10, 1.0f), 1020);  // at 1024 already: only the rest sounds
    node->setVolume(0.5f);                                   // from the next block
    backend->render("A", 256);
    node->stop();  // forgets the buffers and restarts the timeline
    EXPECT_FALSE(node->isPlaying());
    backend->render("A", 256);
    node->scheduleBuffer(rampBuffer(3, 0, 10, 1.0f), 5);
    EXPECT_EQ(pending.use_count(), 1);
    node->play();
    EXPECT_TRUE(node->isPlaying());
    backend->render("A", 768);

    const auto recorded = backend->recording("A");
    for (const auto& [channel, frame, value] :
         {std::tuple{2, 512, 3.0f}, {2, 521, 3.0f}, {2, 522, 0.0f}, {2, 999, 0.0f}, {2, 1000, 5.0f}, {2, 1009, 5.0f},
          {2, 1010, 0.0f}, {2, 1023, 0.0f}, {2, 1024, 2.5f}, {2, 1029, 5.0f}, {2, 1030, 0.0f}, {1, 512, 0.25f},
          {1, 1023, 0.25f}, {1, 1024, 0.125f}, {1, 1279, 0.125f}, {0, 1541, 0.5f}, {0, 1550, 5.0f}})
        EXPECT_EQ(recorded[channel].at(frame), value) << "channel " << channel << ", frame " << frame;
    EXPECT_EQ(firstSound(from(recorded[0], 1280)), 256 + 5);
    EXPECT_TRUE(silent(from(recorded[0], 1551)) && silent(from(recorded[1], 1280)) && silent(from(recorded[2], 1280)));
    node->scheduleBuffer(pending, 100000);
    engine.stop();
    EXPECT_EQ(pending.use_count(), 1);
}

TEST_F(Engine, NodesStartedInOneGroupNestedOrNotBeginOnTheSameSample) {
    AudioEngine engine;
    std::vector<AudioPlayerNodePtr> nodes{startEngine(engine, "A", 6, false)};
    for (std::uint32_t c = 0; c < 6; ++c) {
        if (c > 0) engine.attach(nodes.emplace_back(std::make_shared<AudioPlayerNode>()));
        nodes[c]->scheduleBuffer(constantBuffer(6, c, 8, 1.0f), c == 0 ? 3 : 0);
    }
    nodes[0]->play();  // before the engine starts: it begins with the engine's first block
    engine.start();
    backend->render("A", 100);
    nodes[1]->play();  // without a group, a block that ends between two starts separates them
    backend->render("A", 50);
    nodes[2]->play();
    backend->render("A", 50);
    {
        AudioEngine::StartGroup group(engine);
        nodes[3]->play();
        {
            AudioEngine::StartGroup inner(engine);
            nodes[4]->play();
        }
        backend->render("A", 50);  // a whole block passes while the outer group holds
        nodes[5]->play();
    }
    backend->render("A", 100);
    std::vector<long> starts;
    for (const auto& channel : backend->recording("A")) starts.push_back(firstSound(channel));
    EXPECT_EQ(starts, (std::vector<long>{3, 100, 150, 250, 250, 250}));
}

TEST_F(Engine, EnginesOnOneDeviceShareItsStreamAndEachWritesOnlyItsFirstChannels) {
    backend->addDevice("A", 3);
    AudioEngine narrow, wide;
    auto narrowNode = startEngine(narrow, "A", 2);
    auto wideNode = startEngine(wide, "A", 4);
    EXPECT_EQ(backend->streamsOpened("A"), 1);
    auto threeChannels = PcmBuffer::make({48000, 3}, 64);  // the third is beyond the narrow engine
    threeChannels->setFrameLength(64);
    for (std::uint32_t c = 0; c < 3; ++c) std::fill_n(threeChannels->writableChannel(c), 64, 1 << c);
    narrowNode->scheduleBuffer(threeChannels, 0);
    wideNode->scheduleBuffer(constantBuffer(4, 0, 64, 0.25f), 0);
    wideNode->scheduleBuffer(constantBuffer(4, 3, 64, 7.0f), 0);  // beyond the device
    narrowNode->play();
    wideNode->play();
    backend->render("A", 32);
    narrow.stop();
    EXPECT_FALSE(narrowNode->isPlaying());
    EXPECT_TRUE(backend->render("A", 32));  // the stream stays for the wide engine

    const auto recorded = backend->recording("A");
    EXPECT_EQ(std::vector({recorded[0][0], recorded[0][32], recorded[1][31], recorded[1][32]}),
              std::vector({1.25f, 0.25f, 2.0f, 0.0f}));
    EXPECT_TRUE(silent(recorded[2]));
    // The last engine to leave closes the stream; a new start opens another.
    wide.stop();
    EXPECT_FALSE(DeviceLayer::shared().hasOpenStream(VirtualDeviceBackend::uidFor("A")));
    EXPECT_FALSE(backend->render("A", 32));
    narrow.start();
    EXPECT_EQ(backend->streamsOpened("A"), 2);
}

TEST_F(Engine, DevicesAreChosenByIdsThatStayFixedForAUidOrElseTheDefaultPlays) {
    backend->addDevice("A", 2);
    backend->addDevice("B", 1);
    backend->setDefaultDevice("B");
    const auto before = DeviceLayer::shared().devices();
    AudioEngine engine;
    engine.start();
    EXPECT_TRUE(backend->isStreamOpen("B") && !backend->isStreamOpen("A"));
    engine.stop();

    for (std::uint32_t unknown : {0u, 4000000000u})
        EXPECT_EQ(engine.selectDevice(unknown), AudioEngine::statusUnknownDevice) << unknown;
    EXPECT_FALSE(engine.selectedDevice());
    EXPECT_EQ(engine.selectDevice(idOf("A")), AudioEngine::statusOk);
    EXPECT_EQ(engine.selectedDevice(), idOf("A"));
    backend->removeDevice("A");
    EXPECT_EQ(AudioEngine().selectDevice(idOf("A")), AudioEngine::statusDeviceNotPresent);
    EXPECT_EQ(errorText([&] { engine.start(); }), "AudioEngine 4: Could not open output device virtual:A: no such device");
    EXPECT_FALSE(DeviceLayer::shared().hasOpenStream(VirtualDeviceBackend::uidFor("A")));

    backend->addDevice("C", 2);
    backend->addDevice("A", 2);
    std::map<std::string, std::uint32_t> ids;
    for (const auto& device : DeviceLayer::shared().devices()) ids[device.uid] = device.id;
    EXPECT_EQ(std::vector({ids["virtual:A"], ids["virtual:B"]}), std::vector({before[0].id, before[1].id}));
    EXPECT_EQ(std::set({ids["virtual:A"], ids["virtual:B"], ids["virtual:C"]}).size(), 3u);
    EXPECT_EQ(DeviceLayer::shared().uidForId(before[1].id), "virtual:B");
}

TEST_F(Engine, ADeviceThatVanishesWhilePlayingIsLeftCleanlyAndCanComeBack) {
    AudioEngine first, second;
    auto node = startEngine(first, "A", 1);
    node->scheduleBuffer(constantBuffer(1, 0, 100000, 1.0f), 0);
    node->play();
    backend->render("A", 64);
    backend->removeDevice("A");
    EXPECT_FALSE(backend->render("A", 64));
    backend->addDevice("A", 1);
    auto other = startEngine(second, "A", 1);  // a fresh stream, not the dead one
    EXPECT_EQ(backend->streamsOpened("A"), 2);
    first.stop();  // closes only the dead stream
    other->scheduleBuffer(constantBuffer(1, 0, 4, 3.0f), 0);
    other->play();
    backend->clearRecording("A");
    EXPECT_TRUE(backend->render("A", 8));
    EXPECT_EQ(backend->recording("A")[0][0], 3.0f);
}

TEST_F(Engine, StartFailuresAreErrorsAndLeaveNothingRunning) {
    AudioEngine engine;
    const auto start = [&] { return errorText([&] { engine.start(); }); };
    EXPECT_EQ(start(), "AudioEngine 2: No output device is available");
    backend->addDevice("A", 2);
    engine.setFormat({48000, 0});
    EXPECT_EQ(start(), "AudioEngine 3: Unsupported output format: 0 channel(s) at 48000 Hz");
    engine.setFormat({44100, 2});
    EXPECT_EQ(start(), "AudioEngine 3: Unsupported output format: 2 channel(s) at 44100 Hz");
    EXPECT_FALSE(engine.isRunning() || backend->isStreamOpen("A"));
    setDeviceBackendForTesting(nullptr);
    EXPECT_FALSE(engine.outputUnitAvailable());
    EXPECT_EQ(engine.selectDevice(1), AudioEngine::statusNoDeviceLayer);
    engine.setFormat({48000, 2});
    EXPECT_EQ(start(), "AudioEngine 1: No audio device layer is available");
}

TEST_F(Engine, ADeviceAtAnotherRateKeepsLevelAndTimingToTheSample) {
    backend->addDevice("R", 2, 44100.0);
    AudioEngine engine;
    auto node = startEngine(engine, "R", 2);
    auto tone = PcmBuffer::make({48000, 2}, 96000);
    tone->setFrameLength(96000);
    float* sine = tone->writableChannel(0);
    for (int i = 0; i < 96000; ++i) sine[i] = static_cast<float>(0.25 * std::sin(2 * M_PI * 440.0 * i / 48000.0));
    float* ticks = tone->writableChannel(1);
    ticks[4800] = ticks[4800 + 48000] = 1.0f;  // a second apart
    node->scheduleBuffer(tone, 0);
    node->play();
    backend->render("R", 2 * 44100);

    const auto recorded = backend->recording("R");
    EXPECT_NEAR(peak({recorded[0].begin() + 4410, recorded[0].begin() + 80000}), 0.25f, 0.0025f);
    // 4800 and 52800 at 48 kHz are exactly 4410 and 48510 at 44.1 kHz: no sample of delay.
    for (long tick : {4410, 48510}) {
        const auto around = recorded[1].begin() + tick;
        const auto loudest =
            std::max_element(around - 200, around + 200, [](float a, float b) { return std::abs(a) < std::abs(b); });
        EXPECT_EQ(loudest - recorded[1].begin(), tick);
    }
}

TEST_F(Engine, RenderingNeverTouchesTheHeap) {
    backend->addDevice("R", 2, 44100.0);
    AudioEngine first, second;
    auto click = startEngine(first, "A", 8);
    auto far = startEngine(second, "R", 2);
    auto clickSound = constantBuffer(8, 4, 100, 0.5f);
    for (int i = 0; i < 200; ++i) click->scheduleBuffer(clickSound, i * 300);  // many start and finish
    click->scheduleBuffer(constantBuffer(8, 6, 5000, 0.25f));
    click->scheduleBuffer(constantBuffer(8, 6, 5000, 0.5f));
    far->scheduleBuffer(constantBuffer(2, 0, 30000, 0.3f), 0);
    {
        AudioEngine::StartGroup group(first);
        click->play();
        far->play();
    }
    backend->reserveRecording("A", 1 << 16);
    backend->reserveRecording("R", 1 << 16);
    {
        allocation_counter::Armed armed;
        for (int block = 0; block < 100; ++block) {
            click->setVolume(block % 2 ? 1.0f : 0.0f);
            backend->render("A", 256);
            backend->render("R", 256);
        }
    }
    EXPECT_EQ(allocation_counter::allocations() + allocation_counter::frees(), 0u);
    // The rendering above really did play and finish buffers.
    const auto recorded = backend->recording("A");
    EXPECT_EQ(std::vector({recorded[4][300 * 80], recorded[6][5000]}), std::vector({0.5f, 0.5f}));
    EXPECT_NE(backend->recording("R")[0][1000], 0.0f);
    {
        allocation_counter::Armed armed;
        EXPECT_EQ(*std::make_unique<int>(1), 1);
    }
    EXPECT_EQ(allocation_counter::allocations(), 1u);
    EXPECT_EQ(allocation_counter::frees(), 1u);
}

TEST_F(Engine, ADeviceThreadPlaysTheEngineWhileTheCallerWaits) {
    setDeviceBackendForTesting(backend = std::make_shared<VirtualDeviceBackend>(VirtualDeviceBackend::Mode::realTime));
    AudioEngine engine;
    auto node = startEngine(engine, "T", 2, false);
    node->scheduleBuffer(rampBuffer(2, 1, 2400, 1.0f), 0);
    node->play();
    engine.start();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (backend->recordedFrames("T") < 9600 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    engine.stop();
    EXPECT_FALSE(backend->isStreamOpen("T"));
    // The device thread may play a few silent blocks before the engine joins
    // its stream; the node's timeline starts on a block boundary after that.
    const auto recorded = backend->recording("T");
    const long start = firstSound(recorded[1]);
    ASSERT_TRUE(start >= 0 && start % 256 == 0 && start + 2401 <= static_cast<long>(recorded[1].size())) << start;
    for (long f = 0; f <= 2400; ++f) ASSERT_EQ(recorded[1][start + f], f < 2400 ? f + 1.0f : 0.0f) << f;
    EXPECT_TRUE(silent(recorded[0]));
}
