#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"

#include "CadenzoPlayer/dispatch/MainThread.hpp"
#include "CadenzoPlayer/dispatch/ManualClock.hpp"
#include "Eventually.hpp"
#include "TempFiles.hpp"
#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sndfile.h>
#include <future>
#include <thread>

using namespace cadenzo;
using namespace cadenzo::BridgeProtocol;
using nlohmann::json;

namespace {

const std::string call = "(window.onNativeAudioResult || console.log)(";
const std::string malformed = R"({"error":"Malformed message","ok":false})";

// The JSON text a result reaches the page as, or "dropped".
std::string delivered(const json& result, const std::optional<json>& requestId) {
    const auto script = deliveryScript(result, requestId);
    if (!script) return "dropped";
    EXPECT_TRUE(script->starts_with(call) && script->ends_with(")")) << *script;
    return script->substr(call.size(), script->size() - call.size() - 1);
}

// What the page gets at once for a body the protocol refuses, or "a request".
std::string refusal(std::string_view text) {
    const ParsedMessage parsed = parseMessageText(text);
    const auto* error = std::get_if<ProtocolError>(&parsed);
    return error ? delivered(error->result, error->requestId) : "a request";
}

// The request of kind T a body reads as.
template <class T>
T parseAs(std::string_view text) {
    const ParsedMessage parsed = parseMessageText(text);
    const T* request = std::holds_alternative<Request>(parsed) ? std::get_if<T>(&std::get<Request>(parsed).kind) : nullptr;
    EXPECT_TRUE(request) << text;
    return request ? *request : T{};
}

// The fields a request holds, copied.
auto fields(const TestToneRequest& r) { return std::tuple(r.selection, r.channel, r.channelCount); }
auto fields(const PlaySongRequest& r) {
    const SongSettings& s = r.song;
    return std::tuple(r.selection, r.hasEntries, s.entries, s.clickChannels, s.guideChannels, s.padChannels, s.padKey,
                      s.padChords, s.tempo, s.beatsPerBar, s.countInBars, s.startSection, s.totalChannels, s.guideMuted,
                      s.levels);
}

// Stands in for the web view: keeps each delivered result, which must arrive on the main thread.
struct FakePage final : ScriptTarget {
    void evaluateScript(const std::string& script) override {
        EXPECT_EQ(std::this_thread::get_id(), mainThread) << script;
        results.push_back(json::parse(script.substr(call.size(), script.size() - call.size() - 1)));
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<json> results;
};

class BridgeTest : public VirtualDevices {
protected:
    void SetUp() override {
        VirtualDevices::SetUp();
        backend->addDevice("Stage", 8);  // listed first, and so the default: none is named
        backend->addDevice("Input only", 0);  // never listed
        backend->addDevice("Studio", 2);
        previousMain = MainThread::install(loop);
        // A tone waits for the gate, then records for as long as it was asked to wait.
        bridge = NativeAudioBridge::make([opened = gate.get_future().share(), backend = backend](double seconds) {
            opened.wait();
            for (const char* device : {"Studio", "Stage"}) backend->render(device, std::size_t(seconds * 48000));
        });
        bridge->setWebView(page);
    }
    void TearDown() override {
        bridge.reset();
        MainThread::install(previousMain);
        VirtualDevices::TearDown();
    }

    // Runs the main loop until `done` holds.
    bool runUntil(const std::function<bool()>& done) { return eventually([&] { return loop->runFor(0.005), done(); }); }

    // The channels that carry sound: "Stage:6 Stage:7 ".
    std::string sounding() const {
        std::string text;
        for (const std::string device : {"Studio", "Stage"}) {
            const auto recording = backend->recording(device);
            for (std::size_t c = 0; c < recording.size(); ++c)
                if (peak(recording[c]) > 0.01f) text += device + ":" + std::to_string(c) + " ";
        }
        return text;
    }

    std::shared_ptr<MainLoop> loop = std::make_shared<MainLoop>();
    std::shared_ptr<MainExecutor> previousMain;
    std::promise<void> gate;
    std::shared_ptr<FakePage> page = std::make_shared<FakePage>();
    std::shared_ptr<NativeAudioBridge> bridge;
};

} // namespace

TEST_F(BridgeTest, EachRequestIsAnsweredOnceAndSoundsWhereItAsks) {
    // Listing, stop, mute and refusals are answered before handleMessage returns, a tone or a song once its work on
    // the pool is done. Each case: whether the answer comes later, the request, the answer, what sounds afterwards.
    const std::string noDevice = R"({"ok":false,"error":"No matching device","type":)";
    const std::string tone = R"({"type":"testTone","deviceUid":"virtual:Stage",)";
    const std::string song = R"({"type":"playSong","deviceUid":"virtual:Stage","entries":[{"label":"In","bars":1}],)"
                             R"("tempo":240,"countInBars":1,"guide":[6],)";
    const std::tuple<bool, std::string, std::string, std::string> cases[] = {
        {false, R"({"type":"listDevices","requestId":7})", R"({"ok":true,"type":"listDevices","requestId":7,"devices":[
            {"uid":"virtual:Stage","name":"Stage","channels":8,"isDefault":true},
            {"uid":"virtual:Studio","name":"Studio","channels":2,"isDefault":false}]})", ""},
        // Nothing is playing: stop and mute still succeed.
        {false, R"({"type":"stopSong","requestId":"s"})", R"({"ok":true,"type":"stopSong","requestId":"s"})", ""},
        {false, R"({"type":"setGuideMuted","muted":true,"requestId":null})",
         R"({"ok":true,"type":"setGuideMuted","requestId":null})", ""},
        {true, R"({"type":"setLevels","levels":{"pad":-6}})",
         R"({"ok":false,"type":"setLevels","error":"Nothing is playing"})", ""},
        {true, R"({"type":"setVamp","on":1})", R"({"ok":false,"type":"setVamp","error":"Nothing is playing"})", ""},
        {false, R"({"type":"setVamp","on":"yes"})", R"({"ok":false,"type":"setVamp","error":"Missing on"})", ""},
        {false, R"({"type":"jumpToSection","section":1.5})",
         R"({"ok":false,"type":"jumpToSection","error":"Missing section"})", ""},
        {false, R"({"type":"jumpToSection","section":0,"at":"now"})",
         R"({"ok":false,"type":"jumpToSection","error":"at must be \"bar\" or \"section\""})", ""},
        {false, R"({"type":"ListDevices","requestId":[1]})",
         R"({"ok":false,"error":"Unknown message type: ListDevices","requestId":[1]})", ""},
        // The device is found by uid, else by name fragment (case matters), before the entries are looked at.
        {false, R"({"type":"playSong","requestId":1})", noDevice + R"("playSong","requestId":1})", ""},
        {false, R"({"type":"playSong","deviceUid":"virtual:Gone","deviceNameContains":""})", noDevice + R"("playSong"})", ""},
        {false, R"({"type":"testTone","deviceNameContains":"stage"})", noDevice + R"("testTone"})", ""},
        {false, R"({"type":"playSong","deviceNameContains":"Stage","entries":[{"label":"In","bars":1},4]})",
         R"({"ok":false,"type":"playSong","error":"Missing entries"})", ""},
        // The uid names a device: the fragment is not consulted.
        {true, tone + R"("deviceNameContains":"Stu","channel":1,"requestId":1})",
         R"({"ok":true,"type":"testTone","requestId":1})", "Stage:1 "},
        // The uid names nothing: the fragment finds Studio. An empty `channels` names no channel, so `channel` counts.
        {true, R"({"type":"testTone","deviceUid":"virtual:Gone","deviceNameContains":"Stu","channels":[],"channel":1})",
         R"({"ok":true,"type":"testTone"})", "Studio:1 "},
        // Failures of the tone and the player come back in their own words.
        {true, tone + R"("channelCount":-3})", R"({"ok":false,"type":"testTone","error":"Could not build -3-channel layout"})",
         ""},
        {true, song + R"("tempo":0})",
         R"({"ok":false,"type":"playSong","error":"Tempo must be a positive, finite number of beats per minute"})", ""},
        {true, R"({"type":"playSong","deviceUid":"virtual:Stage","entries":[{"label":"In","bars":1},{"label":"Ch",)"
               R"("bars":1,"tempo":751}]})", R"({"ok":false,"type":"playSong","error":"Section 1 (Ch): Tempo must be at )"
               R"(most 750 beats per minute: a faster beat is shorter than the click"})", ""},
        // Two bars of four beats at 240 bpm, as wide as the device when totalChannels is not given.
        {true, song + R"("click":[7],"requestId":{"a":[1]}})",
         R"({"ok":true,"type":"playSong","totalDuration":2.0,"requestId":{"a":[1]}})", "Stage:6 Stage:7 "},
        {true, song + R"("levels":{"click":6.01}})",
         R"({"ok":false,"type":"playSong","error":"Level of click must be at most +6 dB"})", "Stage:6 Stage:7 "},
        // Cues muted from the start and a silent click; a level change brings the click back, the cues stay muted.
        {true, song + R"("click":[7],"guideMuted":true,"levels":{"click":-200}})",
         R"({"ok":true,"type":"playSong","totalDuration":2.0})", ""},
        {true, R"({"type":"setLevels","levels":{"click":0},"requestId":2})",
         R"({"ok":true,"type":"setLevels","requestId":2})", "Stage:7 "},
        // A song started over another leaves it sounding until the next stop; beyond totalChannels is silence.
        // The song before stops as this one takes over; channel 5 lies beyond the four asked for.
        {true, song + R"("click":[5,1],"totalChannels":4})", R"({"ok":true,"type":"playSong","totalDuration":2.0})",
         "Stage:1 "},
        // The song plays on: a jump to the section it is in (in its last bar: at the next bar line) repeats it.
        {true, R"({"type":"jumpToSection","section":0})", R"({"ok":true,"type":"jumpToSection"})", "Stage:1 "},
    };
    gate.set_value();
    for (const auto& [later, request, reply, sound] : cases) {
        const std::size_t before = page->results.size();
        for (const char* device : {"Studio", "Stage"}) backend->clearRecording(device);
        testing::internal::CaptureStdout();  // a song's "Built ..." line
        bridge->handleMessageText(request);
        EXPECT_EQ(page->results.size(), before + !later) << request;
        runUntil([&] { return page->results.size() > before; });
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(page->results.at(before), json::parse(reply)) << request;
        for (const char* device : {"Studio", "Stage"}) backend->render(device, 48000);
        EXPECT_EQ(sounding(), sound) << request;
    }
    // A requestId with no JSON form (invalid UTF-8) loses its answer.
    bridge->handleMessage({{"type", "listDevices"}, {"requestId", "\xff"}});
    EXPECT_EQ(page->results.size(), std::size(cases));
    // Mute and stop reach the song's player.
    const auto after = [&](const char* request) { return bridge->handleMessageText(request), bridge->player()->state(); };
    EXPECT_EQ(after(R"({"type":"setGuideMuted","muted":1})").guidePlayer->volume(), 0.0f);
    EXPECT_EQ(after(R"({"type":"setGuideMuted","muted":"yes"})").guidePlayer->volume(), 1.0f);  // not a boolean: unmutes
    EXPECT_FALSE(after(R"({"type":"stopSong"})").engine);
}

TEST_F(BridgeTest, ControlRequestsAreAnsweredByTheHandsFreeInputsOnceTheyAreStarted) {
    const auto answer = [&](const std::string& request) {
        const std::size_t before = page->results.size();
        bridge->handleMessageText(request);
        runUntil([&] { return page->results.size() > before; });
        return page->results.size() > before ? page->results[before] : json();
    };
    const std::string status = R"({"type":"controlStatus"})";
    EXPECT_EQ(answer(status), json::parse(R"({"ok":false,"type":"controlStatus","error":"Hands-free control is off"})"));
    bridge->startHandsFree({.midi = false});
    const json started = answer(status);
    EXPECT_EQ(started["midi"]["message"], "MIDI control is off");
    EXPECT_EQ(started["osc"]["message"], "OSC control is off (set CONTROL_OSC_PORT)");
    EXPECT_EQ(started["mappings"].size(), 4u);
    const std::pair<std::string, std::string> cases[] = {
        {R"({"type":"setMidiMappings","mappings":[{"kind":"cc","channel":17,"number":1,"action":"stop"}]})",
         R"({"ok":false,"type":"setMidiMappings","error":"Mapping 1: channel must be 0 (any) to 16"})"},
        {R"({"type":"setMidiMappings"})", R"({"ok":false,"type":"setMidiMappings","error":"Missing mappings"})"},
        {R"({"type":"setMidiMappings","mappings":[{"kind":"note","channel":0,"number":36,"action":"tap"}]})",
         R"({"ok":true,"type":"setMidiMappings"})"},
        {R"({"type":"learnMidi"})",
         R"({"ok":false,"type":"learnMidi","error":"No MIDI system on this computer: MIDI control is off"})"},
        {R"({"type":"learnMidi","cancel":true})", R"({"ok":true,"type":"learnMidi"})"},
        {R"({"type":"connectMidiInput","name":"Pedal"})",
         R"({"ok":false,"type":"connectMidiInput","error":"No MIDI input named \"Pedal\""})"},
    };
    for (const auto& [request, reply] : cases) EXPECT_EQ(answer(request), json::parse(reply)) << request;
    EXPECT_EQ(answer(status)["mappings"], json::parse(R"([{"kind":"note","channel":0,"number":36,"action":"tap"}])"));
}

TEST_F(BridgeTest, TheLibraryAndSavedFilesAreAnsweredInTheOrderAsked) {
    testfiles::TempDir dir;
    bridge = NativeAudioBridge::make({}, {dir.path() / "data", dir.path() / "Documents", dir.path() / "Music"});
    bridge->setWebView(page);
    const std::string deep = std::string(300, '[') + std::string(300, ']');
    const std::pair<std::string, std::string> cases[] = {
        {R"({"type":"loadLibrary","requestId":1})", R"({"ok":true,"type":"loadLibrary","library":null,"requestId":1})"},
        {R"({"type":"saveLibrary","library":{"songs":[1]}})", R"({"ok":true,"type":"saveLibrary"})"},
        {R"({"type":"saveLibrary","library":{"songs":[2]}})", R"({"ok":true,"type":"saveLibrary"})"},
        {R"({"type":"loadLibrary"})", R"({"ok":true,"type":"loadLibrary","library":{"songs":[2]}})"},
        {R"({"type":"saveLibrary"})", R"({"ok":false,"type":"saveLibrary","error":"Missing library"})"},
        {R"({"type":"saveLibrary","library":)" + deep + "}",
         R"({"ok":false,"type":"saveLibrary","error":"The library nests deeper than 256 levels; it was not saved."})"},
        {R"({"type":"saveFile","fileName":"Set.json","text":"[]"})",
         R"({"ok":true,"type":"saveFile","path":")" + (dir.path() / "Documents/CadenzoPlayer/Set.json").string() + "\"}"},
        {R"({"type":"saveFile","fileName":"Set.json","text":"[1]"})",
         R"({"ok":true,"type":"saveFile","path":")" + (dir.path() / "Documents/CadenzoPlayer/Set (2).json").string() + "\"}"},
        {R"({"type":"saveFile","fileName":".hidden","text":""})",
         R"({"ok":false,"type":"saveFile","error":"The file name \".hidden\" begins with a dot."})"},
        {R"({"type":"saveFile","fileName":7,"text":""})", R"({"ok":false,"type":"saveFile","error":"Missing fileName"})"},
        {R"({"type":"saveFile","fileName":"a"})", R"({"ok":false,"type":"saveFile","error":"Missing text"})"},
        // A song to a WAV file in the music folder; a name without the extension gets it.
        {R"({"type":"exportSong","fileName":"Take","tempo":240,"countInBars":0,"entries":[{"label":"A","bars":1}],"click":[0]})",
         R"({"ok":true,"type":"exportSong","path":")" + (dir.path() / "Music/CadenzoPlayer/Take.wav").string() + "\"}"},
        {R"({"type":"exportSong","fileName":"Take","entries":[],"tempo":0})",
         R"({"ok":false,"type":"exportSong","error":"Tempo must be a positive, finite number of beats per minute"})"},
        {R"({"type":"exportSong","entries":[]})", R"({"ok":false,"type":"exportSong","error":"Missing fileName"})"},
    };
    // All asked at once: refusals come at once, the rest as the disk allows, in the order asked (the loads
    // find nothing, then the second save).
    for (const auto& [request, reply] : cases) bridge->handleMessageText(request);
    runUntil([&] { return page->results.size() == std::size(cases); });
    for (const auto& [request, reply] : cases)
        EXPECT_EQ(std::count(page->results.begin(), page->results.end(), json::parse(reply)),
                  std::count_if(std::begin(cases), std::end(cases), [&reply = reply](const auto& c) { return c.second == reply; }))
            << request;
    SF_INFO info{};
    SNDFILE* take = sf_open((dir.path() / "Music/CadenzoPlayer/Take.wav").c_str(), SFM_READ, &info);
    ASSERT_TRUE(take);
    sf_close(take);
    // One bar at 240 bpm, the two seconds after it, on as many channels as the click needs.
    EXPECT_EQ(std::tuple(info.frames, info.channels, info.samplerate), std::tuple(144000, 2, 48000));
}

TEST_F(BridgeTest, ToneStillPlaysWhenThePageGoesBeforeItEndsAndNothingIsDelivered) {
    bridge->handleMessageText(R"({"type":"testTone","deviceUid":"virtual:Stage","channel":2,"channelCount":8})");
    page.reset();
    // The work holds the bridge until it has answered; nothing else does now.
    const std::weak_ptr<NativeAudioBridge> held = bridge;
    bridge.reset();
    ASSERT_FALSE(held.expired());
    gate.set_value();
    ASSERT_TRUE(runUntil([&] { return held.expired(); }));
    EXPECT_EQ(sounding(), "Stage:2 ");
}

TEST_F(BridgeTest, ALostDeviceIsToldUnaskedAndTheNextSongPlaysOnceItIsBack) {
    ManualClock clock;
    const std::string song = R"({"type":"playSong","deviceUid":"virtual:Studio","entries":[{"label":"A","bars":8}],)"
                             R"("click":[1]})";
    testing::internal::CaptureStdout();
    for (int take = 0; take < 2; ++take) {
        bridge->handleMessageText(song);
        ASSERT_TRUE(runUntil([&] { return page->results.size() == 2u * take + 1; }));
        EXPECT_EQ(page->results.back()["ok"], true);
        backend->clearRecording("Studio");
        backend->render("Studio", 48000);
        EXPECT_EQ(sounding(), "Studio:1 ");
        clock.advance(SongPlayer::deviceWatchSeconds);  // the watch goes on while the device is there
        ASSERT_TRUE(bridge->player()->state().engine);
        backend->removeDevice("Studio");
        clock.advance(SongPlayer::deviceWatchSeconds);
        ASSERT_TRUE(runUntil([&] { return page->results.size() == 2u * take + 2; }));
        EXPECT_EQ(page->results.back(), (json{{"type", "deviceLost"}, {"deviceUid", "virtual:Studio"}}));
        EXPECT_FALSE(bridge->player()->state().engine);
        backend->addDevice("Studio", 2);
    }
    testing::internal::GetCapturedStdout();
}

TEST(ProtocolParse, EachTypeReadsItsFieldsAndTakesValuesOfTheWrongKindAsAbsent) {
    // Anything but an object with a string type is malformed, and its requestId is not read.
    for (const char* text : {"", "undefined", R"({"type":"stopSong"} x)", R"([{"type":"stopSong"}])", "42", "{}",
                             R"({"type":1,"requestId":7})", R"({"type":null,"requestId":"a"})", "{\"type\":\"stop\xFFSong\"}"})
        EXPECT_EQ(refusal(text), malformed) << text;
    EXPECT_FALSE(parseAs<SetGuideMutedRequest>(R"({"type":"setGuideMuted","muted":2})").muted);  // only 1 and 0 count as booleans
    const auto levels = parseAs<SetLevelsRequest>(R"({"type":"setLevels","levels":{"click":"0","guide":-7.5,"pad":null}})");
    EXPECT_EQ(levels.levels, (LevelChange{std::nullopt, -7.5, std::nullopt}));

    // The channel is the first of a non-empty integer array `channels`, else `channel`, else 0.
    const std::string tone = R"({"type":"testTone",)";
    const std::pair<std::string, TestToneRequest> tones[] = {
        {tone + R"("channels":[3,5],"channel":7,"channelCount":8,"deviceUid":"jack:system","deviceNameContains":"sys"})",
         {{"jack:system", "sys"}, 3, 8}},
        {tone + R"("channels":[3,"5"],"channel":4.0})", {{}, 4}},
        {tone + R"("channels":[2.5],"channel":"4","channelCount":"8","deviceUid":5,"deviceNameContains":null})", {}},
        // Negative counts and empty names are carried; the tone and the device rules judge them.
        {tone + R"("channelCount":-1,"deviceUid":""})", {{"", std::nullopt}, 0, -1}},
        // A lone UTF-16 surrogate reads as U+FFFD.
        {tone + R"("deviceNameContains":"St\udc00"})", {{std::nullopt, "St\xEF\xBF\xBD"}}}};
    for (const auto& [text, expected] : tones) EXPECT_EQ(fields(parseAs<TestToneRequest>(text)), fields(expected)) << text;
    const std::string song = R"({"type":"playSong","entries":)";
    const std::pair<std::string, PlaySongRequest> songs[] = {
        {R"({"type":"playSong"})", {}},
        {song + R"([{"label":"In","bars":2,"colour":"red"},{"label":"V","bars":4.0}],"click":[0,1],"guide":[2],"pad":[3,4],
            "deviceUid":"alsa:hw","deviceNameContains":"Card","padKey":"Eb","padChords":["1","4/6"],"tempo":92.5,
            "beatsPerBar":3,"countInBars":1,"startSection":1,"totalChannels":9223372036854775807,"unknownField":[1],
            "guideMuted":1,"levels":{"click":-3.5,"guide":6,"pad":-200}})",
         {{"alsa:hw", "Card"}, true, {.clickChannels = {0, 1}, .guideChannels = {2}, .padChannels = {3, 4},
             .totalChannels = INT64_MAX, .tempo = 92.5, .beatsPerBar = 3, .countInBars = 1,
             .entries = {{"In", 2}, {"V", 4}}, .startSection = 1, .padKey = "Eb", .padChords = {{"1", "4/6"}},
             .guideMuted = true, .levels = {-3.5, 6, -200}}}},
        {song + R"([],"click":[0,"1"],"guide":[2.5],"pad":"3","padKey":5,"padChords":["1",4],"tempo":"92",
            "beatsPerBar":3.5,"countInBars":"1","startSection":true,"totalChannels":9223372036854775808.0,
            "guideMuted":"true","levels":{"click":"-3","guide":null,"pad":[1]}})",
         {{}, true, {}}},
        {R"({"type":"playSong","guideMuted":2,"levels":[{"click":-3}]})", {}},
        // Entries keep the well-formed sections in order, a tempo or metre of the wrong type left out; not an
        // array of objects, they are absent.
        {song + R"([{"label":"V","bars":4,"tempo":90.5,"beatsPerBar":3},{"label":"Ch"},{"bars":2},{"label":1,"bars":2},
            {"label":"A","bars":"2"},{"label":"C","bars":0,"tempo":"90","beatsPerBar":3.5},{"label":"D","bars":2.5},
            {"label":"","bars":-3,"tempo":null,"beatsPerBar":7}]})",
         {{}, true, {.entries = {{"V", 4, 90.5, 3}, {"C", 0}, {"", -3, std::nullopt, 7}}}}},
        {song + R"({"label":"V","bars":4}})", {}}};
    for (const auto& [text, expected] : songs) EXPECT_EQ(fields(parseAs<PlaySongRequest>(text)), fields(expected)) << text;
}

TEST(ProtocolParse, ARequestIdNestedBeyondTheLimitIsMalformedAndNothingOverflowsTheStack) {
    const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const auto body = [&](std::size_t depth) { return R"({"type":"stopSong","requestId":)" + nested(depth) + "}"; };
    const ParsedMessage atLimit = parseMessageText(body(maxNestingDepth - 1));
    EXPECT_EQ(delivered(successResult("stopSong"), std::get<Request>(atLimit).requestId),
              R"({"ok":true,"requestId":)" + nested(maxNestingDepth - 1) + R"(,"type":"stopSong"})");
    EXPECT_EQ(refusal(body(maxNestingDepth)), malformed);
    // Deep enough to overflow the stack if anything recursed over it.
    EXPECT_EQ(refusal(body(100000)), malformed);
    // Only the requestId is copied into the reply: a field no request reads may nest as deep as it likes.
    EXPECT_EQ(refusal(R"({"type":"stopSong","colour":)" + nested(100000) + "}"), "a request");
    EXPECT_EQ(delivered(successResult("stopSong"), json::parse(nested(100000))), "dropped");
}

TEST(ProtocolParse, LoneSurrogatesReadAsReplacementCharactersButMakeTheRequestIdMalformed) {
    const auto answer = [](std::string_view text) {
        const ParsedMessage parsed = parseMessageText(text);
        if (const auto* error = std::get_if<ProtocolError>(&parsed)) return delivered(error->result, error->requestId);
        return delivered(successResult(typeName(std::get<Request>(parsed).kind)), std::get<Request>(parsed).requestId);
    };
    const std::pair<std::string, std::string> cases[] = {
        {R"({"type":"stopSong","note":["\ud800x"],"requestId":"\ud83c\udfb5"})",
         "{\"ok\":true,\"requestId\":\"\xF0\x9F\x8E\xB5\",\"type\":\"stopSong\"}"},
        {R"({"type":"\ud800\ud83c\udfb5","requestId":1})",
         "{\"error\":\"Unknown message type: \xEF\xBF\xBD\xF0\x9F\x8E\xB5\",\"ok\":false,\"requestId\":1}"},
        {R"({"type":"stopSong","requestId":[{"a":"\udc00"}]})", malformed},
        {R"({"type":"stopSong","request\u0049d":"\ud800"})", malformed},
        // The last of two requestIds is the one copied; an escaped backslash starts no escape.
        {R"({"type":"stopSong","requestId":"\ud800","requestId":"\\ud800"})",
         R"({"ok":true,"requestId":"\\ud800","type":"stopSong"})"}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(answer(text), expected) << text;
}

TEST(ProtocolDelivery, ResultsAreCompactJsonWithLineSeparatorsEscapedOrDroppedWithoutAJsonForm) {
    const json list = listDevicesResult({{0, "jack:system", "system", 8, false}}), none = listDevicesResult({});
    EXPECT_EQ(delivered(list, {}) + delivered(none, {}), R"({"devices":[{"channels":8,"isDefault":false,"name":"system",)"
              R"("uid":"jack:system"}],"ok":true,"type":"listDevices"}{"devices":[],"ok":true,"type":"listDevices"})");
    const std::string text = refusal("{\"type\":\"a\\u2028b\",\"requestId\":\"\xE2\x80\xA9\xE2\x80\xA6\"}");
    EXPECT_EQ(text, "{\"error\":\"Unknown message type: a\\u2028b\",\"ok\":false,\"requestId\":\"\\u2029\xE2\x80\xA6\"}");
    EXPECT_EQ(json::parse(text), (json{{"error", "Unknown message type: a\xE2\x80\xA8" "b"}, {"ok", false},
                                       {"requestId", "\xE2\x80\xA9\xE2\x80\xA6"}}));
    const json stop = successResult("stopSong");
    // An unknown type with invalid UTF-8, say, is no object the page can be given.
    const std::pair<json, std::optional<json>> unwritable[] = {{unknownTypeResult("x\xFF"), {}}, {stop, json("\xC3")},
        {stop, json{{"\xFE", 1}}}, {playSongSuccessResult(NAN), {}}, {json::array({1}), {}}};
    for (std::size_t i = 0; i < std::size(unwritable); ++i)
        EXPECT_EQ(delivered(unwritable[i].first, unwritable[i].second), "dropped") << "result " << i;
}
