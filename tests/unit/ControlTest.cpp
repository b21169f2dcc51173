#include "CadenzoPlayer/control/HandsFree.hpp"

#include "ErrorText.hpp"
#include "Eventually.hpp"

#include <gtest/gtest.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

// Foot switches and tablets: MIDI bytes and mappings, and a real OSC port on the loopback.

using namespace cadenzo;
using nlohmann::json;
using Kind = MidiPress::Kind;

TEST(MidiControl, BytesReadAsPressesOrNothing) {
    const std::vector<std::pair<std::vector<unsigned char>, std::optional<MidiPress>>> cases{
        {{0x90, 60, 100}, MidiPress{Kind::note, 1, 60}}, {{0x9F, 60, 1}, MidiPress{Kind::note, 16, 60}},
        {{0x90, 60, 0}, std::nullopt},                   {{0x80, 60, 64}, std::nullopt},
        {{0xB3, 80, 64}, MidiPress{Kind::cc, 4, 80}},    {{0xB0, 80, 63}, std::nullopt},
        {{0xC2, 0}, MidiPress{Kind::program, 3, 0}},     {{0xE0, 0, 64}, std::nullopt},
        {{0xB0, 80}, std::nullopt},                      {{0xB0, 0x80, 127}, std::nullopt},
        {{0xF8}, std::nullopt},                          {{}, std::nullopt}};
    for (const auto& [bytes, press] : cases) EXPECT_EQ(pressOf(bytes), press) << json(bytes);
}

TEST(MidiControl, MappingsParseBackToThemselvesOrNameTheFirstBadField) {
    const std::string cc = R"("kind":"cc","channel":0,"number":80)";
    const std::vector<std::pair<std::string, std::string>> cases{
        {R"([{"kind":"note","channel":16,"number":127,"action":"section","section":3},
            {"kind":"program","channel":1,"number":0,"action":"vamp","on":false},{)" + cc + R"(,"action":"cues"}])", ""},
        {"[]", ""},
        {"{}", "Mappings must be a list"},
        {R"([{)" + cc + R"(,"action":"tap"},5])", "Mapping 2: not an object"},
        {R"([{"kind":"pc","channel":0,"number":1,"action":"tap"}])", R"(Mapping 1: kind must be "cc", "note" or "program")"},
        {R"([{"kind":"cc","channel":17,"number":1,"action":"tap"}])", "Mapping 1: channel must be 0 (any) to 16"},
        {R"([{"kind":"cc","channel":"1","number":1,"action":"tap"}])", "Mapping 1: channel must be 0 (any) to 16"},
        {R"([{"kind":"cc","channel":1,"number":128,"action":"tap"}])", "Mapping 1: number must be 0 to 127"},
        {"[{" + cc + R"(,"action":"jump"}])", R"(Mapping 1: unknown action "jump")"},
        {"[{" + cc + "}]", "Mapping 1: unknown action"},
        {"[{" + cc + R"(,"action":"section"}])", "Mapping 1: section must be a whole number from 1"},
        {"[{" + cc + R"(,"action":"section","section":0}])", "Mapping 1: section must be a whole number from 1"},
        {"[{" + cc + R"(,"action":"play","section":2}])", "Mapping 1: section is only for the section action"},
        {"[{" + cc + R"(,"action":"vamp","on":1}])", "Mapping 1: on must be true or false"},
        {"[{" + cc + R"(,"action":"tap","on":true}])", "Mapping 1: on is only for vamp and cues"},
        {json(std::vector<json>(129, json::parse("{" + cc + R"(,"action":"tap"})"))).dump(), "At most 128 mappings"}};
    for (const auto& [text, failure] : cases) {
        const json mappings = json::parse(text);
        json parsed;
        EXPECT_EQ(errorText([&] { parsed = toJson(parseMidiMappings(mappings)); }),
                  failure.empty() ? "no error" : "Control 1: " + failure);
        if (failure.empty()) EXPECT_EQ(parsed, mappings);
    }
}

TEST(MidiControl, DefaultPedalIsCc80To83OnAnyChannelAndTheFirstMatchActs) {
    EXPECT_EQ(toJson(defaultMidiMappings()), json::parse(R"([{"kind":"cc","channel":0,"number":80,"action":"playStop"},
        {"kind":"cc","channel":0,"number":81,"action":"next"},{"kind":"cc","channel":0,"number":82,"action":"nextSection"},
        {"kind":"cc","channel":0,"number":83,"action":"vamp"}])"));
    EXPECT_EQ(mappedEvent(defaultMidiMappings(), {Kind::cc, 9, 81}), ControlEvent{ControlAction::next});
    EXPECT_EQ(mappedEvent(defaultMidiMappings(), {Kind::note, 1, 80}), std::nullopt);
    const std::vector<MidiMapping> mappings{{Kind::note, 2, 60, {ControlAction::section, 4}},
                                            {Kind::note, 0, 60, {ControlAction::cues, {}, false}}};
    EXPECT_EQ(controlMessage(*mappedEvent(mappings, {Kind::note, 2, 60})),
              json::parse(R"({"type":"control","action":"section","section":4})"));
    EXPECT_EQ(controlMessage(*mappedEvent(mappings, {Kind::note, 3, 60})),
              json::parse(R"({"type":"control","action":"cues","on":false})"));
}

TEST(OscControl, RateLimitLetsABurstOfTenThenTwentyASecond) {
    RateLimit limit;
    int allowed = 0;
    for (int i = 0; i < 15; ++i) allowed += limit.allow(1.0);
    EXPECT_EQ(allowed, 10);
    EXPECT_FALSE(limit.allow(1.03125));  // 0.625 of an action
    EXPECT_TRUE(limit.allow(1.0625));
    allowed = 0;
    for (int i = 0; i < 15; ++i) allowed += limit.allow(100.0);
    EXPECT_EQ(allowed, 10);
}

namespace {

// A UDP socket on a free loopback port, and its port.
std::pair<int, int> boundSocket() {
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(socket, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return {socket, ntohs(address.sin_port)};
}

std::string freePort() {
    const auto [socket, port] = boundSocket();
    close(socket);
    return std::to_string(port);
}

// A HandsFree on a free loopback port with a fake song position, and a client sending to it.
struct OscRig {
    explicit OscRig(double perSecond = 20, double burst = 10, std::optional<std::string> port = freePort())
        : hands({false, port, "127.0.0.1", perSecond, burst},
                [this](const ControlEvent& event) { locked([&] { events.push_back(event); }); },
                [this] { return ++polls, locked([&] { return position; }); }),
          to(lo_address_new("127.0.0.1", std::to_string(hands.oscPort().value_or(0)).c_str())) {}
    ~OscRig() { lo_address_free(to); }
    template <class Work>
    std::invoke_result_t<Work> locked(Work work) {
        std::lock_guard lock(mutex);
        return work();
    }
    std::uint64_t count(const char* what) { return hands.status()["osc"][what]; }

    std::mutex mutex;
    std::vector<ControlEvent> events;
    PlayPosition position;
    std::atomic<int> polls{0};
    HandsFree hands;
    lo_address to;
};

// A tablet on a port of its own, with the states it was sent.
struct Tablet {
    Tablet() : server(lo_server_new(nullptr, nullptr)) {
        const auto state = [](const char*, const char*, lo_arg** a, int, lo_message, void* self) {
            // Arguments are only 4-byte aligned: read as bytes, not through the union.
            const auto text = [&](int i) { return std::string(reinterpret_cast<const char*>(a[i])) + "|"; };
            const auto number = [&](int i) { return std::to_string(static_cast<int>(lo_hires_val(LO_INT32, a[i]))); };
            auto& states = static_cast<Tablet*>(self)->states;
            states.push_back(text(0) + text(1) + number(2) + "|" + text(3) + number(4) + "|" + number(5));
            return 0;
        };
        lo_server_add_method(server, "/cadenzo/state", "ssisii", state, this);
    }
    ~Tablet() { lo_server_free(server); }
    void send(OscRig& rig, const char* path) { lo_send_from(rig.to, server, LO_TT_IMMEDIATE, path, ""); }
    bool receives(std::size_t count) {
        return eventually([&] { return lo_server_recv_noblock(server, 1), states.size() >= count; });
    }
    lo_server server;
    std::vector<std::string> states;
};

} // namespace

TEST(OscControl, PortsThatCannotBeOpenedLeaveOscOffAndSayWhy) {
    const auto [busy, busyPort] = boundSocket();
    const auto busyText = std::to_string(busyPort);
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases{
        {std::nullopt, "OSC control is off (set CONTROL_OSC_PORT)"},
        {"abc", "OSC port abc cannot be opened: not a port number from 1 to 65535"},
        {"0", "OSC port 0 cannot be opened: not a port number from 1 to 65535"},
        {"65536", "OSC port 65536 cannot be opened: not a port number from 1 to 65535"},
        {busyText, "OSC port " + busyText + " cannot be opened: Address already in use"}};
    for (const auto& [port, message] : cases) {
        const json osc = OscRig(20, 10, port).hands.status()["osc"];
        EXPECT_EQ(osc, json({{"port", nullptr}, {"bind", "127.0.0.1"}, {"message", message}, {"received", 0},
                             {"dropped", 0}}));
    }
    close(busy);
    const auto settings = HandsFree::settingsFromEnvironment([](std::string_view name) {
        return name == "CONTROL_OSC_PORT" ? std::optional<std::string>("9000") : std::optional<std::string>("");
    });
    EXPECT_EQ(settings.oscPort, "9000");
    EXPECT_EQ(settings.oscBind, "127.0.0.1");
}

TEST(OscControl, EveryAddressActsOnceAndWhatIsNotUnderstoodIsDropped) {
    OscRig rig(1e6, 1e6);
    EXPECT_EQ(rig.hands.status()["osc"]["message"], "OSC control: udp 127.0.0.1:" + std::to_string(*rig.hands.oscPort()));
    for (const char* path : {"/cadenzo/play", "/cadenzo/playStop", "/cadenzo/nextSection"}) lo_send(rig.to, path, "");
    lo_send(rig.to, "/cadenzo/stop", "i", 1);
    lo_send(rig.to, "/cadenzo/tap", "f", 1.0f);
    lo_send(rig.to, "/cadenzo/tap", "i", 0);  // the button's release
    lo_send(rig.to, "/cadenzo/section", "i", 3);
    lo_send(rig.to, "/cadenzo/section", "f", 2.0f);
    lo_send(rig.to, "/cadenzo/vamp", "i", 0);
    lo_send(rig.to, "/cadenzo/cues", "f", 0.5f);
    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    for (const char* path : {"/cadenzo/next", "/cadenzo/previous"}) lo_bundle_add_message(bundle, path, lo_message_new());
    lo_send_bundle(rig.to, bundle);
    lo_bundle_free_recursive(bundle);
    for (const char* path : {"/cadenzo/rewind", "/other/play", "/cadenzo/vamp"}) lo_send(rig.to, path, "");
    lo_send(rig.to, "/cadenzo/section", "s", "3");
    lo_send(rig.to, "/cadenzo/section", "i", 0);
    lo_send(rig.to, "/cadenzo/play", "ii", 1, 1);
    const int garbage = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in server{AF_INET, htons(static_cast<std::uint16_t>(*rig.hands.oscPort())), {htonl(INADDR_LOOPBACK)}, {}};
    // Not OSC at all, and a bundle whose element runs past its end.
    for (const std::string& bytes : {std::string("garbage!"), std::string("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\10/cad", 24)})
        sendto(garbage, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
    close(garbage);
    ASSERT_TRUE(eventually([&] { return rig.count("received") == 20; }));
    using A = ControlAction;
    EXPECT_EQ(rig.locked([&] { return rig.events; }),
              (std::vector<ControlEvent>{{A::play}, {A::playStop}, {A::nextSection}, {A::stop}, {A::tap}, {A::section, 3},
                                         {A::section, 2}, {A::vamp, {}, false}, {A::cues, {}, true}, {A::next},
                                         {A::previous}}));
    EXPECT_EQ(rig.count("dropped"), 8u);
}

TEST(OscControl, AFloodIsCutToTheRateAndTheServerStillAnswers) {
    OscRig rig;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) lo_send(rig.to, "/cadenzo/tap", "");
    Tablet tablet;
    // Subscribing again while the flood's excess is still dropped, until the state comes back.
    EXPECT_TRUE(eventually([&] {
        if (tablet.states.empty()) tablet.send(rig, "/cadenzo/subscribe"), lo_server_recv_noblock(tablet.server, 20);
        return !tablet.states.empty();
    }));
    const auto taps = rig.locked([&] { return rig.events; }).size();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(taps, 10u);
    EXPECT_LE(taps, 10 + 20 * elapsed);
    EXPECT_GT(rig.count("dropped"), 0u);
}

TEST(OscControl, SubscribersAreSentTheStateOncePerChange) {
    OscRig rig(1e6, 1e6);
    rig.locked([&] { rig.position = {true, "Intro Song", 0, "Count-in", 2, 3}; });
    Tablet tablet, later;
    // Several position polls with nothing new: nothing may be sent meanwhile.
    const auto settle = [&] { const int seen = rig.polls; EXPECT_TRUE(eventually([&] { return rig.polls >= seen + 5; })); };
    tablet.send(rig, "/cadenzo/subscribe");
    ASSERT_TRUE(tablet.receives(1));
    settle();
    rig.locked([&] { rig.position = {true, "Intro Song", 1, "Verse", 1, 1}; });
    ASSERT_TRUE(tablet.receives(2));
    settle();
    tablet.send(rig, "/cadenzo/unsubscribe");
    later.send(rig, "/cadenzo/subscribe");
    ASSERT_TRUE(later.receives(1));
    rig.locked([&] { rig.position = {}; });
    ASSERT_TRUE(later.receives(2));
    lo_server_recv_noblock(tablet.server, 0);
    EXPECT_EQ(tablet.states,
              (std::vector<std::string>{"playing|Intro Song|0|Count-in|2|3", "playing|Intro Song|1|Verse|1|1"}));
    EXPECT_EQ(later.states, (std::vector<std::string>{"playing|Intro Song|1|Verse|1|1", "stopped||0||0|0"}));
}
