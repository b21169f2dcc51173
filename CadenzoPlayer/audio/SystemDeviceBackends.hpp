#pragma once

#include "CadenzoPlayer/audio/DeviceBackend.hpp"

#include <memory>
#include <string>
#include <vector>

namespace cadenzo {

// JACK clients that accept audio, as devices "jack:<client>" with one channel
// per input port. Never starts a server; the program's own clients (named
// after jackClientName) are never listed.
class JackDeviceBackend final : public DeviceBackend {
public:
    static constexpr const char* jackClientName = "CadenzoPlayer";

    JackDeviceBackend();

    // Whether a server answers a client now, without starting one.
    static bool serverAnswers();
    // The JACK library this process loaded, "" when unknown.
    static std::string libraryFile();

    std::vector<BackendDevice> devices() override;
    bool ownsUid(const std::string& uid) const override { return uidApi(uid) == "jack"; }
    std::unique_ptr<DeviceStream> openStream(const std::string& uid, double preferredSampleRate,
                                             DeviceRenderCallback& callback) override;
};

// ALSA hardware devices ("alsa:hw:...") or PulseAudio devices ("pulse:...")
// through RtAudio.
class RtAudioDeviceBackend final : public DeviceBackend {
public:
    enum class Api { alsa, pulse };

    explicit RtAudioDeviceBackend(Api api);

    std::vector<BackendDevice> devices() override;
    bool ownsUid(const std::string& uid) const override { return uidApi(uid) == prefix_; }
    std::unique_ptr<DeviceStream> openStream(const std::string& uid, double preferredSampleRate,
                                             DeviceRenderCallback& callback) override;

private:
    Api api_;
    std::string prefix_;
};

// Several backends as one: their devices in the given order; a stream is
// opened by the backend that owns the uid.
class CompositeDeviceBackend final : public DeviceBackend {
public:
    explicit CompositeDeviceBackend(std::vector<std::shared_ptr<DeviceBackend>> backends);

    std::vector<BackendDevice> devices() override;
    bool ownsUid(const std::string& uid) const override;
    std::unique_ptr<DeviceStream> openStream(const std::string& uid, double preferredSampleRate,
                                             DeviceRenderCallback& callback) override;

private:
    std::vector<std::shared_ptr<DeviceBackend>> backends_;
};

} // namespace cadenzo
