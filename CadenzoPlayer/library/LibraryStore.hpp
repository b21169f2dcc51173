#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace cadenzo {

// The control page's library (songs, set lists, routing) in one JSON file,
// `library.json` in its folder. A save never leaves a half-written file: the
// new text goes to a temporary file that is synced and renamed over the old
// one, and the versions it replaces are kept beside it (`library.json.1` the
// newest, up to `.10`). A file that does not parse is never overwritten: it
// is renamed aside and the newest readable earlier version is offered.
class LibraryStore {
public:
    enum class Code { unreadable = 1, unwritable = 2, tooLarge = 3, badFileName = 4 };
    static constexpr std::string_view errorDomain = "LibraryStore";
    static constexpr int keptVersions = 10;
    static constexpr std::size_t maxBytes = 64u << 20;
    static constexpr std::size_t maxNesting = 256;
    static constexpr std::string_view tooDeepText = "The library nests deeper than 256 levels; it was not saved.";

    struct Loaded {
        nlohmann::json library;             // null when there is none
        std::optional<std::string> warning; // set when the file had to be kept aside
    };

    explicit LibraryStore(std::filesystem::path folder);

    // $XDG_DATA_HOME/cadenzo-player (an absolute XDG_DATA_HOME only), else
    // ~/.local/share/cadenzo-player.
    static std::filesystem::path defaultFolder(const std::function<std::optional<std::string>(std::string_view)>& env);

    const std::filesystem::path& file() const { return file_; }
    Loaded load() const;
    // Returns once the library is on disk; throws Error otherwise.
    void save(const nlohmann::json& library) const;

private:
    std::filesystem::path version(int n) const;
    // Renames an unparseable library aside and returns where it went.
    std::filesystem::path keepAside(const std::string& reason) const;

    std::filesystem::path folder_;
    std::filesystem::path file_;
};

// A user folder such as the documents folder: `key` (DOCUMENTS, MUSIC) as
// named in $XDG_CONFIG_HOME/user-dirs.dirs, else ~/`fallbackName`.
std::filesystem::path userDirectory(const std::function<std::optional<std::string>(std::string_view)>& env,
                                    std::string_view key, std::string_view fallbackName);

// Writes `text` to a new file named `fileName` in `folder` (made when
// missing) and returns its path; an existing file is never replaced: "a.json"
// becomes "a (2).json" and so on. The name must be a plain file name: no
// slash, no leading dot, no control character, at most 200 bytes.
std::filesystem::path saveNewFile(const std::filesystem::path& folder, std::string_view fileName,
                                  std::string_view text);
// The same for a file that `write` makes at the temporary path it is given
// (in `folder`; removed if `write` throws).
std::filesystem::path saveNewFile(const std::filesystem::path& folder, std::string_view fileName,
                                  const std::function<void(const std::filesystem::path& temporary)>& write);

} // namespace cadenzo
