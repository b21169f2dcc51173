#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace cadenzo {

// Marks the program's own code so that the search can ask which file holds it.
class BundleFinder {};

inline constexpr std::string_view resourceBundleName = "CadenzoPlayer_CadenzoPlayer";
inline constexpr std::string_view resourceBundleDirectoryName = "CadenzoPlayer_CadenzoPlayer.bundle";

// A directory of the program's resource files.
class ResourceBundle {
public:
    explicit ResourceBundle(std::filesystem::path directory) : directory_(std::move(directory)) {}

    const std::filesystem::path& directory() const { return directory_; }

    // The file name.extension (just `name` for an empty extension), inside
    // `subdirectory` when one is given, when it exists as a file. A name with a
    // path separator, or a subdirectory that is absolute or climbs out with
    // "..", finds nothing: callers pass text that may come from outside.
    std::optional<std::filesystem::path> path(std::string_view name, std::string_view extension,
                                              std::string_view subdirectory = {}) const;

private:
    std::filesystem::path directory_;
};

// Places the bundle may sit in, most specific first: the installed resources
// directory (<executable dir>/../share/cadenzo-player), the directory of the
// file holding this code, the executable's directory. A place that cannot be
// determined is nullopt.
std::vector<std::optional<std::filesystem::path>> resourceBundleCandidates();

// The first candidate holding a directory named CadenzoPlayer_CadenzoPlayer.bundle.
std::optional<ResourceBundle> findResourceBundle(const std::vector<std::optional<std::filesystem::path>>& candidates);

// findResourceBundle, or the process ends with a message on standard error:
// the program cannot run without its resources.
ResourceBundle requireResourceBundle(const std::vector<std::optional<std::filesystem::path>>& candidates);

// The process-wide bundle, searched for once on first use from any thread.
const ResourceBundle& resourceBundle();

} // namespace cadenzo
