#pragma once

#include <optional>
#include <string>
#include <string_view>

// Checks without a person at the window that the loaded page reaches the
// bridge and gets an answer: once a page has finished loading, makes it ask
// for the device list, reads back what it received 1.5 s later, prints the
// page's address and the reply, and ends the program. Acts only when the
// web host runs with SELF_TEST on. Main thread only.
namespace cadenzo {

// Replaces the page's result callback with one that keeps the result, then
// asks for the device list (no requestId).
inline constexpr std::string_view selfTestScript =
    "window.onNativeAudioResult = (r) => { window.__nativeTestResult = r; };\n"
    "window.webkit.messageHandlers.nativeAudio.postMessage({type:'listDevices'});";
static_assert(selfTestScript.size() == 148);

inline constexpr std::string_view selfTestReadBackScript = "JSON.stringify(window.__nativeTestResult || null)";
inline constexpr double selfTestWaitSeconds = 1.5;

// The navigation logger's onFinish: injects the script and schedules the
// read-back. Every finished load starts its own.
void selfTestOnFinish();

// Evaluates the read-back script; its value goes to reportSelfTestResult.
void readBackSelfTestResult();

// Prints "Loaded page: <address or ?>" and "Bridge reply: <text or (none)>"
// on standard output and ends the program with status 0. Only the first
// report prints.
void reportSelfTestResult(const std::optional<std::string>& reply);

} // namespace cadenzo
