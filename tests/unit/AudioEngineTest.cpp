#include "VirtualDeviceFixture.hpp"

#include "CadenzoPlayer/audio/AudioEngine.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <tuple>

using namespace cadenzo;

// Heap calls anywhere in the program are counted while watched. The C++
// library's other forms of new and delete forward to these; a sanitizer's
// runtime does not, so the nothrow forms, whose memory these deletes free,
// are replaced too.
namespace {
std::atomic<bool> heapWatched{false};
std::atomic<int> heapCalls{0};

void* counted(void* memory) {
    if (!memory) throw std::bad_alloc();
    if (heapWatched) ++heapCalls;
    return memory;
}

template <class Body>
int heapCallsDuring(Body&& body) {
    heapCalls = 0, heapWatched = true;
    body();
    heapWatched = false;
    return heapCalls;
}
} // namespace

void* operator new(std::size_t size) { return counted(std::malloc(std::max<std::size_t>(size, 1))); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    return counted(std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try { return operator new(size); } catch (const std::bad_alloc&) { return nullptr; }
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try { return operator new(size, alignment); } catch (const std::bad_alloc&) { return nullptr; }
}
void operator delete(void* memory) noexcept {
    if (memory && heapWatched) ++heapCalls;
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { operator delete(memory); }

namespace {

class Engine : public VirtualDevices {
protected:
    // The engines' own sums, which may pass full scale; one test puts the limiter back.
    void SetUp() override {
        VirtualDevices::SetUp();
        DeviceLayer::shared().setOutputLimiting(false);
    }
    void TearDown() override {
        DeviceLayer::shared().setOutputLimiting(true);
        VirtualDevices::TearDown();
    }

    // An engine of `channels` with one node, on device `name` (made with as
    // many channels if it is new), running unless told otherwise.
    AudioPlayerNodePtr startEngine(AudioEngine& engine, const std::string& name, std::uint32_t channels,
                                   bool start = true) {
        if (backend->recording(name).empty()) backend->addDevice(name, channels);
        EXPECT_EQ(engine.selectDevice(idOf(name)), AudioEngine::statusOk);
        engine.setFormat({48000, channels});
        auto node = std::make_shared<AudioPlayerNode>();
        engine.attach(node);
        if (start) engine.start();
        return node;
    }

    // Plays the device for `frames`; the rendering must never touch the heap.
    bool render(const std::string& name, std::size_t frames) {
        backend->reserveRecording(name, frames);
        bool rendered = false;
        EXPECT_EQ(heapCallsDuring([&] { rendered = backend->render(name, frames); }), 0) << "rendering " << name;
        return rendered;
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
    node->scheduleBuffer(rampBuffer(3, 0, 200, 0.5f, 0), 200);
    node->scheduleBuffer(rampBuffer(3, 2, 10, 1.0f, 0));  // as soon as possible: at 0, then after it
    node->scheduleBuffer(rampBuffer(3, 2, 10, 2.0f, 0));
    node->scheduleBuffer(rampBuffer(3, 2, 10, 5.0f, 0), 1000);
    node->play();
    ASSERT_TRUE(render("A", 512));
    std::vector<std::vector<float>> expected(3, std::vector<float>(512, 0.0f));
    for (std::size_t i = 0; i < 10; ++i) expected[1][100 + i] = 1 + i, expected[1][250 + i] = 100 + i;
    for (std::size_t i = 0; i < 300; ++i) expected[0][i] += 1 + i;
    for (std::size_t i = 200; i < 400; ++i) expected[0][i] += 0.5f;
    for (std::size_t i = 0; i < 20; ++i) expected[2][i] = i < 10 ? 1.0f : 2.0f;
    EXPECT_EQ(backend->recording("A"), expected);
    EXPECT_EQ(finished.use_count(), 2);  // finished buffers go back on the next control call, not in the callback

    auto pending = rampBuffer(3, 1, 4096, 0.25f, 0);
    node->scheduleBuffer(pending, 512);
    EXPECT_EQ(finished.use_count(), 1);
    node->scheduleBuffer(rampBuffer(3, 2, 10, 3.0f, 0));  // the queue ended at 20; the node is at 512
    node->play();                                          // already playing: the timeline goes on
    render("A", 512);
    node->scheduleBuffer(rampBuffer(3, 2, 10, 1.0f), 1020);  // at 1024 already: only the rest sounds
    node->setVolume(0.5f);                                   // from the next block
    render("A", 256);
    node->stop();  // forgets the buffers and restarts the timeline
    EXPECT_FALSE(node->isPlaying());
    render("A", 256);
    node->scheduleBuffer(rampBuffer(3, 0, 10, 1.0f), 5);
    EXPECT_EQ(pending.use_count(), 1);
    node->play();
    EXPECT_TRUE(node->isPlaying());
    render("A", 768);

    const auto recorded = backend->recording("A");
    for (const auto& [channel, frame, value] :
         {std::tuple{2, 512, 3.0f}, {2, 521, 3.0f}, {2, 522, 0.0f}, {2, 999, 0.0f}, {2, 1000, 5.0f}, {2, 1009, 5.0f},
          {2, 1010, 0.0f}, {2, 1023, 0.0f}, {2, 1024, 2.5f}, {2, 1029, 5.0f}, {2, 1030, 0.0f}, {1, 512, 0.25f},
          {1, 1023, 0.25f}, {1, 1024, 0.125f}, {1, 1279, 0.125f}, {0, 1541, 0.5f}, {0, 1550, 5.0f}})
        EXPECT_EQ(recorded[channel].at(frame), value) << "channel " << channel << ", frame " << frame;
    const auto from = [&](int c, long frame) { return std::vector(recorded[c].begin() + frame, recorded[c].end()); };
    EXPECT_EQ(firstSound(from(0, 1280)), 256 + 5);
    EXPECT_TRUE(silent(from(0, 1551)) && silent(from(1, 1280)) && silent(from(2, 1280)));
    node->scheduleBuffer(pending, 100000);
    engine.stop();
    EXPECT_EQ(pending.use_count(), 1);
}

TEST_F(Engine, AGainSetBeforePlayHoldsFromTheFirstSampleAndAChangeGlidesToItWithinTheNextBlock) {
    backend->setBlockFrames(512);  // longer than the glide
    AudioEngine engine;
    auto node = startEngine(engine, "G", 1);
    node->scheduleBuffer(rampBuffer(1, 0, 1536, 1.0f, 0), 0);  // a steady 1: what is heard is the gain
    node->setGain(0.5f);
    node->play();
    render("G", 512);
    node->setGain(2.0f);
    render("G", 512);
    node->setVolume(0.25f);  // on top of the gain
    render("G", 512);
    const auto heard = backend->recording("G")[0];
    const auto from = [&](std::size_t begin, std::size_t end) {
        return std::vector(heard.begin() + begin, heard.begin() + end);
    };
    constexpr std::size_t ramp = AudioPlayerNode::gainRampFrames;
    const float slope = 1.5f / ramp;
    for (std::size_t i = 512; i < 512 + ramp; ++i)
        ASSERT_TRUE(heard[i] > heard[i - 1] && heard[i] - heard[i - 1] <= slope * 1.001f) << i;
    EXPECT_EQ(from(0, 512), std::vector(512, 0.5f));
    EXPECT_EQ(from(511 + ramp, 1024), std::vector(513 - ramp, 2.0f));
    EXPECT_EQ(from(1024, 1536), std::vector(512, 0.5f));
}

TEST_F(Engine, TheDevicesLimiterKeepsEverySampleBelowFullScaleAndLeavesQuieterChannelsAlone) {
    DeviceLayer::shared().setOutputLimiting(true);
    AudioEngine engine;
    auto node = startEngine(engine, "Ears", 2);
    auto loud = PcmBuffer::make({48000, 2}, 4800);
    float* const square = loud->writableChannel(0);
    float* const steady = loud->writableChannel(1);
    for (std::uint32_t i = 0; i < 4800; ++i) {
        square[i] = (i % 48 < 24 ? 1.4f : -1.4f) * (i < 2400 ? 1.0f : 0.5f);
        steady[i] = i == 100 ? NAN : 0.9f;
    }
    loud->setFrameLength(4800);
    node->scheduleBuffer(loud, 0);
    node->play();
    ASSERT_TRUE(render("Ears", 4800));
    const auto& ears = backend->recording("Ears");
    EXPECT_NEAR(*std::max_element(ears[0].begin(), ears[0].end()), 0.98f, 1e-6) << "the first peak is turned down at once";
    // The gain then recovers towards unity with a 50 ms time constant.
    EXPECT_NEAR(ears[0][4799], -0.7 * (1 - (1 - 0.98 / 1.4) * std::exp(-1.0)), 2e-3);
    EXPECT_EQ(ears[1][100], 0.0f) << "a sample that is not a number is silenced";
    EXPECT_EQ(ears[1][101], 0.9f);
}

TEST_F(Engine, NodesStartedInOneGroupNestedOrNotBeginOnTheSameSample) {
    AudioEngine engine;
    std::vector<AudioPlayerNodePtr> nodes{startEngine(engine, "A", 6, false)};
    for (std::uint32_t c = 0; c < 6; ++c) {
        if (c > 0) engine.attach(nodes.emplace_back(std::make_shared<AudioPlayerNode>()));
        nodes[c]->scheduleBuffer(rampBuffer(6, c, 8, 1.0f, 0), c == 0 ? 3 : 0);
    }
    nodes[0]->play();  // before the engine starts: it begins with the engine's first block
    engine.start();
    render("A", 100);
    nodes[1]->play();  // without a group, a block that ends between two starts separates them
    render("A", 50);
    nodes[2]->play();
    render("A", 50);
    {
        AudioEngine::StartGroup group(engine);
        nodes[3]->play();
        {
            AudioEngine::StartGroup inner(engine);
            nodes[4]->play();
        }
        render("A", 50);  // a whole block passes while the outer group holds
        nodes[5]->play();
    }
    render("A", 100);
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
    wideNode->scheduleBuffer(rampBuffer(4, 0, 64, 0.25f, 0), 0);
    wideNode->scheduleBuffer(rampBuffer(4, 3, 64, 7.0f, 0), 0);  // beyond the device
    narrowNode->play();
    wideNode->play();
    render("A", 32);
    narrow.stop();
    EXPECT_FALSE(narrowNode->isPlaying());
    EXPECT_TRUE(render("A", 32));  // the stream stays for the wide engine

    const auto recorded = backend->recording("A");
    EXPECT_EQ(std::vector({recorded[0][0], recorded[0][32], recorded[1][31], recorded[1][32]}),
              std::vector({1.25f, 0.25f, 2.0f, 0.0f}));
    EXPECT_TRUE(silent(recorded[2]));
    // The last engine to leave closes the stream; a new start opens another.
    wide.stop();
    EXPECT_FALSE(DeviceLayer::shared().hasOpenStream(VirtualDeviceBackend::uidFor("A")) || render("A", 32));
    narrow.start();
    EXPECT_EQ(backend->streamsOpened("A"), 2);
}

TEST_F(Engine, KeptOpenTheLastDeviceUsedTakesTheNextEngineWithoutOpeningAgain) {
    backend->addDevice("A", 2);
    backend->addDevice("B", 2);
    const auto open = [](const char* device) { return DeviceLayer::shared().hasOpenStream(VirtualDeviceBackend::uidFor(device)); };
    DeviceLayer::shared().setKeepLastStreamOpen(true);
    AudioEngine engine;
    for (const char* device : {"A", "A", "B"}) {
        startEngine(engine, device, 2);
        engine.stop();
    }
    EXPECT_EQ(std::tuple(backend->streamsOpened("A"), open("A"), open("B")), std::tuple(1, false, true));
    DeviceLayer::shared().setKeepLastStreamOpen(false);
    EXPECT_FALSE(open("B"));
}

TEST_F(Engine, DevicesComeAndGoCleanlyAndTheDefaultPlaysWithoutASelection) {
    AudioEngine byDefault, first, second;
    const auto start = [&] { return errorText([&] { byDefault.start(); }); };
    EXPECT_EQ(start(), "AudioEngine 2: No output device is available");
    backend->addDevice("A", 1);
    backend->addDevice("B", 1);
    backend->setDefaultDevice("B");
    for (const auto& [format, text] : {std::pair<AudioFormat, const char*>{{48000, 0}, "0 channel(s) at 48000 Hz"},
                                       {{44100, 2}, "2 channel(s) at 44100 Hz"}}) {
        byDefault.setFormat(format);
        EXPECT_EQ(start(), std::string("AudioEngine 3: Unsupported output format: ") + text);
    }
    EXPECT_FALSE(byDefault.isRunning() || backend->isStreamOpen("B"));
    byDefault.setFormat({48000, 2});
    byDefault.start();
    EXPECT_TRUE(backend->isStreamOpen("B") && !backend->isStreamOpen("A") && !first.selectedDevice());

    auto node = startEngine(first, "A", 1);
    EXPECT_EQ(first.selectedDevice(), idOf("A"));
    node->scheduleBuffer(rampBuffer(1, 0, 100000, 1.0f, 0), 0);
    node->play();
    render("A", 64);
    backend->removeDevice("A");  // while playing
    EXPECT_FALSE(render("A", 64));
    backend->addDevice("A", 1);
    auto other = startEngine(second, "A", 1);  // a fresh stream, not the dead one
    EXPECT_EQ(backend->streamsOpened("A"), 2);
    first.stop();  // closes only the dead stream
    other->scheduleBuffer(rampBuffer(1, 0, 4, 3.0f, 0), 0);
    other->play();
    backend->clearRecording("A");
    EXPECT_TRUE(render("A", 8));
    EXPECT_EQ(std::pair(backend->recording("A")[0][0], first.selectDevice(0)),
              std::pair(3.0f, AudioEngine::statusUnknownDevice));

    setDeviceBackendForTesting(nullptr);
    EXPECT_TRUE(!first.hasDeviceLayer() && first.selectDevice(1) == AudioEngine::statusNoDeviceLayer);
    first.stop();
    EXPECT_EQ(errorText([&] { first.start(); }), "AudioEngine 1: No audio device layer is available");
}

TEST_F(Engine, WhatADeviceSkipsIsLostButEverythingAfterKeepsItsFrameAtAnyRate) {
    auto ticks = PcmBuffer::make({48000, 1}, 96000);
    ticks->setFrameLength(96000);
    float* tick = ticks->writableChannel(0);
    tick[4800] = tick[28800] = tick[52800] = tick[91200] = 1.0f;  // 0.1, 0.6, 1.1 and 1.9 s
    for (const long rate : {48000L, 44100L}) {
        const std::string name = std::to_string(rate);
        backend->addDevice(name, 1, static_cast<double>(rate));
        AudioEngine engine;
        auto node = startEngine(engine, name, 1);
        node->scheduleBuffer(ticks, 0);
        node->play();
        render(name, rate / 2);
        backend->skip(name, rate / 4);  // an xrun from 0.5 to 0.75 s
        render(name, rate * 2 - rate / 2 - rate / 4);
        const auto recorded = backend->recording(name)[0];
        std::vector<long> heard;
        for (long frame = 1; frame + 1 < static_cast<long>(recorded.size()); ++frame)
            if (std::abs(recorded[frame]) > 0.5f && std::abs(recorded[frame]) >= std::abs(recorded[frame - 1]) &&
                std::abs(recorded[frame]) > std::abs(recorded[frame + 1]))
                heard.push_back(frame);
        EXPECT_EQ(heard, (std::vector<long>{rate / 10, rate * 11 / 10, rate * 19 / 10})) << name;
    }
}

// As when another program has PipeWire's graph run at 44.1 kHz from 0.5 s on: a tick at 1.1 s comes 0.6 s later.
TEST_F(Engine, ADeviceWhoseServerChangesRateWhilePlayingKeepsPitchAndTiming) {
    auto ticks = PcmBuffer::make({48000, 1}, 96000);
    ticks->setFrameLength(96000);
    ticks->writableChannel(0)[52800] = 1.0f;
    backend->addDevice("graph", 1);
    AudioEngine engine;
    auto node = startEngine(engine, "graph", 1);
    node->scheduleBuffer(ticks, 0);
    node->play();
    render("graph", 24000);
    ASSERT_TRUE(backend->changeRate("graph", 44100));
    render("graph", 44100);
    const auto recorded = backend->recording("graph")[0];
    const auto loudest = std::max_element(recorded.begin(), recorded.end(), [](float a, float b) { return a < b; });
    EXPECT_EQ(std::tuple(loudest - recorded.begin(), *loudest > 0.5f), std::tuple(24000 + 26460, true));
}

TEST_F(Engine, DevicesAtOtherRatesKeepLevelAndTimingToTheSampleHoweverTheySliceTheirBlocks) {
    auto tone = PcmBuffer::make({48000, 2}, 96000);  // a sine, and ticks a second apart
    tone->setFrameLength(96000);
    float* sine = tone->writableChannel(0);
    for (int i = 0; i < 96000; ++i) sine[i] = static_cast<float>(0.25 * std::sin(2 * M_PI * 440.0 * i / 48000.0));
    float* ticks = tone->writableChannel(1);
    ticks[4800] = ticks[52800] = 1.0f;
    std::map<long, std::vector<std::vector<float>>> byRate;
    for (const auto& [rate, block] : {std::pair{44100L, 256u}, {44100L, 37u}, {96000L, 256u}, {32000L, 256u}}) {
        const std::string name = std::to_string(rate) + "/" + std::to_string(block);
        backend->addDevice(name, 2, static_cast<double>(rate));
        backend->setBlockFrames(block);
        AudioEngine engine;
        auto node = startEngine(engine, name, 2);
        node->scheduleBuffer(tone, 0);
        node->play();
        render(name, 2 * rate);
        const auto recorded = backend->recording(name);
        // Frames 4800 and 52800 are whole frames at each rate: no sample of delay, no drift.
        for (const long tick : {4800 * rate / 48000, 52800 * rate / 48000}) {
            const auto near = recorded[1].begin() + tick;
            const auto loudest =
                std::max_element(near - 200, near + 200, [](float a, float b) { return std::abs(a) < std::abs(b); });
            EXPECT_EQ(loudest - recorded[1].begin(), tick) << name;
            // Its height is the band-limit: 95 % of the lower Nyquist frequency.
            EXPECT_NEAR(*loudest, 0.95 * std::min(1.0, rate / 48000.0), 1e-4) << name;
        }
        const auto sine = recorded[0].begin();
        EXPECT_NEAR(peak({sine + rate / 10, sine + rate * 19 / 10}), 0.25f, 0.0025f) << name;
        if (!byRate.try_emplace(rate, recorded).second)
            EXPECT_EQ(recorded, byRate[rate]) << name;
    }
    EXPECT_EQ(heapCallsDuring([] { EXPECT_EQ(*std::make_unique<int>(1), 1); }), 2);  // the heap watch does work
}
