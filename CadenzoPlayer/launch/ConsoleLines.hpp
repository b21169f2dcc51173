#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo {

// U+2014 in UTF-8, as the console lines spell it.
inline constexpr std::string_view emDash = "\xE2\x80\x94";

// Channels from 0 as the user numbers them: "[5, 7]".
std::string oneBasedList(const std::vector<std::int64_t>& channels);

// "No device matching '<text>' — is it connected?"
std::string noDeviceMatchingLine(std::string_view deviceText);

// Runs the mode's audio operation. When it fails, prints "FAILED: " and the
// error's description on `out` and returns false.
bool reportingFailure(std::ostream& out, const std::function<void()>& operation);

} // namespace cadenzo
