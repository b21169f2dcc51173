#pragma once

#include "CadenzoPlayer/audio/DeviceLayer.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo::CoreAudioDevices {

using Device = OutputDevice;

// First device whose uid equals `uid` exactly.
std::optional<Device> deviceWithUid(const std::vector<Device>& devices, std::string_view uid);

// First device whose name contains `fragment`, case-sensitively; an empty
// fragment matches nothing.
std::optional<Device> deviceWithNameContaining(const std::vector<Device>& devices, std::string_view fragment);

} // namespace cadenzo::CoreAudioDevices
