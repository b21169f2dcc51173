#include "CadenzoPlayer/bridge/Protocol.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace cadenzo;
using namespace cadenzo::BridgeProtocol;
using nlohmann::json;

namespace {

const json malformed = json::parse(R"({"ok":false,"error":"Malformed message"})");

std::optional<ProtocolError> errorOf(const ParsedMessage& parsed) {
    if (const auto* error = std::get_if<ProtocolError>(&parsed)) return *error;
    return std::nullopt;
}

std::optional<Request> requestOf(const ParsedMessage& parsed) {
    if (const auto* request = std::get_if<Request>(&parsed)) return *request;
    return std::nullopt;
}

// The typed request of a body that must parse as kind T.
template <typename T>
T parseAs(const json& body) {
    const auto request = requestOf(parseMessage(body));
    if (!request) {
        ADD_FAILURE() << "not a request: " << body;
        return T{};
    }
    const T* typed = std::get_if<T>(&request->kind);
    if (!typed) {
        ADD_FAILURE() << "parsed as " << typeName(request->kind) << ": " << body;
        return T{};
    }
    return *typed;
}

json nested(std::size_t depth) {
    return json::parse(std::string(depth, '[') + std::string(depth, ']'));
}

json payload(const std::string& script) {
    const std::string prefix = "(window.onNativeAudioResult || console.log)(";
    EXPECT_EQ(script.rfind(prefix, 0), 0u) << script;
    EXPECT_EQ(script.back(), ')') << script;
    return json::parse(script.substr(prefix.size(), script.size() - prefix.size() - 1));
}

} // namespace

TEST(ProtocolMalformed, AnythingButAnObjectWithAStringTypeIsMalformedWithoutAnId) {
    std::vector<ParsedMessage> parsed;
    for (const json& body :
         {json::array({1, 2}), json("listDevices"), json(42), json(nullptr), json::object(), json{{"requestId", 7}},
          json{{"type", 1}, {"requestId", 7}}, json{{"type", nullptr}, {"requestId", "a"}},
          json{{"type", json::array({"listDevices"})}}}) {
        parsed.push_back(parseMessage(body));
    }
    for (const char* text : {"", "undefined", "{", "{\"type\":\"stopSong\"} x", "[{\"type\":\"stopSong\"}]",
                             "\"stopSong\"", "{\"type\":\"stop\xFFSong\"}"}) {
        parsed.push_back(parseMessageText(text));
    }
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const auto error = errorOf(parsed[i]);
        ASSERT_TRUE(error) << "message " << i;
        EXPECT_EQ(error->result, malformed) << "message " << i;
        EXPECT_FALSE(error->requestId) << "message " << i;
    }
    EXPECT_TRUE(requestOf(parseMessageText(" {\"type\":\"stopSong\",\"requestId\":1}\n")));
}

TEST(ProtocolMalformed, NestingBeyondTheLimitIsRefusedWithoutCrashing) {
    json atLimit = {{"type", "stopSong"}, {"requestId", nested(maxNestingDepth - 1)}};
    const auto request = requestOf(parseMessage(atLimit));
    ASSERT_TRUE(request);
    const auto script = deliveryScript(successResult("stopSong"), request->requestId);
    ASSERT_TRUE(script);
    EXPECT_EQ(payload(*script)["requestId"], nested(maxNestingDepth - 1));

    json overLimit = {{"type", "stopSong"}, {"requestId", nested(maxNestingDepth)}};
    const auto refused = errorOf(parseMessage(overLimit));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->result, malformed);

    // Deep enough to overflow the stack if anything recursed over it.
    const std::size_t hostile = 200000;
    const std::string text = "{\"type\":\"stopSong\",\"requestId\":" + std::string(hostile, '[') +
                             std::string(hostile, ']') + "}";
    const auto error = errorOf(parseMessageText(text));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->result, malformed);
    EXPECT_FALSE(deliveryScript(successResult("stopSong"), nested(hostile)));
}

TEST(ProtocolUnknownType, TypeIsComparedExactlyAndEchoedUnchanged) {
    for (const std::string type : {"ListDevices", "listdevices", " stopSong ", "", "playSong\n", "\"quoted\""}) {
        const auto error = errorOf(parseMessage(json{{"type", type}, {"requestId", "r1"}}));
        ASSERT_TRUE(error) << type;
        EXPECT_EQ(error->result, (json{{"ok", false}, {"error", "Unknown message type: " + type}})) << type;
        ASSERT_TRUE(error->requestId);
        EXPECT_EQ(*error->requestId, "r1");
    }
    const auto withoutId = errorOf(parseMessage(json{{"type", "ListDevices"}}));
    ASSERT_TRUE(withoutId);
    EXPECT_FALSE(withoutId->requestId);
}

TEST(ProtocolRequestId, EveryJsonTypeComesBackUnchanged) {
    const json ids[] = {7, -3, 2.5, "7", "", nullptr, true, json::array({1, "a", nullptr}),
                        json{{"n", 1}, {"inner", {{"deep", json::array()}}}}, json::object()};
    for (const json& id : ids) {
        for (const char* type : {"listDevices", "stopSong", "noSuchType"}) {
            const ParsedMessage parsed = parseMessage(json{{"type", type}, {"requestId", id}});
            std::optional<json> carried;
            json result;
            if (auto request = requestOf(parsed)) {
                carried = request->requestId;
                result = successResult(typeName(request->kind));
            } else {
                carried = errorOf(parsed)->requestId;
                result = errorOf(parsed)->result;
            }
            ASSERT_TRUE(carried) << id << " " << type;
            // Same value and the same text on the wire: 7 stays 7 (not 7.0), "7" stays "7".
            const json delivered = payload(*deliveryScript(result, carried))["requestId"];
            EXPECT_EQ(delivered, id);
            EXPECT_EQ(delivered.dump(), id.dump());
        }
    }
}

TEST(ProtocolDispatch, EachTypeParsesToItsOwnKind) {
    for (const char* type : {"listDevices", "testTone", "playSong", "stopSong", "setGuideMuted"}) {
        const auto request = requestOf(parseMessage(json{{"type", type}}));
        ASSERT_TRUE(request) << type;
        EXPECT_EQ(typeName(request->kind), type);
    }
}

TEST(ProtocolConversion, Integers) {
    const auto int64Max = std::numeric_limits<std::int64_t>::max();
    const auto int64Min = std::numeric_limits<std::int64_t>::min();
    const auto uint64Max = std::numeric_limits<std::uint64_t>::max();
    const std::pair<json, std::optional<std::int64_t>> cases[] = {
        {2, 2}, {2.0, 2}, {-0.0, 0}, {-7.0, -7}, {2.5, {}}, {-0.5, {}}, {"2", {}}, {true, {}}, {nullptr, {}},
        {json::array({2}), {}}, {static_cast<std::uint64_t>(int64Max), int64Max},
        {static_cast<std::uint64_t>(int64Max) + 1, {}}, {uint64Max, {}}, {int64Min, int64Min},
        {-9223372036854775808.0, int64Min}, {9223372036854775808.0, {}},
        {9223372036854774784.0, 9223372036854774784}, {1e300, {}},
        {std::numeric_limits<double>::infinity(), {}}, {std::nan(""), {}},
        // As the parser delivers them from text.
        {json::parse("9223372036854775807"), int64Max}, {json::parse("9223372036854775808"), {}},
        {json::parse("-9223372036854775808"), int64Min}, {json::parse("1e2"), 100}, {json::parse("1e19"), {}},
    };
    for (const auto& [value, expected] : cases) EXPECT_EQ(integerValue(value), expected) << value;
}

TEST(ProtocolConversion, NumbersBooleansAndArrays) {
    const std::pair<json, std::optional<double>> numbers[] = {
        {92.5, 92.5}, {3, 3.0}, {std::numeric_limits<std::uint64_t>::max(), 18446744073709551615.0},
        {"92.5", {}}, {false, {}}, {std::numeric_limits<double>::quiet_NaN(), {}},
    };
    for (const auto& [value, expected] : numbers) EXPECT_EQ(numberValue(value), expected) << value;

    const std::pair<json, std::optional<bool>> booleans[] = {
        {true, true}, {false, false}, {1, true}, {std::uint64_t{1}, true}, {1.0, true}, {0, false},
        {2, {}},      {-1, {}},       {0.5, {}}, {"true", {}},             {nullptr, {}},
    };
    for (const auto& [value, expected] : booleans) EXPECT_EQ(booleanValue(value), expected) << value;

    EXPECT_EQ(integerArrayValue(json::array({3, 5.0, -1})), (std::vector<std::int64_t>{3, 5, -1}));
    EXPECT_EQ(integerArrayValue(json::array()), std::vector<std::int64_t>{});
    EXPECT_FALSE(integerArrayValue(json::array({1, "2"})));
    EXPECT_FALSE(integerArrayValue(3));
    EXPECT_EQ(stringArrayValue(json::array({"I", "IV"})), (std::vector<std::string>{"I", "IV"}));
    EXPECT_FALSE(stringArrayValue(json::array({"I", 4})));
    EXPECT_FALSE(stringArrayValue("I"));
}

TEST(ProtocolTestTone, ToneChannelRules) {
    struct Case {
        json fields;
        std::int64_t channel;
    };
    const Case cases[] = {
        {{{"channels", json::array({3, 5})}, {"channel", 7}}, 3},
        {{{"channel", 4}}, 4},
        {json::object(), 0},
        {{{"channels", json::array({3, "5"})}, {"channel", 4}}, 4},
        {{{"channels", json::array({"3"})}}, 0},
        {{{"channels", json::array()}, {"channel", 6}}, 6},
        {{{"channels", json::array()}}, 0},
        {{{"channels", 3}, {"channel", 2}}, 2},
        {{{"channels", json::array({2.0})}}, 2},
        {{{"channels", json::array({2.5})}, {"channel", 1.0}}, 1},
        {{{"channel", "4"}}, 0},
        {{{"channel", 4.5}}, 0},
    };
    for (const Case& c : cases) {
        json body = c.fields;
        body["type"] = "testTone";
        EXPECT_EQ(parseAs<TestToneRequest>(body).channel, c.channel) << body;
    }
}

TEST(ProtocolTestTone, ChannelCountAndSelection) {
    const auto defaults = parseAs<TestToneRequest>({{"type", "testTone"}});
    EXPECT_EQ(defaults.channelCount, 2);
    EXPECT_EQ(defaults.selection, DeviceSelection{});

    const auto given = parseAs<TestToneRequest>(
        {{"type", "testTone"}, {"channelCount", 8}, {"deviceUid", "jack:system"}, {"deviceNameContains", "sys"}});
    EXPECT_EQ(given.channelCount, 8);
    EXPECT_EQ(given.selection.deviceUid, "jack:system");
    EXPECT_EQ(given.selection.deviceNameContains, "sys");

    const auto wrong = parseAs<TestToneRequest>(
        {{"type", "testTone"}, {"channelCount", "8"}, {"deviceUid", 5}, {"deviceNameContains", nullptr}});
    EXPECT_EQ(wrong.channelCount, 2);
    EXPECT_FALSE(wrong.selection.deviceUid);
    EXPECT_FALSE(wrong.selection.deviceNameContains);

    // Negative and empty strings are carried; the tone and the device rules judge them.
    const auto odd = parseAs<TestToneRequest>({{"type", "testTone"}, {"channelCount", -1}, {"deviceUid", ""}});
    EXPECT_EQ(odd.channelCount, -1);
    EXPECT_EQ(odd.selection.deviceUid, "");
}

// Every field but the entries and the device selection as it is when not sent.
void expectDefaultSettings(const PlaySongRequest& request) {
    EXPECT_TRUE(request.click.empty());
    EXPECT_TRUE(request.guide.empty());
    EXPECT_TRUE(request.pad.empty());
    EXPECT_FALSE(request.padKey);
    EXPECT_FALSE(request.padChords);
    EXPECT_EQ(request.tempo, 120.0);
    EXPECT_EQ(request.beatsPerBar, 4);
    EXPECT_EQ(request.countInBars, 2);
    EXPECT_EQ(request.startSection, 0);
    EXPECT_FALSE(request.totalChannels);
}

TEST(ProtocolPlaySong, DefaultsWhenOnlyTypeIsGiven) {
    const auto request = parseAs<PlaySongRequest>({{"type", "playSong"}});
    EXPECT_FALSE(request.entries);
    EXPECT_EQ(request.selection, DeviceSelection{});
    expectDefaultSettings(request);
}

TEST(ProtocolPlaySong, EveryFieldIsRead) {
    const auto request = parseAs<PlaySongRequest>(json::parse(R"({
        "type": "playSong", "deviceUid": "alsa:hw", "deviceNameContains": "Card",
        "entries": [{"label": "In", "bars": 2, "colour": "red"}, {"label": "V", "bars": 4.0}],
        "click": [0, 1], "guide": [2], "pad": [3, 4], "padKey": "Eb", "padChords": ["1", "4/6"],
        "tempo": 92.5, "beatsPerBar": 3, "countInBars": 1, "startSection": 1, "totalChannels": 16,
        "unknownField": [1, 2, 3]})"));
    EXPECT_EQ(request.selection.deviceUid, "alsa:hw");
    EXPECT_EQ(request.selection.deviceNameContains, "Card");
    EXPECT_EQ(request.entries, (std::vector<MapEntry>{{"In", 2}, {"V", 4}}));
    EXPECT_EQ(request.click, (std::vector<std::int64_t>{0, 1}));
    EXPECT_EQ(request.guide, (std::vector<std::int64_t>{2}));
    EXPECT_EQ(request.pad, (std::vector<std::int64_t>{3, 4}));
    EXPECT_EQ(request.padKey, "Eb");
    EXPECT_EQ(request.padChords, (std::vector<std::string>{"1", "4/6"}));
    EXPECT_EQ(request.tempo, 92.5);
    EXPECT_EQ(request.beatsPerBar, 3);
    EXPECT_EQ(request.countInBars, 1);
    EXPECT_EQ(request.startSection, 1);
    EXPECT_EQ(request.totalChannels, 16);
}

TEST(ProtocolPlaySong, WrongTypesFallBackToDefaults) {
    const auto request = parseAs<PlaySongRequest>(json::parse(R"({
        "type": "playSong", "entries": [], "click": [0, "1"], "guide": [2.5], "pad": "3",
        "padKey": 5, "padChords": ["1", 4], "tempo": "92", "beatsPerBar": 3.5, "countInBars": "1",
        "startSection": true, "totalChannels": 9223372036854775808})"));
    EXPECT_EQ(request.entries, std::vector<MapEntry>{});
    expectDefaultSettings(request);
}

TEST(ProtocolPlaySong, EntriesKeepOnlyWellFormedSectionsInOrder) {
    auto entriesOf = [](const json& entries) {
        return parseAs<PlaySongRequest>({{"type", "playSong"}, {"entries", entries}}).entries;
    };
    EXPECT_EQ(entriesOf(json::parse(R"([{"label":"V","bars":4},{"label":"Ch"},{"bars":2}])")),
              (std::vector<MapEntry>{{"V", 4}}));
    EXPECT_EQ(entriesOf(json::parse(
                  R"([{"label":"B","bars":1},{"label":1,"bars":2},{"label":"A","bars":"2"},{"label":"C","bars":0},
                      {"label":"D","bars":2.5},{"label":"","bars":-3}])")),
              (std::vector<MapEntry>{{"B", 1}, {"C", 0}, {"", -3}}));
    EXPECT_EQ(entriesOf(json::parse(R"([{"bars":2}])")), std::vector<MapEntry>{});

    // Not an array of objects: the entries are absent, not empty.
    EXPECT_FALSE(entriesOf(json::parse(R"([{"label":"V","bars":4}, 3])")));
    EXPECT_FALSE(entriesOf(json::parse(R"([{"label":"V","bars":4}, null])")));
    EXPECT_FALSE(entriesOf(json::parse(R"({"label":"V","bars":4})")));
    EXPECT_FALSE(entriesOf("In:2,V:4"));
}

TEST(ProtocolSetGuideMuted, MutedFollowsTheBooleanRule) {
    const std::pair<json, bool> cases[] = {{true, true}, {false, false}, {1, true},       {0, false},
                                           {2, false},   {-1, false},   {"true", false}, {nullptr, false}};
    for (const auto& [value, muted] : cases)
        EXPECT_EQ(parseAs<SetGuideMutedRequest>({{"type", "setGuideMuted"}, {"muted", value}}).muted, muted) << value;
    EXPECT_FALSE(parseAs<SetGuideMutedRequest>({{"type", "setGuideMuted"}}).muted);
}

TEST(ProtocolResults, ErrorAndSuccessObjects) {
    EXPECT_EQ(malformedMessageResult(), malformed);
    EXPECT_EQ(unknownTypeResult("Stop"), json::parse(R"({"ok":false,"error":"Unknown message type: Stop"})"));
    EXPECT_EQ(successResult("stopSong"), json::parse(R"({"ok":true,"type":"stopSong"})"));
    EXPECT_EQ(failureResult("testTone", noMatchingDeviceText),
              json::parse(R"({"ok":false,"type":"testTone","error":"No matching device"})"));
    EXPECT_EQ(failureResult("playSong", missingEntriesText),
              json::parse(R"({"ok":false,"type":"playSong","error":"Missing entries"})"));
    EXPECT_EQ(playSongSuccessResult(33.6), json::parse(R"({"ok":true,"type":"playSong","totalDuration":33.6})"));
}

TEST(ProtocolResults, DeviceObjectsFlagOnlyTheDefault) {
    const std::vector<CoreAudioDevices::Device> devices = {
        {11, "jack:system", "system", 8}, {12, "alsa:hw:1", "USB Card", 16}, {13, "pulse:out", "Pulse", 2}};
    const json expected = json::parse(R"({"ok":true,"type":"listDevices","devices":[
        {"uid":"jack:system","name":"system","channels":8,"isDefault":false},
        {"uid":"alsa:hw:1","name":"USB Card","channels":16,"isDefault":true},
        {"uid":"pulse:out","name":"Pulse","channels":2,"isDefault":false}]})");
    EXPECT_EQ(listDevicesResult(devices, 12u), expected);

    for (const auto& device : listDevicesResult(devices, std::nullopt)["devices"]) {
        EXPECT_EQ(device["isDefault"], false);
        EXPECT_EQ(device.size(), 4u);
    }
    // A default that is not in the list flags nothing; id 0 is an ordinary id here.
    for (const auto& device : listDevicesResult(devices, 0u)["devices"]) EXPECT_EQ(device["isDefault"], false);
    EXPECT_EQ(listDevicesResult({}, 12u), json::parse(R"({"ok":true,"type":"listDevices","devices":[]})"));
}

TEST(ProtocolDelivery, ScriptTextForASmallResult) {
    EXPECT_EQ(deliveryScript(successResult("stopSong"), json(7)),
              R"((window.onNativeAudioResult || console.log)({"ok":true,"requestId":7,"type":"stopSong"}))");
    EXPECT_EQ(deliveryScript(malformedMessageResult(), std::nullopt),
              R"((window.onNativeAudioResult || console.log)({"error":"Malformed message","ok":false}))");
    // An absent id is not added, and the body without one parses without one.
    EXPECT_FALSE(requestOf(parseMessage(json{{"type", "stopSong"}}))->requestId);
}

TEST(ProtocolDelivery, LineSeparatorsAreEscapedInsideTheScript) {
    const auto parsed = parseMessageText("{\"type\":\"a\\u2028b\",\"requestId\":\"\xE2\x80\xA9\xE2\x80\xA6\"}");
    const auto error = errorOf(parsed);
    ASSERT_TRUE(error);
    const auto script = deliveryScript(error->result, error->requestId);
    ASSERT_TRUE(script);
    EXPECT_EQ(*script, "(window.onNativeAudioResult || console.log)({\"error\":\"Unknown message type: a\\u2028b\","
                       "\"ok\":false,\"requestId\":\"\\u2029\xE2\x80\xA6\"})");
    EXPECT_EQ(script->find("\xE2\x80\xA8"), std::string::npos);
    // The escaped text still means the original strings.
    const json delivered = payload(*script);
    EXPECT_EQ(delivered["error"], "Unknown message type: a\xE2\x80\xA8" "b");
    EXPECT_EQ(delivered["requestId"], "\xE2\x80\xA9\xE2\x80\xA6");
}

TEST(ProtocolDelivery, UnwritableResultsAreDropped) {
    EXPECT_FALSE(deliveryScript(failureResult("playSong", "bad \xFF byte"), std::nullopt));
    EXPECT_FALSE(deliveryScript(successResult("stopSong"), json("\xC3")));
    EXPECT_FALSE(deliveryScript(successResult("stopSong"), json{{"\xFE", 1}}));
    EXPECT_FALSE(deliveryScript(playSongSuccessResult(std::nan("")), std::nullopt));
    EXPECT_FALSE(deliveryScript(playSongSuccessResult(std::numeric_limits<double>::infinity()), std::nullopt));
    EXPECT_FALSE(deliveryScript(json::array({1}), std::nullopt));
    EXPECT_FALSE(deliveryScript(json::binary({1, 2}), std::nullopt));
    EXPECT_FALSE(deliveryScript(successResult("stopSong"), json::binary({1, 2})));

    // An unknown type carrying invalid UTF-8 parses, and its answer is dropped.
    const auto error = errorOf(parseMessage(json{{"type", "x\xFF"}, {"requestId", 1}}));
    ASSERT_TRUE(error);
    EXPECT_FALSE(deliveryScript(error->result, error->requestId));
}
