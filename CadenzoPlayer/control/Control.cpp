#include "CadenzoPlayer/control/Control.hpp"

#include "CadenzoPlayer/Error.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace cadenzo {

namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 10> actionNames{"play", "stop",    "playStop", "next", "previous",
                                                       "nextSection", "section", "vamp", "cues", "tap"};
constexpr std::array<std::string_view, 3> kindNames{"note", "cc", "program"};

std::optional<std::int64_t> integerIn(const json& object, const char* key, std::int64_t low, std::int64_t high) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    if (found->is_number_unsigned() && found->get<std::uint64_t>() > static_cast<std::uint64_t>(high)) return std::nullopt;
    const auto value = found->get<std::int64_t>();
    return value >= low && value <= high ? std::optional(value) : std::nullopt;
}

MidiMapping parseMapping(const json& mapping, std::size_t index) {
    const auto fail = [&](const std::string& text) {
        return Error("Control", ControlError::badMappings, "Mapping " + std::to_string(index + 1) + ": " + text);
    };
    if (!mapping.is_object()) throw fail("not an object");
    const auto kindText = mapping.value("kind", json()).is_string() ? mapping["kind"].get<std::string>() : "";
    const auto kind = std::find(kindNames.begin(), kindNames.end(), kindText);
    if (kind == kindNames.end()) throw fail("kind must be \"cc\", \"note\" or \"program\"");
    const auto channel = integerIn(mapping, "channel", 0, 16);
    if (!channel) throw fail("channel must be 0 (any) to 16");
    const auto number = integerIn(mapping, "number", 0, 127);
    if (!number) throw fail("number must be 0 to 127");
    const json actionValue = mapping.value("action", json());
    const auto action = actionValue.is_string() ? actionNamed(actionValue.get<std::string>()) : std::nullopt;
    if (!action) throw fail(actionValue.is_string() ? "unknown action " + actionValue.dump() : "unknown action");
    ControlEvent event{*action, std::nullopt, std::nullopt};
    if (*action == ControlAction::section) {
        event.section = integerIn(mapping, "section", 1, std::numeric_limits<std::int64_t>::max());
        if (!event.section) throw fail("section must be a whole number from 1");
    } else if (mapping.contains("section")) {
        throw fail("section is only for the section action");
    }
    if (mapping.contains("on")) {
        if (*action != ControlAction::vamp && *action != ControlAction::cues) throw fail("on is only for vamp and cues");
        if (!mapping["on"].is_boolean()) throw fail("on must be true or false");
        event.on = mapping["on"].get<bool>();
    }
    return {static_cast<MidiPress::Kind>(kind - kindNames.begin()), static_cast<int>(*channel), static_cast<int>(*number),
            event};
}

} // namespace

std::string_view actionName(ControlAction action) { return actionNames.at(static_cast<std::size_t>(action)); }

std::optional<ControlAction> actionNamed(std::string_view name) {
    const auto found = std::find(actionNames.begin(), actionNames.end(), name);
    if (found == actionNames.end()) return std::nullopt;
    return static_cast<ControlAction>(found - actionNames.begin());
}

nlohmann::json controlMessage(const ControlEvent& event) {
    json message{{"type", "control"}, {"action", actionName(event.action)}};
    if (event.section) message["section"] = *event.section;
    if (event.on) message["on"] = *event.on;
    return message;
}

std::optional<MidiPress> pressOf(const std::vector<unsigned char>& bytes) {
    if (bytes.size() < 2 || bytes[0] < 0x80 || bytes[0] >= 0xF0) return std::nullopt;
    if (std::any_of(bytes.begin() + 1, bytes.end(), [](unsigned char byte) { return byte >= 0x80; })) return std::nullopt;
    const int channel = (bytes[0] & 0x0F) + 1;
    const int number = bytes[1];
    switch (bytes[0] & 0xF0) {
    case 0x90:
        if (bytes.size() == 3 && bytes[2] > 0) return MidiPress{MidiPress::Kind::note, channel, number};
        break;
    case 0xB0:
        if (bytes.size() == 3 && bytes[2] > 63) return MidiPress{MidiPress::Kind::cc, channel, number};
        break;
    case 0xC0:
        if (bytes.size() == 2) return MidiPress{MidiPress::Kind::program, channel, number};
        break;
    }
    return std::nullopt;
}

nlohmann::json toJson(const MidiPress& press) {
    return {{"kind", kindNames.at(static_cast<std::size_t>(press.kind))}, {"channel", press.channel},
            {"number", press.number}};
}

std::vector<MidiMapping> defaultMidiMappings() {
    const auto cc = [](int number, ControlAction action) {
        return MidiMapping{MidiPress::Kind::cc, 0, number, {action, std::nullopt, std::nullopt}};
    };
    return {cc(80, ControlAction::playStop), cc(81, ControlAction::next), cc(82, ControlAction::nextSection),
            cc(83, ControlAction::vamp)};
}

std::vector<MidiMapping> parseMidiMappings(const nlohmann::json& mappings) {
    if (!mappings.is_array()) throw Error("Control", ControlError::badMappings, "Mappings must be a list");
    if (mappings.size() > maxMidiMappings)
        throw Error("Control", ControlError::badMappings, "At most " + std::to_string(maxMidiMappings) + " mappings");
    std::vector<MidiMapping> parsed;
    for (std::size_t i = 0; i < mappings.size(); ++i) parsed.push_back(parseMapping(mappings[i], i));
    return parsed;
}

nlohmann::json toJson(const std::vector<MidiMapping>& mappings) {
    json list = json::array();
    for (const auto& mapping : mappings) {
        json item = toJson(MidiPress{mapping.kind, mapping.channel, mapping.number});
        item.update(controlMessage(mapping.event));
        item.erase("type");
        list.push_back(std::move(item));
    }
    return list;
}

std::optional<ControlEvent> mappedEvent(const std::vector<MidiMapping>& mappings, const MidiPress& press) {
    for (const auto& mapping : mappings) {
        if (mapping.kind == press.kind && mapping.number == press.number &&
            (mapping.channel == 0 || mapping.channel == press.channel))
            return mapping.event;
    }
    return std::nullopt;
}

OscCommand oscCommand(std::string_view path, const std::vector<std::optional<double>>& arguments) {
    using Kind = OscCommand::Kind;
    constexpr std::string_view prefix = "/cadenzo/";
    if (!path.starts_with(prefix)) return {Kind::invalid};
    const auto name = path.substr(prefix.size());
    const bool oneNumber = arguments.size() == 1 && arguments[0] && !std::isnan(*arguments[0]);
    const double value = oneNumber ? *arguments[0] : 1.0;
    const auto action = actionNamed(name);
    if (action == ControlAction::section) {
        // Beyond a million sections is no song; the bound keeps the cast defined.
        if (!oneNumber || value < 1 || value > 1e6 || value != std::floor(value)) return {Kind::invalid};
        return {Kind::action, {*action, static_cast<std::int64_t>(value), std::nullopt}};
    }
    if (action == ControlAction::vamp || action == ControlAction::cues) {
        if (!oneNumber) return {Kind::invalid};
        return {Kind::action, {*action, std::nullopt, value != 0}};
    }
    // Buttons: nothing, or 1 on press and 0 on release.
    if (!arguments.empty() && !oneNumber) return {Kind::invalid};
    const auto kind = action ? Kind::action
                      : name == "subscribe"   ? Kind::subscribe
                      : name == "unsubscribe" ? Kind::unsubscribe
                                              : Kind::invalid;
    if (kind != Kind::invalid && value == 0) return {Kind::release};
    return {kind, {action.value_or(ControlAction::play), std::nullopt, std::nullopt}};
}

bool RateLimit::allow(double now) {
    if (last_) tokens_ = std::min(burst_, tokens_ + std::max(0.0, now - *last_) * perSecond_);
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

} // namespace cadenzo
