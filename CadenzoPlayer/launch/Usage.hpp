#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cadenzo {

// What `--help` prints: the launch modes and every variable with its default.
std::string usageText();

// What `--version` prints.
std::string versionText();

// The text to print for the program's arguments, if one of them asks for it;
// any other argument is ignored.
std::optional<std::string> argumentReply(const std::vector<std::string>& arguments);

} // namespace cadenzo
