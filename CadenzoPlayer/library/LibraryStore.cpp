#include "CadenzoPlayer/library/LibraryStore.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/JsonLimits.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace cadenzo {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

[[noreturn]] void fail(LibraryStore::Code code, std::string description) {
    throw Error(std::string(LibraryStore::errorDomain), code, std::move(description));
}

std::string systemReason(int error) { return std::strerror(error); }

struct Reading {
    std::optional<json> value; // absent when the text is not a library
    std::string problem;
};

Reading readLibrary(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {std::nullopt, "it cannot be opened"};
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > LibraryStore::maxBytes) return {std::nullopt, "it is larger than 64 MiB"};
    json value = json::parse(text.str(), nullptr, false);
    if (value.is_discarded()) return {std::nullopt, "it is not valid JSON"};
    if (!jsonWithinLimits(value, LibraryStore::maxNesting, false)) return {std::nullopt, "it nests deeper than 256 levels"};
    return {std::move(value), {}};
}

std::string localTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

// Writes and syncs a file that must not exist yet; throws with errno's reason.
void writeSynced(const fs::path& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw std::system_error(errno, std::generic_category());
    std::size_t done = 0;
    int error = 0;
    while (done < text.size() && !error) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) error = errno;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    if (!error && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (error) {
        ::unlink(path.c_str());
        throw std::system_error(error, std::generic_category());
    }
}

// A rename survives a crash only once the folder itself is synced.
void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

fs::path homeDirectory(const std::function<std::optional<std::string>(std::string_view)>& env) {
    if (auto home = env("HOME"); home && !home->empty()) return *home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

} // namespace

LibraryStore::LibraryStore(fs::path folder) : folder_(std::move(folder)), file_(folder_ / "library.json") {}

fs::path LibraryStore::defaultFolder(const std::function<std::optional<std::string>(std::string_view)>& env) {
    if (auto data = env("XDG_DATA_HOME"); data && fs::path(*data).is_absolute()) return fs::path(*data) / "cadenzo-player";
    return homeDirectory(env) / ".local" / "share" / "cadenzo-player";
}

fs::path LibraryStore::version(int n) const {
    return folder_ / ("library.json." + std::to_string(n));
}

fs::path LibraryStore::keepAside(const std::string& reason) const {
    const std::string stem = "library.json.unreadable-" + localTimeStamp();
    fs::path aside = folder_ / stem;
    for (int n = 2; fs::exists(aside); ++n) aside = folder_ / (stem + "-" + std::to_string(n));
    std::error_code error;
    fs::rename(file_, aside, error);
    if (error)
        fail(Code::unreadable, "The library file " + file_.string() + " could not be read (" + reason +
                                   ") and could not be kept aside: " + error.message());
    return aside;
}

LibraryStore::Loaded LibraryStore::load() const {
    std::error_code error;
    // What a save killed half-way left behind: its process is gone.
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(".library.json.") || !name.ends_with(".tmp")) continue;
        const std::string pid = name.substr(14, name.size() - 18);
        if (!pid.empty() && pid.size() <= 9 && pid.find_first_not_of("0123456789") == std::string::npos &&
            ::kill(std::stoi(pid), 0) != 0 && errno == ESRCH)
            fs::remove(entry.path(), error);
    }
    if (!fs::exists(file_, error)) {
        if (error) fail(Code::unreadable, "The library file " + file_.string() + " could not be read: " + error.message());
        return {json(nullptr), std::nullopt};
    }
    if (::access(file_.c_str(), R_OK) != 0)
        fail(Code::unreadable, "The library file " + file_.string() + " could not be read: " + systemReason(errno));
    Reading reading = readLibrary(file_);
    if (reading.value) return {std::move(*reading.value), std::nullopt};

    const fs::path aside = keepAside(reading.problem);
    std::string warning = "The library file could not be read (" + reading.problem + "); it was kept as " +
                          aside.string() + ". ";
    for (int n = 1; n <= keptVersions; ++n) {
        if (!fs::exists(version(n))) continue;
        if (Reading earlier = readLibrary(version(n)); earlier.value)
            return {std::move(*earlier.value),
                    warning + "The newest earlier version that could be read, " + version(n).string() + ", was loaded."};
    }
    return {json(nullptr), warning + "A new library was started."};
}

void LibraryStore::save(const json& library) const {
    if (!jsonWithinLimits(library, maxNesting, true)) fail(Code::tooLarge, std::string(tooDeepText));
    const std::string text = library.dump(1, '\t', false, json::error_handler_t::replace) + "\n";
    if (text.size() > maxBytes) fail(Code::tooLarge, "The library is larger than 64 MiB; it was not saved.");

    const auto unwritable = [&](const std::string& reason) {
        fail(Code::unwritable, "The library could not be saved in " + folder_.string() + ": " + reason);
    };
    std::error_code error;
    fs::create_directories(folder_, error);
    if (error) unwritable(error.message());
    // An unreadable library is the user's data all the same.
    if (fs::exists(file_)) {
        if (const Reading current = readLibrary(file_); !current.value) keepAside(current.problem);
    }

    const fs::path temporary = folder_ / (".library.json." + std::to_string(::getpid()) + ".tmp");
    fs::remove(temporary, error);
    try {
        writeSynced(temporary, text);
    } catch (const std::system_error& failure) {
        unwritable(failure.code().message());
    }
    if (fs::exists(file_)) {
        fs::remove(version(keptVersions), error);
        for (int n = keptVersions - 1; n >= 1; --n)
            if (fs::exists(version(n))) fs::rename(version(n), version(n + 1), error);
        // A link costs nothing and leaves the library itself in place until the rename.
        fs::create_hard_link(file_, version(1), error);
        if (error) fs::copy_file(file_, version(1), fs::copy_options::overwrite_existing, error);
    }
    fs::rename(temporary, file_, error);
    if (error) {
        fs::remove(temporary);
        unwritable(error.message());
    }
    syncFolder(folder_);
}

fs::path userDirectory(const std::function<std::optional<std::string>(std::string_view)>& env, std::string_view key,
                       std::string_view fallbackName) {
    const fs::path home = homeDirectory(env);
    fs::path config = home / ".config";
    if (auto xdg = env("XDG_CONFIG_HOME"); xdg && fs::path(*xdg).is_absolute()) config = *xdg;
    std::ifstream dirs(config / "user-dirs.dirs");
    const std::string prefix = "XDG_" + std::string(key) + "_DIR=\"";
    for (std::string line; std::getline(dirs, line);) {
        if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"') continue;
        std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        if (value.rfind("$HOME", 0) == 0) value = home.string() + value.substr(5);
        const fs::path folder = fs::path(value).lexically_normal();
        // The home folder itself means "not set".
        if (folder.is_absolute() && folder != home.lexically_normal() && folder != home / "") return folder;
    }
    return home / fallbackName;
}

fs::path saveNewFile(const fs::path& folder, std::string_view fileName, std::string_view text) {
    if (text.size() > LibraryStore::maxBytes) fail(LibraryStore::Code::tooLarge, "The file is larger than 64 MiB.");
    return saveNewFile(folder, fileName, [&](const fs::path& temporary) {
        try {
            writeSynced(temporary, text);
        } catch (const std::system_error& failure) {
            fail(LibraryStore::Code::unwritable,
                 "The file could not be saved in " + folder.string() + ": " + failure.code().message());
        }
    });
}

fs::path saveNewFile(const fs::path& folder, std::string_view fileName,
                     const std::function<void(const fs::path& temporary)>& write) {
    const auto refuse = [&](const std::string& why) {
        fail(LibraryStore::Code::badFileName, "The file name \"" + std::string(fileName.substr(0, 200)) + "\" " + why);
    };
    if (fileName.empty()) refuse("is empty.");
    if (fileName.size() > 200) refuse("is longer than 200 bytes.");
    if (fileName.front() == '.') refuse("begins with a dot.");
    for (const char c : fileName) {
        if (c == '/') refuse("names a folder: it holds a slash.");
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) refuse("holds a control character.");
    }

    std::error_code error;
    fs::create_directories(folder, error);
    const auto unwritable = [&](const std::string& reason) {
        fail(LibraryStore::Code::unwritable, "The file could not be saved in " + folder.string() + ": " + reason);
    };
    if (error) unwritable(error.message());
    // Unique in the process too: saves may run side by side.
    static std::atomic<std::uint64_t> saves{0};
    const fs::path temporary =
        folder / (".saving." + std::to_string(::getpid()) + "." + std::to_string(++saves) + ".tmp");
    fs::remove(temporary, error);
    try {
        write(temporary);
    } catch (...) {
        fs::remove(temporary, error);
        throw;
    }
    const fs::path name(fileName);
    const std::string stem = name.stem().string(), extension = name.extension().string();
    for (int n = 1; n <= 1000; ++n) {
        const fs::path target = folder / (n == 1 ? std::string(fileName) : stem + " (" + std::to_string(n) + ")" + extension);
        // A link, unlike a rename, fails instead of replacing a file of the same name.
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            fs::remove(temporary);
            syncFolder(folder);
            return target;
        }
        if (errno != EEXIST) {
            const int reason = errno;
            fs::remove(temporary);
            unwritable(systemReason(reason));
        }
    }
    fs::remove(temporary);
    fail(LibraryStore::Code::unwritable,
         "The file could not be saved in " + folder.string() + ": a thousand files of that name are there already");
}

} // namespace cadenzo
