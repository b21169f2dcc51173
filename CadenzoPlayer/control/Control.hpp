#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo {

// Codes of Error("Control").
enum class ControlError { badMappings = 1, noMidiSystem = 2, noMidiInput = 3 };

// What a foot switch or a tablet asks of the page; the page does what its own keys do.
enum class ControlAction { play, stop, playStop, next, previous, nextSection, section, vamp, cues, tap };

std::string_view actionName(ControlAction action);
std::optional<ControlAction> actionNamed(std::string_view name);

struct ControlEvent {
    ControlAction action = ControlAction::play;
    std::optional<std::int64_t> section;  // from 1, only for `section`
    std::optional<bool> on;               // vamp and cues; absent = toggle
    friend bool operator==(const ControlEvent&, const ControlEvent&) = default;
};

// The unsolicited "control" message to the page.
nlohmann::json controlMessage(const ControlEvent& event);

// A pressed switch; channels 1-16.
struct MidiPress {
    enum class Kind { note, cc, program } kind;
    int channel;
    int number;
    friend bool operator==(const MidiPress&, const MidiPress&) = default;
};

// Note-on with a velocity, a controller above its middle (pedals send 127
// down and 0 up) or any program change; releases and the rest are nothing.
std::optional<MidiPress> pressOf(const std::vector<unsigned char>& bytes);
nlohmann::json toJson(const MidiPress& press);

struct MidiMapping {
    MidiPress::Kind kind;
    int channel;  // 0 = any
    int number;
    ControlEvent event;
    friend bool operator==(const MidiMapping&, const MidiMapping&) = default;
};

inline constexpr std::size_t maxMidiMappings = 128;

// A four-switch pedal sending CC 80-83 on any channel.
std::vector<MidiMapping> defaultMidiMappings();
// Throws Error("Control") naming the first bad mapping ("Mapping 2: channel must be 0 (any) to 16").
std::vector<MidiMapping> parseMidiMappings(const nlohmann::json& mappings);
nlohmann::json toJson(const std::vector<MidiMapping>& mappings);
// The first mapping the press matches.
std::optional<ControlEvent> mappedEvent(const std::vector<MidiMapping>& mappings, const MidiPress& press);

// One OSC message read: an action, a button's release (ignored), a change of
// subscription, or something to drop. Arguments are numbers or, for any
// other type, nothing.
struct OscCommand {
    enum class Kind { action, release, subscribe, unsubscribe, invalid } kind;
    ControlEvent event{};
};
OscCommand oscCommand(std::string_view path, const std::vector<std::optional<double>>& arguments);

// A token bucket: `burst` at once, then `perSecond`. Times in seconds on any steady clock.
class RateLimit {
public:
    explicit RateLimit(double perSecond = 20, double burst = 10) : perSecond_(perSecond), burst_(burst), tokens_(burst) {}
    bool allow(double now);

private:
    double perSecond_;
    double burst_;
    double tokens_;
    std::optional<double> last_;
};

} // namespace cadenzo
