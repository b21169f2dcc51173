#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"

#include "CadenzoPlayer/dispatch/MainThread.hpp"
#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <mutex>
#include <thread>

using namespace cadenzo;
using nlohmann::json;

namespace {

// Stands in for the web view: keeps every delivered script and the thread it came on.
class FakePage final : public ScriptTarget {
public:
    struct Delivery {
        json result;
        std::thread::id thread;
    };

    void evaluateScript(const std::string& script) override {
        static const std::string prefix = "(window.onNativeAudioResult || console.log)(";
        ASSERT_EQ(script.rfind(prefix, 0), 0u) << script;
        ASSERT_EQ(script.back(), ')') << script;
        const std::string text = script.substr(prefix.size(), script.size() - prefix.size() - 1);
        std::lock_guard lock(*mutex);
        deliveries->push_back({json::parse(text), std::this_thread::get_id()});
    }

    std::vector<Delivery> taken() const {
        std::lock_guard lock(*mutex);
        return *deliveries;
    }

    // Shared so that what was delivered can be read after the page is gone.
    std::shared_ptr<std::mutex> mutex = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<Delivery>> deliveries = std::make_shared<std::vector<Delivery>>();
};

// Holds every tone until opened, so that a test can act while one sounds.
class Gate {
public:
    void open() { promise_.set_value(); }
    void pass() const { future_.wait(); }

private:
    std::promise<void> promise_;
    std::shared_future<void> future_ = promise_.get_future().share();
};

class BridgeTest : public VirtualDevices {
protected:
    void SetUp() override {
        VirtualDevices::SetUp();
        backend->addDevice("Studio", 2);
        backend->addDevice("Stage", 8);
        backend->setDefaultDevice("Stage");
        previousMain = MainThread::install(loop);
        bridge = NativeAudioBridge::make([gate = gate, backend = backend, toneThreads = toneThreads](double seconds) {
            {
                std::lock_guard lock(toneThreads->first);
                toneThreads->second.push_back(std::this_thread::get_id());
            }
            gate->pass();
            // The tone sounds for as long as it waits; render it instead of sleeping.
            const auto frames = static_cast<std::size_t>(seconds * 48000);
            backend->render("Studio", frames);
            backend->render("Stage", frames);
        });
        bridge->setWebView(page);
    }

    void TearDown() override {
        bridge.reset();
        MainThread::install(previousMain);
        VirtualDevices::TearDown();
    }

    void send(const json& body) { bridge->handleMessage(body); }

    std::vector<json> results() const {
        std::vector<json> list;
        for (const auto& delivery : page->taken()) list.push_back(delivery.result);
        return list;
    }

    // Runs the main loop until `done` holds; false after five seconds.
    template <class Predicate>
    bool runUntil(Predicate done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            loop->runFor(0.01);
        }
        return true;
    }

    bool runUntilResults(std::size_t count) {
        return runUntil([&] { return page->taken().size() >= count; });
    }

    void expectAllOnMainThread() const {
        for (const auto& delivery : page->taken())
            EXPECT_EQ(delivery.thread, std::this_thread::get_id()) << delivery.result.dump();
    }

    static double peak(const std::vector<float>& samples) {
        double highest = 0;
        for (float v : samples) highest = std::max(highest, std::abs(static_cast<double>(v)));
        return highest;
    }

    // The channels of a device that carry sound.
    std::vector<std::size_t> soundingChannels(const std::string& device) const {
        std::vector<std::size_t> sounding;
        const auto recording = backend->recording(device);
        for (std::size_t c = 0; c < recording.size(); ++c)
            if (peak(recording[c]) > 0.01) sounding.push_back(c);
        return sounding;
    }

    std::shared_ptr<MainLoop> loop = std::make_shared<MainLoop>();
    std::shared_ptr<MainExecutor> previousMain;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::shared_ptr<std::pair<std::mutex, std::vector<std::thread::id>>> toneThreads =
        std::make_shared<std::pair<std::mutex, std::vector<std::thread::id>>>();
    std::shared_ptr<FakePage> page = std::make_shared<FakePage>();
    std::shared_ptr<NativeAudioBridge> bridge;
};

json success(const char* type, const json& requestId) {
    return {{"ok", true}, {"type", type}, {"requestId", requestId}};
}

json failure(const char* type, const char* error, const json& requestId) {
    return {{"ok", false}, {"type", type}, {"error", error}, {"requestId", requestId}};
}

const json devicesOfTheFixture = json::array({
    {{"uid", "virtual:Studio"}, {"name", "Studio"}, {"channels", 2}, {"isDefault", false}},
    {{"uid", "virtual:Stage"}, {"name", "Stage"}, {"channels", 8}, {"isDefault", true}},
});

} // namespace

TEST_F(BridgeTest, ListingStopAndMuteAreAnsweredBeforeHandleMessageReturns) {
    send({{"type", "listDevices"}, {"requestId", 7}});
    ASSERT_EQ(results().size(), 1u);
    EXPECT_EQ(results()[0],
              (json{{"ok", true}, {"type", "listDevices"}, {"devices", devicesOfTheFixture}, {"requestId", 7}}));

    // Nothing is playing: both still succeed.
    send({{"type", "stopSong"}, {"requestId", "s"}});
    ASSERT_EQ(results().size(), 2u);
    EXPECT_EQ(results()[1], success("stopSong", "s"));
    send({{"type", "setGuideMuted"}, {"muted", true}, {"requestId", nullptr}});
    ASSERT_EQ(results().size(), 3u);
    EXPECT_EQ(results()[2], success("setGuideMuted", nullptr));
    expectAllOnMainThread();

    // Each was answered once: running the loop brings nothing more.
    loop->runFor(0.1);
    EXPECT_EQ(results().size(), 3u);
}

TEST_F(BridgeTest, ProtocolErrorsAreAnsweredAtOnceAndUnwritableResultsDropped) {
    bridge->handleMessageText("");  // what the page's `undefined` becomes
    bridge->handleMessageText(R"({"type": 3, "requestId": 1})");
    bridge->handleMessageText(R"({"type": "ListDevices", "requestId": [1]})");
    ASSERT_EQ(results().size(), 3u);
    EXPECT_EQ(results()[0], (json{{"ok", false}, {"error", "Malformed message"}}));
    EXPECT_EQ(results()[1], (json{{"ok", false}, {"error", "Malformed message"}}));
    EXPECT_EQ(results()[2],
              (json{{"ok", false}, {"error", "Unknown message type: ListDevices"}, {"requestId", json::array({1})}}));

    // A requestId with no JSON form (invalid UTF-8) loses its answer, and only that.
    send({{"type", "listDevices"}, {"requestId", "\xff"}});
    send({{"type", "stopSong"}});
    ASSERT_EQ(results().size(), 4u);
    EXPECT_EQ(results()[3], (json{{"ok", true}, {"type", "stopSong"}}));
}

TEST_F(BridgeTest, ToneIsAnsweredOnTheMainThreadAfterItHasPlayed) {
    send({{"type", "testTone"}, {"deviceUid", "virtual:Stage"}, {"channels", {3, 5}}, {"channelCount", 8},
          {"requestId", "t"}});
    EXPECT_TRUE(results().empty());
    // A listing asked for meanwhile overtakes it.
    send({{"type", "listDevices"}});
    ASSERT_EQ(results().size(), 1u);
    EXPECT_EQ(results()[0]["type"], "listDevices");

    gate->open();
    ASSERT_TRUE(runUntilResults(2));
    EXPECT_EQ(results()[1], success("testTone", "t"));
    expectAllOnMainThread();
    {
        std::lock_guard lock(toneThreads->first);
        ASSERT_EQ(toneThreads->second.size(), 1u);
        EXPECT_NE(toneThreads->second[0], std::this_thread::get_id()) << "the tone blocked the main thread";
    }
    EXPECT_EQ(soundingChannels("Stage"), std::vector<std::size_t>{3});
    EXPECT_GE(backend->recordedFrames("Stage"), 57600u);
    loop->runFor(0.1);
    EXPECT_EQ(results().size(), 2u);
}

TEST_F(BridgeTest, DeviceIsFoundByUidFirstThenByNameFragment) {
    gate->open();
    // The uid names a device: the fragment is not consulted.
    send({{"type", "testTone"}, {"deviceUid", "virtual:Stage"}, {"deviceNameContains", "Stu"}, {"channel", 1},
          {"requestId", 1}});
    ASSERT_TRUE(runUntilResults(1));
    EXPECT_EQ(results()[0], success("testTone", 1));
    EXPECT_EQ(soundingChannels("Stage"), std::vector<std::size_t>{1});
    EXPECT_TRUE(soundingChannels("Studio").empty());

    // The uid names nothing: the fragment finds Studio. An empty `channels` names no channel, so
    // `channel` counts.
    backend->clearRecording("Stage");
    send({{"type", "testTone"}, {"deviceUid", "virtual:Gone"}, {"deviceNameContains", "Stu"},
          {"channels", json::array()}, {"channel", 1}, {"requestId", 2}});
    ASSERT_TRUE(runUntilResults(2));
    EXPECT_EQ(results()[1], success("testTone", 2));
    EXPECT_EQ(soundingChannels("Studio"), std::vector<std::size_t>{1});
    EXPECT_TRUE(soundingChannels("Stage").empty());
}

TEST_F(BridgeTest, NoMatchingDeviceComesBeforeMissingEntriesAndBothAtOnce) {
    send({{"type", "playSong"}, {"requestId", 1}});
    send({{"type", "playSong"}, {"deviceUid", "virtual:Gone"}, {"deviceNameContains", ""}, {"requestId", 2}});
    send({{"type", "testTone"}, {"deviceNameContains", "stage"}, {"requestId", 3}});  // case matters
    send({{"type", "playSong"}, {"deviceNameContains", "Stage"}, {"entries", {{{"label", "In"}, {"bars", 1}}, 4}},
          {"requestId", 4}});
    ASSERT_EQ(results().size(), 4u);
    EXPECT_EQ(results()[0], failure("playSong", "No matching device", 1));
    EXPECT_EQ(results()[1], failure("playSong", "No matching device", 2));
    EXPECT_EQ(results()[2], failure("testTone", "No matching device", 3));
    EXPECT_EQ(results()[3], failure("playSong", "Missing entries", 4));
    EXPECT_FALSE(bridge->player()->state().engine);
}

TEST_F(BridgeTest, SongStartsOffTheMainThreadAndStopAndMuteReachItsPlayer) {
    const json requestId = {{"a", {1}}};
    const json song = {{"type", "playSong"}, {"deviceNameContains", "Stage"},
                       {"entries", {{{"label", "In"}, {"bars", 1}}}}, {"tempo", 240}, {"countInBars", 1},
                       {"click", {7}}, {"guide", {6}}, {"requestId", requestId}};
    testing::internal::CaptureStdout();
    send(song);
    EXPECT_TRUE(results().empty());
    ASSERT_TRUE(runUntilResults(1));
    testing::internal::GetCapturedStdout();
    // Two bars of four beats at 240 bpm.
    EXPECT_EQ(results()[0],
              (json{{"ok", true}, {"type", "playSong"}, {"totalDuration", 2.0}, {"requestId", requestId}}));
    expectAllOnMainThread();

    // Without totalChannels the song is as wide as the device, so channel 7 sounds.
    ASSERT_TRUE(backend->render("Stage", 48000));
    EXPECT_EQ(soundingChannels("Stage"), (std::vector<std::size_t>{6, 7}));

    send({{"type", "setGuideMuted"}, {"muted", 1}});
    EXPECT_EQ(bridge->player()->state().guidePlayer->volume(), 0.0f);
    send({{"type", "setGuideMuted"}, {"muted", "yes"}});  // not a boolean: unmutes
    EXPECT_EQ(bridge->player()->state().guidePlayer->volume(), 1.0f);
    send({{"type", "stopSong"}, {"requestId", 9}});
    EXPECT_EQ(results().back(), success("stopSong", 9));
    EXPECT_FALSE(bridge->player()->state().engine);

    // Four channels asked for: channel 7 lies beyond them and stays silent.
    backend->clearRecording("Stage");
    json narrow = song;
    narrow["totalChannels"] = 4;
    narrow["click"] = {7, 1};
    testing::internal::CaptureStdout();
    send(narrow);
    ASSERT_TRUE(runUntilResults(5));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(results()[4]["ok"], true);
    ASSERT_TRUE(backend->render("Stage", 48000));
    EXPECT_EQ(soundingChannels("Stage"), std::vector<std::size_t>{1});
}

TEST_F(BridgeTest, FailuresOfTheToneAndThePlayerAreForwardedUnchanged) {
    gate->open();
    testing::internal::CaptureStdout();
    send({{"type", "playSong"}, {"deviceUid", "virtual:Stage"}, {"entries", {{{"label", "V"}, {"bars", 2}}}},
          {"tempo", 0}, {"requestId", 1}});
    send({{"type", "playSong"}, {"deviceUid", "virtual:Stage"}, {"entries", {{{"label", "V"}, {"bars", 2}}}},
          {"totalChannels", 0}, {"requestId", 2}});
    send({{"type", "testTone"}, {"deviceUid", "virtual:Stage"}, {"channelCount", -3}, {"requestId", 3}});
    send({{"type", "testTone"}, {"deviceUid", "virtual:Stage"}, {"channelCount", 0}, {"requestId", 4}});
    ASSERT_TRUE(runUntilResults(4));
    testing::internal::GetCapturedStdout();

    std::map<int, json> byId;
    for (const json& result : results()) byId[result["requestId"].get<int>()] = result;
    EXPECT_EQ(byId[1], failure("playSong", "Tempo must be a positive, finite number of beats per minute", 1));
    EXPECT_EQ(byId[2], failure("playSong", "Couldn't build 0-channel layout", 2));
    EXPECT_EQ(byId[3], failure("testTone", "Could not build -3-channel layout", 3));
    EXPECT_EQ(byId[4], failure("testTone", "Could not build 0-channel layout", 4));
    expectAllOnMainThread();
    EXPECT_TRUE(soundingChannels("Stage").empty());
}

TEST_F(BridgeTest, ToneStillPlaysWhenThePageGoesBeforeItEndsAndNothingIsDelivered) {
    send({{"type", "testTone"}, {"deviceUid", "virtual:Stage"}, {"channel", 2}, {"channelCount", 8},
          {"requestId", 1}});
    const auto delivered = page->deliveries;
    page.reset();
    // The work holds the bridge until it has answered; nothing else does now.
    const std::weak_ptr<NativeAudioBridge> held = bridge;
    bridge.reset();
    ASSERT_FALSE(held.expired());

    gate->open();
    ASSERT_TRUE(runUntil([&] { return held.expired(); }));
    EXPECT_TRUE(delivered->empty());
    EXPECT_EQ(soundingChannels("Stage"), std::vector<std::size_t>{2});
}
