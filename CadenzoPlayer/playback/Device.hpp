#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo::CoreAudioDevices {

// An output device as the device layer lists it. `id` stays the same for a
// `uid` during the run; it addresses the device and is never sent to the page.
struct Device {
    std::uint32_t id = 0;
    std::string uid;
    std::string name;
    std::int64_t channelCount = 0;

    friend bool operator==(const Device&, const Device&) = default;
};

// First device whose uid equals `uid` exactly.
std::optional<Device> deviceWithUid(const std::vector<Device>& devices, std::string_view uid);

// First device whose name contains `fragment`, case-sensitively; an empty
// fragment matches nothing.
std::optional<Device> deviceWithNameContaining(const std::vector<Device>& devices, std::string_view fragment);

} // namespace cadenzo::CoreAudioDevices
