#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/library/LibraryStore.hpp"
#include "ErrorText.hpp"
#include "TempFiles.hpp"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

using namespace cadenzo;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

auto reader(std::map<std::string, std::string> values) {
    return [values](std::string_view name) -> std::optional<std::string> {
        auto found = values.find(std::string(name));
        return found == values.end() ? std::nullopt : std::optional(found->second);
    };
}

} // namespace

TEST(LibraryStore, SavesReplaceTheFileWholeAndKeepTheTenVersionsBefore) {
    testfiles::TempDir dir;
    const LibraryStore store(dir.path() / "new" / "folder");
    EXPECT_EQ(store.load().library, nullptr);
    for (int version = 1; version <= 12; ++version) store.save({{"version", version}, {"name", "Set \u00e9"}});
    const auto loaded = store.load();
    EXPECT_EQ(loaded.library, json({{"version", 12}, {"name", "Set \u00e9"}}));
    EXPECT_FALSE(loaded.warning);
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(json::parse(contents(store.file().string() + "." + std::to_string(n)))["version"], 12 - n);
    // Nothing else is left in the folder: no eleventh version, no temporary file.
    EXPECT_EQ(namesIn(store.file().parent_path()).size(), 11u);
}

TEST(LibraryStore, AnUnreadableFileIsKeptAsideNeverOverwrittenAndTheNewestReadableVersionOffered) {
    // Versions on disk (empty: none), what load gives, and the end of its warning.
    const std::tuple<std::vector<std::string>, json, std::string> cases[] = {
        {{R"({"v":1})"}, json{{"v", 1}}, "library.json.1, was loaded."},
        {{"{broken", "", R"({"v":3})"}, json{{"v", 3}}, "library.json.3, was loaded."},
        {{}, nullptr, "A new library was started."},
    };
    for (const auto& [versions, expected, ending] : cases) {
        testfiles::TempDir dir;
        const LibraryStore store(dir.path());
        for (std::size_t n = 0; n < versions.size(); ++n)
            if (!versions[n].empty()) testfiles::writeText(store.file().string() + "." + std::to_string(n + 1), versions[n]);
        testfiles::writeText(store.file(), "{\"songs\": [");
        const auto loaded = store.load();
        EXPECT_EQ(loaded.library, expected);
        ASSERT_TRUE(loaded.warning);
        EXPECT_TRUE(loaded.warning->starts_with("The library file could not be read (it is not valid JSON); it was kept as "))
            << *loaded.warning;
        EXPECT_TRUE(loaded.warning->ends_with(ending)) << *loaded.warning;
        store.save({{"v", 9}});
        // The broken file is where the warning said, as it was.
        const std::size_t at = loaded.warning->find("kept as ") + 8;
        const std::string aside = loaded.warning->substr(at, loaded.warning->find(". ", at) - at);
        EXPECT_EQ(contents(aside), "{\"songs\": [") << aside;
    }
    // A save over a broken file it has not loaded keeps that aside too.
    testfiles::TempDir dir;
    const LibraryStore store(dir.path());
    testfiles::writeText(store.file(), "[[[");
    store.save(json::array());
    EXPECT_EQ(store.load().library, json::array());
    EXPECT_FALSE(fs::exists(store.file().string() + ".1"));
    std::size_t keptAside = 0;
    for (const auto& name : namesIn(dir.path())) keptAside += name.starts_with("library.json.unreadable-");
    EXPECT_EQ(keptAside, 1u);
}

TEST(LibraryStore, AProcessKilledAtAnyStepOfASaveLeavesAWholeLibrary) {
    testfiles::TempDir dir;
    const LibraryStore store(dir.path());
    const json first = {{"songs", std::vector<std::string>(4000, std::string(40, 'a'))}};
    const json second = {{"songs", std::vector<std::string>(5000, std::string(40, 'b'))}};
    store.save(first);
    // Round k kills the saving process right after the k-th change it makes in the folder, until a save ends
    // before it is killed. Whatever the step, the library itself is only ever replaced by a rename.
    bool ended = false;
    for (int round = 1; !ended; ++round) {
        const int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_CREATE | IN_DELETE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                store.save(second);
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
        alignas(inotify_event) char events[4096];
        for (int seen = 0; seen < round && !ended;) {
            pollfd ready{watch, POLLIN, 0};
            ended = poll(&ready, 1, 500) <= 0;
            const ssize_t length = ended ? 0 : read(watch, events, sizeof events);
            for (ssize_t at = 0; at < length; ++seen) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len && std::string(event->name) == "library.json")
                    EXPECT_EQ(event->mask & (IN_CREATE | IN_DELETE | IN_MODIFY | IN_MOVED_FROM | IN_CLOSE_WRITE), 0u)
                        << "change " << seen;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        close(watch);
        const auto loaded = store.load();
        EXPECT_FALSE(loaded.warning) << *loaded.warning;
        EXPECT_TRUE(loaded.library == first || loaded.library == second) << "killed after change " << round;
    }
    // The killed saves' temporary files are cleared by the next load.
    for (const auto& name : namesIn(dir.path())) EXPECT_FALSE(name.ends_with(".tmp")) << name;
}

TEST(LibraryStore, FoldersFollowTheXdgVariablesAndFallBackToHome) {
    testfiles::TempDir dir;
    const fs::path home = dir.path();
    EXPECT_EQ(LibraryStore::defaultFolder(reader({{"HOME", home}, {"XDG_DATA_HOME", "/data"}})), "/data/cadenzo-player");
    EXPECT_EQ(LibraryStore::defaultFolder(reader({{"HOME", home}, {"XDG_DATA_HOME", "rel"}})),
              home / ".local/share/cadenzo-player");
    // user-dirs.dirs line, and the documents folder it gives.
    const std::pair<std::string, fs::path> lines[] = {
        {R"(XDG_DOCUMENTS_DIR="$HOME/Papers")", home / "Papers"},
        {R"(XDG_DOCUMENTS_DIR="/srv/docs")", "/srv/docs"},
        {R"(XDG_DOCUMENTS_DIR="$HOME/")", home / "Documents"},  // the home folder itself means unset
        {R"(XDG_MUSIC_DIR="/srv/music")", home / "Documents"},
        {"", home / "Documents"},
    };
    for (const auto& [line, expected] : lines) {
        testfiles::writeText(home / "config/user-dirs.dirs", "# written by xdg-user-dirs-update\n" + line + "\n");
        EXPECT_EQ(userDirectory(reader({{"HOME", home}, {"XDG_CONFIG_HOME", home / "config"}}), "DOCUMENTS", "Documents"),
                  expected)
            << line;
    }
}

TEST(SaveNewFile, WritesANewFileInItsFolderOnlyAndNeverReplacesOne) {
    testfiles::TempDir dir;
    const fs::path folder = dir.path() / "CadenzoPlayer";
    EXPECT_EQ(saveNewFile(folder, "Set list.json", "one"), folder / "Set list.json");
    EXPECT_EQ(saveNewFile(folder, "Set list.json", "two"), folder / "Set list (2).json");
    EXPECT_EQ(saveNewFile(folder, "notes", "three"), folder / "notes");
    EXPECT_EQ(contents(folder / "Set list.json"), "one");
    EXPECT_EQ(contents(folder / "Set list (2).json"), "two");
    const std::pair<std::string, std::string> refused[] = {
        {"", "The file name \"\" is empty."},
        {"../up.json", "The file name \"../up.json\" begins with a dot."},
        {"a/b.json", "The file name \"a/b.json\" names a folder: it holds a slash."},
        {"a\nb", "The file name \"a\nb\" holds a control character."},
        {std::string(201, 'x'), "The file name \"" + std::string(200, 'x') + "\" is longer than 200 bytes."},
    };
    for (const auto& [name, message] : refused) {
        EXPECT_EQ(errorText([&folder, &name = name] { saveNewFile(folder, name, "x"); }), "LibraryStore 4: " + message);
    }
    EXPECT_EQ(namesIn(folder).size(), 3u);
}
