#include "CadenzoPlayer/resource_bundle_accessor.hpp"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <iostream>
#include <system_error>

namespace cadenzo {

namespace fs = std::filesystem;

namespace {

bool staysInside(const fs::path& relative) {
    if (relative.has_root_path()) return false;
    for (const auto& part : relative) {
        if (part == "..") return false;
    }
    return true;
}

std::optional<fs::path> executableDirectory() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return std::nullopt;
    return exe.parent_path();
}

// The file that holds this code: the shared library when the core is built as
// one, otherwise the executable itself.
std::optional<fs::path> codeDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&resourceBundleCandidates), &info) == 0 || !info.dli_fname) {
        return std::nullopt;
    }
    // The main program is reported by the name it was started with, which may
    // be relative to a working directory that has changed since; the
    // executable's directory covers that case reliably.
    const fs::path file(info.dli_fname);
    if (!file.is_absolute()) return std::nullopt;
    return file.parent_path();
}

} // namespace

std::optional<fs::path> ResourceBundle::path(std::string_view name, std::string_view extension,
                                             std::string_view subdirectory) const {
    if (name.empty() || name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    if (subdirectory.find('\0') != std::string_view::npos || !staysInside(fs::path(subdirectory))) return std::nullopt;

    std::string fileName(name);
    if (!extension.empty()) {
        fileName += '.';
        fileName += extension;
    }
    if (fileName == "." || fileName == "..") return std::nullopt;
    fs::path location = directory_;
    if (!subdirectory.empty()) location /= fs::path(subdirectory);
    location /= fileName;
    std::error_code error;
    if (!fs::is_regular_file(location, error)) return std::nullopt;
    return location;
}

std::vector<std::optional<fs::path>> resourceBundleCandidates() {
    const std::optional<fs::path> exeDir = executableDirectory();
    std::optional<fs::path> resources;
    if (exeDir) resources = (*exeDir / ".." / "share" / "cadenzo-player").lexically_normal();
    return {resources, codeDirectory(), exeDir};
}

std::optional<ResourceBundle> findResourceBundle(const std::vector<std::optional<fs::path>>& candidates) {
    for (const auto& candidate : candidates) {
        if (!candidate) continue;
        const fs::path directory = *candidate / resourceBundleDirectoryName;
        std::error_code error;
        if (fs::is_directory(directory, error)) return ResourceBundle(directory);
    }
    return std::nullopt;
}

ResourceBundle requireResourceBundle(const std::vector<std::optional<fs::path>>& candidates) {
    if (auto bundle = findResourceBundle(candidates)) return *bundle;
    std::cout.flush();
    std::fflush(stdout);
    std::cerr << "unable to find bundle named " << resourceBundleName << std::endl;
    // At once: other threads may be waiting for the bundle, and static
    // destructors must not run under them.
    std::_Exit(EXIT_FAILURE);
}

const ResourceBundle& resourceBundle() {
    static const ResourceBundle bundle = requireResourceBundle(resourceBundleCandidates());
    return bundle;
}

} // namespace cadenzo
