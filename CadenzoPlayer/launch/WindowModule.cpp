#include "CadenzoPlayer/launch/WindowModule.hpp"

#include <dlfcn.h>

#include <iostream>
#include <system_error>

#ifndef CADENZO_MODULE_DIRECTORY
#define CADENZO_MODULE_DIRECTORY "../lib/cadenzo-player"
#endif

namespace cadenzo {

namespace fs = std::filesystem;

std::vector<fs::path> windowModuleCandidates() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) return {};
    const fs::path directory = exe.parent_path();
    return {directory / windowModuleFile,
            (directory / CADENZO_MODULE_DIRECTORY / windowModuleFile).lexically_normal()};
}

int runWindowModule(const std::vector<fs::path>& candidates) {
    std::string reason = "no " + std::string(windowModuleFile) + " beside the program or in its library directory";
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (!fs::is_regular_file(candidate, error)) continue;
        // Never unloaded: GTK and WebKit keep threads and handlers to the end.
        void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            reason = dlerror();
            break;
        }
        auto* entry = reinterpret_cast<int (*)()>(dlsym(module, windowModuleEntry));
        if (!entry) {
            reason = candidate.string() + " has no entry point " + windowModuleEntry;
            break;
        }
        return entry();
    }
    std::cerr << "The window could not be opened: " << reason << std::endl;
    return 1;
}

} // namespace cadenzo
