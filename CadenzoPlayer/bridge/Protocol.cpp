#include "CadenzoPlayer/bridge/Protocol.hpp"

#include "CadenzoPlayer/JsonLimits.hpp"
#include "CadenzoPlayer/library/LibraryStore.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace cadenzo::BridgeProtocol {

using nlohmann::json;

namespace {

constexpr double twoToThe63 = 9223372036854775808.0;

const json* field(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

template <typename Convert>
auto readField(const json& object, const char* key, Convert convert) -> decltype(convert(object)) {
    const json* value = field(object, key);
    if (!value) return std::nullopt;
    return convert(*value);
}

// Walks without recursion so that depth itself cannot hurt. Checks nesting
// and, when asked, that every value has a JSON text form.
DeviceSelection readSelection(const json& body) {
    return {readField(body, "deviceUid", stringValue), readField(body, "deviceNameContains", stringValue)};
}

TestToneRequest readTestTone(const json& body) {
    TestToneRequest request;
    request.selection = readSelection(body);
    // An empty list names no channel, so it counts like a missing one.
    auto channels = readField(body, "channels", integerArrayValue);
    if (channels && !channels->empty())
        request.channel = channels->front();
    else
        request.channel = readField(body, "channel", integerValue).value_or(0);
    request.channelCount = readField(body, "channelCount", integerValue).value_or(2);
    return request;
}

std::optional<std::vector<MapEntry>> readEntries(const json& body) {
    const json* entries = field(body, "entries");
    if (!entries || !isArrayOfObjects(*entries)) return std::nullopt;
    std::vector<MapEntry> sections;
    for (const json& element : *entries) {
        auto label = readField(element, "label", stringValue);
        auto bars = readField(element, "bars", integerValue);
        if (label && bars) {
            sections.push_back({std::move(*label), *bars, readField(element, "tempo", numberValue),
                                readField(element, "beatsPerBar", integerValue)});
        }
    }
    return sections;
}

// Not an object, `levels` is absent; so is each key of another kind.
LevelChange readLevels(const json& body) {
    const json* levels = field(body, "levels");
    if (!levels || !levels->is_object()) return {};
    return {readField(*levels, "click", numberValue), readField(*levels, "guide", numberValue),
            readField(*levels, "pad", numberValue)};
}

} // namespace

PlaySongRequest readPlaySong(const json& body) {
    PlaySongRequest request;
    request.selection = readSelection(body);
    SongSettings& song = request.song;
    auto entries = readEntries(body);
    request.hasEntries = entries.has_value();
    if (entries) song.entries = std::move(*entries);
    song.clickChannels = readField(body, "click", integerArrayValue).value_or(std::vector<std::int64_t>{});
    song.guideChannels = readField(body, "guide", integerArrayValue).value_or(std::vector<std::int64_t>{});
    song.padChannels = readField(body, "pad", integerArrayValue).value_or(std::vector<std::int64_t>{});
    song.padKey = readField(body, "padKey", stringValue);
    song.padChords = readField(body, "padChords", stringArrayValue);
    song.tempo = readField(body, "tempo", numberValue).value_or(120.0);
    song.beatsPerBar = readField(body, "beatsPerBar", integerValue).value_or(4);
    song.countInBars = readField(body, "countInBars", integerValue).value_or(2);
    song.startSection = readField(body, "startSection", integerValue).value_or(0);
    song.totalChannels = readField(body, "totalChannels", integerValue);
    song.guideMuted = readField(body, "guideMuted", booleanValue).value_or(false);
    song.title = readField(body, "title", stringValue).value_or("");
    if (song.title.size() > SongSettings::longestLabel) {
        // Cut on a character boundary: the title is only shown.
        std::size_t cut = SongSettings::longestLabel;
        while (cut > 0 && (static_cast<unsigned char>(song.title[cut]) & 0xC0) == 0x80) --cut;
        song.title.resize(cut);
    }
    const LevelChange levels = readLevels(body);
    song.levels = {levels.click.value_or(0), levels.guide.value_or(0), levels.pad.value_or(0)};
    return request;
}

namespace {

// The code unit of the "\uXXXX" escape at `at`, if there is one.
std::optional<unsigned> escapedUnit(std::string_view text, std::size_t at) {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return std::nullopt;
    unsigned unit = 0;
    const char* end = text.data() + at + 6;
    if (std::from_chars(text.data() + at + 2, end, unit, 16).ptr != end) return std::nullopt;
    return unit;
}

bool isHighSurrogate(std::optional<unsigned> unit) { return unit && *unit >= 0xD800 && *unit < 0xDC00; }
bool isLowSurrogate(std::optional<unsigned> unit) { return unit && *unit >= 0xDC00 && *unit < 0xE000; }

// A page's strings may hold lone UTF-16 surrogates, which UTF-8 cannot carry
// and the parser refuses. Each one's escape becomes "\ufffd", in place. The
// requestId must come back unchanged, so false when one lay in it (the last
// requestId counts, as it does for the parser).
bool replaceLoneSurrogates(std::string& text) {
    int depth = 0;
    bool rootIsObject = false, atKey = false, inRequestId = false, requestIdIntact = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' || c == '[') {
            if (++depth == 1) rootIsObject = atKey = c == '{';
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ',' && depth == 1) {
            atKey = rootIsObject;
        } else if (c == '"') {
            const std::size_t start = i;
            bool replaced = false;
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] != '\\') continue;
                const auto unit = escapedUnit(text, i);
                if (isHighSurrogate(unit) && isLowSurrogate(escapedUnit(text, i + 6))) {
                    i += 11;
                } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
                    text.replace(i, 6, "\\ufffd");
                    replaced = true;
                    i += 5;
                } else {
                    ++i;  // the escaped character, a quote perhaps
                }
            }
            if (depth == 1 && atKey) {
                atKey = false;
                inRequestId = json::parse(text.substr(start, i + 1 - start), nullptr, false) == "requestId";
                if (inRequestId) requestIdIntact = true;
            } else if (replaced && inRequestId) {
                requestIdIntact = false;
            }
        }
    }
    return requestIdIntact;
}

json resultWithType(bool ok, std::string_view type) {
    return json{{"ok", ok}, {"type", std::string(type)}};
}

void escapeLineSeparators(std::string& text) {
    // U+2028 and U+2029 are legal inside JSON strings but end a line in
    // older script engines; the escaped forms mean the same to both.
    static constexpr std::string_view lineSeparator = "\xE2\x80\xA8";
    static constexpr std::string_view paragraphSeparator = "\xE2\x80\xA9";
    std::size_t at = 0;
    while ((at = text.find("\xE2\x80", at)) != std::string::npos) {
        std::string_view rest = std::string_view(text).substr(at, 3);
        if (rest == lineSeparator) {
            text.replace(at, 3, "\\u2028");
            at += 6;
        } else if (rest == paragraphSeparator) {
            text.replace(at, 3, "\\u2029");
            at += 6;
        } else {
            at += 2;
        }
    }
}

} // namespace

std::optional<std::string> stringValue(const json& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}

std::optional<std::int64_t> integerValue(const json& value) {
    switch (value.type()) {
    case json::value_t::number_integer:
        return value.get<std::int64_t>();
    case json::value_t::number_unsigned: {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(unsignedValue);
    }
    case json::value_t::number_float: {
        const double d = value.get<double>();
        // 2^63 itself is out of range; -2^63 is the smallest int64.
        if (!std::isfinite(d) || d != std::trunc(d) || d < -twoToThe63 || d >= twoToThe63) return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> numberValue(const json& value) {
    if (!value.is_number()) return std::nullopt;
    const double d = value.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<bool> booleanValue(const json& value) {
    if (value.is_boolean()) return value.get<bool>();
    const auto number = numberValue(value);
    if (number == 1.0) return true;
    if (number == 0.0) return false;
    return std::nullopt;
}

std::optional<std::vector<std::int64_t>> integerArrayValue(const json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<std::int64_t> integers;
    integers.reserve(value.size());
    for (const json& element : value) {
        auto integer = integerValue(element);
        if (!integer) return std::nullopt;
        integers.push_back(*integer);
    }
    return integers;
}

std::optional<std::vector<std::string>> stringArrayValue(const json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<std::string> strings;
    strings.reserve(value.size());
    for (const json& element : value) {
        if (!element.is_string()) return std::nullopt;
        strings.push_back(element.get<std::string>());
    }
    return strings;
}

bool isArrayOfObjects(const json& value) {
    if (!value.is_array()) return false;
    for (const json& element : value)
        if (!element.is_object()) return false;
    return true;
}

ParsedMessage parseMessage(const json& body) {
    if (!body.is_object()) return ProtocolError{malformedMessageResult(), {}};
    const json* type = field(body, "type");
    if (!type || !type->is_string()) return ProtocolError{malformedMessageResult(), {}};

    std::optional<json> requestId;
    if (const json* id = field(body, "requestId")) {
        // It sits one level inside the reply.
        if (!jsonWithinLimits(*id, maxNestingDepth - 1, false)) return ProtocolError{malformedMessageResult(), {}};
        requestId = *id;
    }

    const auto& name = type->get_ref<const std::string&>();
    if (name == ListDevicesRequest::type) return Request{ListDevicesRequest{}, std::move(requestId)};
    if (name == TestToneRequest::type) return Request{readTestTone(body), std::move(requestId)};
    if (name == PlaySongRequest::type) return Request{readPlaySong(body), std::move(requestId)};
    if (name == StopSongRequest::type) return Request{StopSongRequest{}, std::move(requestId)};
    if (name == LoadLibraryRequest::type) return Request{LoadLibraryRequest{}, std::move(requestId)};
    if (name == SaveLibraryRequest::type) {
        SaveLibraryRequest request;
        if (const json* library = field(body, "library")) {
            request.tooDeep = !jsonWithinLimits(*library, LibraryStore::maxNesting, true);
            if (!request.tooDeep) request.library = *library;
        }
        return Request{std::move(request), std::move(requestId)};
    }
    if (name == SaveFileRequest::type)
        return Request{SaveFileRequest{readField(body, "fileName", stringValue), readField(body, "text", stringValue)},
                       std::move(requestId)};
    if (name == ExportSongRequest::type)
        return Request{ExportSongRequest{readPlaySong(body), readField(body, "fileName", stringValue)},
                       std::move(requestId)};
    if (name == SetGuideMutedRequest::type) {
        SetGuideMutedRequest request;
        request.muted = readField(body, "muted", booleanValue).value_or(false);
        return Request{request, std::move(requestId)};
    }
    if (name == JumpToSectionRequest::type)
        return Request{JumpToSectionRequest{readField(body, "section", integerValue),
                                            readField(body, "at", stringValue).value_or("bar")},
                       std::move(requestId)};
    if (name == SetVampRequest::type) return Request{SetVampRequest{readField(body, "on", booleanValue)}, std::move(requestId)};
    if (name == SetLevelsRequest::type) return Request{SetLevelsRequest{readLevels(body)}, std::move(requestId)};
    if (name == ControlStatusRequest::type) return Request{ControlStatusRequest{}, std::move(requestId)};
    if (name == SetMidiMappingsRequest::type) {
        SetMidiMappingsRequest request;
        if (const json* mappings = field(body, "mappings"); mappings && jsonWithinLimits(*mappings, 8, true))
            request.mappings = *mappings;
        return Request{std::move(request), std::move(requestId)};
    }
    if (name == LearnMidiRequest::type)
        return Request{LearnMidiRequest{readField(body, "cancel", booleanValue).value_or(false)}, std::move(requestId)};
    if (name == ConnectMidiInputRequest::type)
        return Request{ConnectMidiInputRequest{readField(body, "name", stringValue)}, std::move(requestId)};
    return ProtocolError{unknownTypeResult(name), std::move(requestId)};
}

ParsedMessage parseMessageText(std::string_view text) {
    std::string readable(text);
    if (!replaceLoneSurrogates(readable)) return ProtocolError{malformedMessageResult(), {}};
    // The parser and json's destructor are iterative, so deep text is safe
    // to read; only the requestId is ever walked.
    const json body = json::parse(readable, nullptr, false);
    return parseMessage(body);
}

std::string_view typeName(const RequestKind& kind) {
    return std::visit([](const auto& request) { return std::decay_t<decltype(request)>::type; }, kind);
}

json malformedMessageResult() {
    return json{{"ok", false}, {"error", std::string(malformedMessageText)}};
}

json unknownTypeResult(std::string_view receivedType) {
    return json{{"ok", false}, {"error", std::string(unknownTypePrefix).append(receivedType)}};
}

json successResult(std::string_view type) {
    return resultWithType(true, type);
}

json failureResult(std::string_view type, std::string_view error) {
    json result = resultWithType(false, type);
    result["error"] = std::string(error);
    return result;
}

json loadLibraryResult(json library, const std::optional<std::string>& warning) {
    json result = successResult(LoadLibraryRequest::type);
    result["library"] = std::move(library);
    if (warning) result["warning"] = *warning;
    return result;
}

json savedFileResult(std::string_view type, const std::string& path) {
    json result = successResult(type);
    result["path"] = path;
    return result;
}

json playSongSuccessResult(double totalDuration) {
    json result = successResult(PlaySongRequest::type);
    result["totalDuration"] = totalDuration;
    return result;
}

json learnedPressResult(json press) {
    json result = successResult(LearnMidiRequest::type);
    result["press"] = std::move(press);
    return result;
}

json deviceLostResult(const std::string& deviceUid) {
    return {{"type", "deviceLost"}, {"deviceUid", deviceUid}};
}

json deviceObject(const CoreAudioDevices::Device& device) {
    json object{{"uid", device.uid}, {"name", device.name}, {"channels", device.channelCount}, {"isDefault", device.isDefault}};
    if (!device.hint.empty()) object["hint"] = device.hint;
    return object;
}

json listDevicesResult(const std::vector<CoreAudioDevices::Device>& devices) {
    json list = json::array();
    for (const auto& device : devices) list.push_back(deviceObject(device));
    json result = successResult(ListDevicesRequest::type);
    result["devices"] = std::move(list);
    return result;
}

std::optional<std::string> deliveryScript(json result, const std::optional<json>& requestId) {
    if (!result.is_object() || !jsonWithinLimits(result, maxNestingDepth, true)) return std::nullopt;
    // Checked before the copy, which recurses.
    if (requestId && !jsonWithinLimits(*requestId, maxNestingDepth - 1, true)) return std::nullopt;
    std::string text;
    try {
        if (requestId) result["requestId"] = *requestId;
        text = result.dump(-1, ' ', false, json::error_handler_t::strict);
    } catch (const json::exception&) {
        // Invalid UTF-8 in a key or a string.
        return std::nullopt;
    }
    escapeLineSeparators(text);
    return "(window.onNativeAudioResult || console.log)(" + text + ")";
}

} // namespace cadenzo::BridgeProtocol
