#include "CadenzoPlayer/launch/PipeWireRoute.hpp"

#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace cadenzo {

namespace fs = std::filesystem;

bool shouldRestartOnPipeWire(const SoundServerFacts& facts) {
    return !facts.jackAnswers && facts.pipewireAnswers && facts.pipewireJackLibraryExists && !facts.alreadyRestarted;
}

namespace {

bool pipewireSocketAnswers() {
    std::string path = readEnvironment("PIPEWIRE_REMOTE").value_or("");
    if (path.empty()) path = "pipewire-0";
    if (path.front() != '/') {
        const std::string runtime = readEnvironment("XDG_RUNTIME_DIR").value_or("");
        if (runtime.empty()) return false;
        path = runtime + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answers = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

} // namespace

void restartOnPipeWireIfNeeded(char** argv) {
    SoundServerFacts facts;
    facts.alreadyRestarted = readEnvironment(pipewireRestartMarker).has_value();
    facts.pipewireAnswers = !facts.alreadyRestarted && pipewireSocketAnswers();
    // Debian keeps PipeWire's JACK library in a folder beside the one loaded.
    const std::string loaded = facts.pipewireAnswers ? JackDeviceBackend::libraryFile() : "";
    const fs::path folder = fs::path(loaded).parent_path() / "pipewire-0.3" / "jack";
    std::error_code error;
    facts.pipewireJackLibraryExists = !loaded.empty() && fs::exists(folder / "libjack.so.0", error);
    // Asked last: it costs a client of the server.
    facts.jackAnswers = facts.pipewireJackLibraryExists && JackDeviceBackend::serverAnswers();
    if (!shouldRestartOnPipeWire(facts)) return;

    const auto previous = readEnvironment("LD_LIBRARY_PATH");
    setenv("LD_LIBRARY_PATH", (folder.string() + (previous ? ":" + *previous : "")).c_str(), 1);
    setenv(pipewireRestartMarker, "1", 1);
    execv("/proc/self/exe", argv);
    // Still here: go on with the library already loaded.
    if (previous) setenv("LD_LIBRARY_PATH", previous->c_str(), 1);
    else unsetenv("LD_LIBRARY_PATH");
    unsetenv(pipewireRestartMarker);
}

} // namespace cadenzo
