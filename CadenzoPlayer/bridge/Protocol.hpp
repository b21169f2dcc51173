#pragma once

#include "CadenzoPlayer/playback/Device.hpp"
#include "CadenzoPlayer/playback/SongSettings.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The wire format between the hosted page and the native side: request
// bodies in, result objects and the script that delivers them out.
namespace cadenzo::BridgeProtocol {

inline constexpr std::string_view malformedMessageText = "Malformed message";
inline constexpr std::string_view unknownTypePrefix = "Unknown message type: ";
inline constexpr std::string_view noMatchingDeviceText = "No matching device";
inline constexpr std::string_view missingEntriesText = "Missing entries";
inline constexpr std::string_view missingLibraryText = "Missing library";
inline constexpr std::string_view missingFileNameText = "Missing fileName";
inline constexpr std::string_view missingTextText = "Missing text";
inline constexpr std::string_view missingSectionText = "Missing section";
inline constexpr std::string_view badJumpPointText = "at must be \"bar\" or \"section\"";
inline constexpr std::string_view missingOnText = "Missing on";
inline constexpr std::string_view missingMappingsText = "Missing mappings";
inline constexpr std::string_view handsFreeOffText = "Hands-free control is off";
inline constexpr std::string_view learningCancelledText = "Learning cancelled";

// A requestId nested deeper than this, counting the reply it is copied into,
// is refused as malformed: copying and serialising JSON recurses, and a
// hostile page must not exhaust the stack. Nothing else of a body is walked.
inline constexpr std::size_t maxNestingDepth = 512;

// Conversion rules. A value that fails its rule is treated as an absent field.

// A JSON string.
std::optional<std::string> stringValue(const nlohmann::json& value);
// A JSON number whose value is integral and fits in a signed 64-bit integer.
std::optional<std::int64_t> integerValue(const nlohmann::json& value);
// Any finite JSON number as a double.
std::optional<double> numberValue(const nlohmann::json& value);
// true, false, or a number equal to 1 or 0.
std::optional<bool> booleanValue(const nlohmann::json& value);
// Arrays fail whole when one element fails its rule.
std::optional<std::vector<std::int64_t>> integerArrayValue(const nlohmann::json& value);
std::optional<std::vector<std::string>> stringArrayValue(const nlohmann::json& value);
bool isArrayOfObjects(const nlohmann::json& value);

// Both selection fields as sent; the device layer applies the rules.
struct DeviceSelection {
    std::optional<std::string> deviceUid;
    std::optional<std::string> deviceNameContains;

    friend bool operator==(const DeviceSelection&, const DeviceSelection&) = default;
};

struct ListDevicesRequest {
    static constexpr std::string_view type = "listDevices";
};

struct TestToneRequest {
    static constexpr std::string_view type = "testTone";
    DeviceSelection selection;
    // First element of `channels` when that is a non-empty integer array,
    // else `channel`, else 0.
    std::int64_t channel = 0;
    std::int64_t channelCount = 2;
};

struct PlaySongRequest {
    static constexpr std::string_view type = "playSong";
    DeviceSelection selection;
    // False when `entries` is missing or not an array of objects: the
    // handler answers "Missing entries" once a device has been found.
    bool hasEntries = false;
    // `click`, `guide` and `pad` are the channel lists, `levels` an object
    // of their levels; the guide mute schedule stays empty.
    SongSettings song;
};

struct StopSongRequest {
    static constexpr std::string_view type = "stopSong";
};

struct SetGuideMutedRequest {
    static constexpr std::string_view type = "setGuideMuted";
    bool muted = false;
};

// Each key of `levels` a number of dB; the player judges the range.
struct SetLevelsRequest {
    static constexpr std::string_view type = "setLevels";
    LevelChange levels;
};

struct LoadLibraryRequest {
    static constexpr std::string_view type = "loadLibrary";
};

struct SaveLibraryRequest {
    static constexpr std::string_view type = "saveLibrary";
    // Any JSON value; absent when the body has no `library`, or when it nests
    // too deep to be copied safely (then `tooDeep`).
    std::optional<nlohmann::json> library;
    bool tooDeep = false;
};

// A file the page offers the user, written into the documents folder.
struct SaveFileRequest {
    static constexpr std::string_view type = "saveFile";
    std::optional<std::string> fileName;
    std::optional<std::string> text;
};

// A song rendered to a WAV file in the music folder.
struct ExportSongRequest {
    static constexpr std::string_view type = "exportSong";
    PlaySongRequest song;  // its device fields are not used
    std::optional<std::string> fileName;
};

// Moves the playing song to a section, at its next bar line or at the end of the section playing.
struct JumpToSectionRequest {
    static constexpr std::string_view type = "jumpToSection";
    std::optional<std::int64_t> section;
    // "bar" unless the body says "section"; another text is kept to be refused.
    std::string at = "bar";
};

struct SetVampRequest {
    static constexpr std::string_view type = "setVamp";
    std::optional<bool> on;
};

// Hands-free control: MIDI and OSC inputs, their state, the pedal's bindings.
struct ControlStatusRequest {
    static constexpr std::string_view type = "controlStatus";
};

struct SetMidiMappingsRequest {
    static constexpr std::string_view type = "setMidiMappings";
    // Absent without the key, or when it nests too deep to be copied safely.
    std::optional<nlohmann::json> mappings;
};

// Answered with the next press, or cancels the learn that waits.
struct LearnMidiRequest {
    static constexpr std::string_view type = "learnMidi";
    bool cancel = false;
};

// Absent or null: no hardware input.
struct ConnectMidiInputRequest {
    static constexpr std::string_view type = "connectMidiInput";
    std::optional<std::string> name;
};

using RequestKind = std::variant<ListDevicesRequest, TestToneRequest, PlaySongRequest, StopSongRequest,
                                 SetGuideMutedRequest, LoadLibraryRequest, SaveLibraryRequest, SaveFileRequest,
                                 ExportSongRequest, SetLevelsRequest, JumpToSectionRequest, SetVampRequest,
                                 ControlStatusRequest, SetMidiMappingsRequest, LearnMidiRequest,
                                 ConnectMidiInputRequest>;

struct Request {
    RequestKind kind;
    // Present whenever the body had the key, null included.
    std::optional<nlohmann::json> requestId;
};

// A request that could not be identified; `result` is to be sent as it is.
struct ProtocolError {
    nlohmann::json result;
    std::optional<nlohmann::json> requestId;
};

using ParsedMessage = std::variant<ProtocolError, Request>;

ParsedMessage parseMessage(const nlohmann::json& body);
// The song fields of a playSong body (or of a song file: the same object).
PlaySongRequest readPlaySong(const nlohmann::json& body);
// Text that is not valid JSON (empty text, "undefined") is not an object.
// Lone UTF-16 surrogate escapes read as U+FFFD, except in the requestId,
// which the reply could not give back unchanged: that body is malformed.
ParsedMessage parseMessageText(std::string_view text);

std::string_view typeName(const RequestKind& kind);

// Result objects.
nlohmann::json malformedMessageResult();
nlohmann::json unknownTypeResult(std::string_view receivedType);
nlohmann::json successResult(std::string_view type);
nlohmann::json failureResult(std::string_view type, std::string_view error);
nlohmann::json playSongSuccessResult(double totalDuration);
// `library` is null when none is stored; `warning` says what was kept aside.
nlohmann::json loadLibraryResult(nlohmann::json library, const std::optional<std::string>& warning);
// saveFile's and exportSong's success: where the file went.
nlohmann::json savedFileResult(std::string_view type, const std::string& path);
// learnMidi's success: the press as the page stores it in a binding.
nlohmann::json learnedPressResult(nlohmann::json press);
// Sent unasked when the device of the playing song goes away.
nlohmann::json deviceLostResult(const std::string& deviceUid);
nlohmann::json deviceObject(const CoreAudioDevices::Device& device);
nlohmann::json listDevicesResult(const std::vector<CoreAudioDevices::Device>& devices);

// "(window.onNativeAudioResult || console.log)(<compact JSON>)" with the
// requestId added to the result. Nothing when the result cannot be written
// as JSON (not an object, invalid UTF-8, non-finite numbers, too deep).
std::optional<std::string> deliveryScript(nlohmann::json result, const std::optional<nlohmann::json>& requestId);

} // namespace cadenzo::BridgeProtocol
