#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"

namespace cadenzo {

CompositeDeviceBackend::CompositeDeviceBackend(std::vector<std::shared_ptr<DeviceBackend>> backends)
    : backends_(std::move(backends)) {}

std::vector<BackendDevice> CompositeDeviceBackend::devices() {
    std::vector<BackendDevice> all;
    bool defaultSeen = false;
    for (const auto& backend : backends_) {
        for (BackendDevice& device : backend->devices()) {
            // The first backend with a default decides.
            device.isDefault = device.isDefault && !defaultSeen;
            defaultSeen = defaultSeen || device.isDefault;
            all.push_back(std::move(device));
        }
    }
    return all;
}

bool CompositeDeviceBackend::ownsUid(const std::string& uid) const {
    for (const auto& backend : backends_) {
        if (backend->ownsUid(uid)) return true;
    }
    return false;
}

std::unique_ptr<DeviceStream> CompositeDeviceBackend::openStream(const std::string& uid, double preferredSampleRate,
                                                                 DeviceRenderCallback& callback) {
    for (const auto& backend : backends_) {
        if (backend->ownsUid(uid)) return backend->openStream(uid, preferredSampleRate, callback);
    }
    throwDeviceOpenFailure(uid, "no such device");
}

std::shared_ptr<DeviceBackend> DeviceLayer::makeSystemBackend() {
    return std::make_shared<CompositeDeviceBackend>(std::vector<std::shared_ptr<DeviceBackend>>{
        std::make_shared<JackDeviceBackend>(),
        std::make_shared<RtAudioDeviceBackend>(RtAudioDeviceBackend::Api::alsa),
        std::make_shared<RtAudioDeviceBackend>(RtAudioDeviceBackend::Api::pulse),
    });
}

} // namespace cadenzo
