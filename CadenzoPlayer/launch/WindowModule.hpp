#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cadenzo {

// The window (GTK and WebKit) lives in a module of its own, loaded only when
// the window opens, so that the console modes start without those libraries.
inline constexpr const char* windowModuleFile = "cadenzo-window.so";
// The module's entry point: runs the web host and returns the exit status.
inline constexpr const char* windowModuleEntry = "cadenzoRunWindow";

// Where the module may be, in order: beside the executable (a build tree),
// then in the installed library directory relative to it.
std::vector<std::filesystem::path> windowModuleCandidates();

// Loads the first candidate that exists and runs its entry point. Returns the
// exit status, or 1 after a line on standard error when no module loads.
int runWindowModule(const std::vector<std::filesystem::path>& candidates = windowModuleCandidates());

} // namespace cadenzo
