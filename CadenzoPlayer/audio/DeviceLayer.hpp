#pragma once

#include "CadenzoPlayer/audio/DeviceBackend.hpp"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cadenzo {

// What a device's shared stream mixes: an engine renders its channels
// additively onto the first device channels, on the device's real-time thread.
class EngineRenderer {
public:
    virtual ~EngineRenderer() = default;
    virtual void renderAdding(float* const* channels, std::uint32_t channelCount, std::uint32_t frames) noexcept = 0;
    // Frames (at the engine rate) the device skipped: its timelines move on
    // by them without sounding, so that what follows keeps its place.
    virtual void skip(std::int64_t frames) noexcept = 0;
};

class DeviceOutput;

// An output device as the device layer lists it. `id` stays the same for a
// `uid` during the run; it addresses the device and is never sent to the page.
struct OutputDevice {
    std::uint32_t id = 0;
    std::string uid;
    std::string name;
    std::int64_t channelCount = 0;
    bool isDefault = false;
    std::string hint;  // one line for the musician, "" when there is nothing to say

    friend bool operator==(const OutputDevice&, const OutputDevice&) = default;
};

// The process-wide device layer: the backend in use, the identifiers that
// stay fixed for a uid during the run, and one shared output stream per
// device that mixes every engine running on it.
class DeviceLayer {
public:
    static DeviceLayer& shared();

    // The JACK, ALSA and PulseAudio backends, in that order.
    static std::shared_ptr<DeviceBackend> makeSystemBackend();

    std::shared_ptr<DeviceBackend> backend() const;
    // Replaces the backend; streams already open stay with the engines using
    // them until those stop. Returns the previous backend.
    std::shared_ptr<DeviceBackend> setBackend(std::shared_ptr<DeviceBackend> backend);

    // Output devices (at least one channel) in backend order. Never fails.
    std::vector<OutputDevice> devices();

    std::uint32_t idForUid(const std::string& uid);
    std::optional<std::string> uidForId(std::uint32_t id) const;

    // Joins the device's shared stream, opening it if needed. Throws
    // cadenzo::Error when the stream cannot be opened.
    std::shared_ptr<DeviceOutput> attach(const std::string& uid, std::shared_ptr<EngineRenderer> engine);
    // Leaves the stream; once this returns the stream's thread no longer
    // renders the engine. The last engine to leave closes the stream. Returns
    // false only if the stream's thread could not be seen to let go.
    bool detach(const std::shared_ptr<DeviceOutput>& output, const EngineRenderer* engine);

    bool hasOpenStream(const std::string& uid) const;

    // Streams opened from now on keep every sample below full scale (the
    // default) or, for tests of the engines' own sums, pass them unchanged.
    void setOutputLimiting(bool on);

    // When on, the stream of the last device used stays open once its last
    // engine has left, so that the next engine on it sounds from the next
    // block instead of waiting for the device to open (a JACK client takes
    // tens of milliseconds). Others close as before; off closes it too.
    void setKeepLastStreamOpen(bool on);

private:
    DeviceLayer();

    mutable std::mutex mutex_;
    mutable std::shared_ptr<DeviceBackend> backend_;
    mutable bool backendMade_ = false;  // the system backend is made on first use
    std::atomic<bool> limiting_{true};
    bool keepLast_ = false;
    // Call with the mutex held: closes every stream with no engine but `kept`.
    void closeIdle(const DeviceOutput* kept);
    std::map<std::string, std::shared_ptr<DeviceOutput>> outputs_;

    mutable std::mutex idMutex_;
    std::map<std::string, std::uint32_t> ids_;
    std::vector<std::string> uidsById_;
};

// The device a joined stream plays on, and whether it or its server has gone
// away (then the stream plays no more).
const std::string& outputUid(const DeviceOutput& output);
bool outputFailed(const DeviceOutput& output);

// Installs a backend for tests in place of the system one (nullptr: no
// device layer at all). Returns the previous backend.
std::shared_ptr<DeviceBackend> setDeviceBackendForTesting(std::shared_ptr<DeviceBackend> backend);

} // namespace cadenzo
