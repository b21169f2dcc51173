#include "CadenzoPlayer/playback/Device.hpp"

namespace cadenzo::CoreAudioDevices {

std::optional<Device> deviceWithUid(const std::vector<Device>& devices, std::string_view uid) {
    for (const Device& device : devices) {
        if (device.uid == uid) return device;
    }
    return std::nullopt;
}

std::optional<Device> deviceWithNameContaining(const std::vector<Device>& devices, std::string_view fragment) {
    if (fragment.empty()) return std::nullopt;
    for (const Device& device : devices) {
        if (device.name.find(fragment) != std::string::npos) return device;
    }
    return std::nullopt;
}

} // namespace cadenzo::CoreAudioDevices
