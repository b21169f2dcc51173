#include "CadenzoPlayer/playback/PipeWire.hpp"

#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

namespace {

const nlohmann::json& field(const nlohmann::json& object, const char* key) {
    static const nlohmann::json none;
    if (!object.is_object()) return none;
    const auto found = object.find(key);
    return found == object.end() ? none : *found;
}

bool hasProfile(const nlohmann::json& profiles, const char* name) {
    return profiles.is_array() && std::any_of(profiles.begin(), profiles.end(),
                                              [name](const auto& profile) { return field(profile, "name") == name; });
}

} // namespace

std::set<std::string> stereoProfileSinks(const nlohmann::json& dump) {
    std::set<std::string> sinks;
    if (!dump.is_array()) return sinks;
    std::set<nlohmann::json> cards;
    for (const auto& object : dump) {
        const auto& info = field(object, "info");
        const auto& params = field(info, "params");
        if (field(object, "id").is_number() && field(field(info, "props"), "media.class") == "Audio/Device" &&
            hasProfile(field(params, "EnumProfile"), "pro-audio") && !hasProfile(field(params, "Profile"), "pro-audio"))
            cards.insert(field(object, "id"));
    }
    for (const auto& object : dump) {
        const auto& props = field(field(object, "info"), "props");
        if (field(props, "media.class") != "Audio/Sink" || !cards.count(field(props, "device.id"))) continue;
        for (const char* key : {"node.description", "node.nick", "node.name"}) {
            if (field(props, key).is_string()) sinks.insert(field(props, key).get<std::string>());
        }
    }
    return sinks;
}

void addProAudioHints(std::vector<OutputDevice>& devices, const std::set<std::string>& sinks) {
    for (auto& device : devices) {
        if (uidApi(device.uid) == "jack" && device.channelCount <= 2 && sinks.count(device.name)) {
            device.hint = "PipeWire plays this card in a stereo profile: choose its \"Pro Audio\" profile in the "
                          "sound settings for every channel.";
        }
    }
}

void addProAudioHints(std::vector<OutputDevice>& devices) {
    const bool candidate = std::any_of(devices.begin(), devices.end(), [](const OutputDevice& device) {
        return uidApi(device.uid) == "jack" && device.channelCount <= 2;
    });
    if (!candidate || JackDeviceBackend::libraryFile().find("/pipewire-0.3/") == std::string::npos) return;
    // A second at most: the listing must not wait on a server in trouble.
    FILE* pipe = popen("timeout 1 pw-dump 2>/dev/null", "r");
    if (!pipe) return;
    std::string text;
    char block[65536];
    for (std::size_t read; (read = std::fread(block, 1, sizeof block, pipe)) > 0;) text.append(block, read);
    pclose(pipe);
    addProAudioHints(devices, stereoProfileSinks(nlohmann::json::parse(text, nullptr, false)));
}

} // namespace cadenzo
