#include "CadenzoPlayer/audio/AudioEngine.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/DeviceLayer.hpp"

#include <algorithm>

namespace cadenzo {

class AudioEngine::Core final : public EngineRenderer {
public:
    using NodeList = std::vector<AudioPlayerNodePtr>;

    void renderAdding(float* const* channels, std::uint32_t channelCount, std::uint32_t frames) noexcept override {
        // One snapshot of the released starts for every node of this block:
        // starts released together begin together.
        const std::uint64_t released = gate->released.load(std::memory_order_acquire);
        const std::uint32_t mixed = std::min(channelCount, outputChannels.load(std::memory_order_relaxed));
        if (const NodeList* list = nodes.acquire()) {
            for (const auto& node : *list) node->render(channels, mixed, frames, released);
        }
        nodes.release();
    }

    void skip(std::int64_t frames) noexcept override {
        const std::uint64_t released = gate->released.load(std::memory_order_acquire);
        if (const NodeList* list = nodes.acquire()) {
            for (const auto& node : *list) node->skip(frames, released);
        }
        nodes.release();
    }

    std::shared_ptr<StartGate> gate = std::make_shared<StartGate>();
    SnapshotPublisher<NodeList> nodes;
    std::atomic<std::uint32_t> outputChannels{0};
};

AudioEngine::AudioEngine() : core_(std::make_shared<Core>()) {}

AudioEngine::~AudioEngine() { stop(); }

bool AudioEngine::hasDeviceLayer() const { return DeviceLayer::shared().backend() != nullptr; }

int AudioEngine::selectDevice(std::uint32_t deviceId) {
    DeviceLayer& layer = DeviceLayer::shared();
    if (!layer.backend()) return statusNoDeviceLayer;
    const auto uid = layer.uidForId(deviceId);
    if (!uid) return statusUnknownDevice;
    const auto devices = layer.devices();
    const bool present = std::any_of(devices.begin(), devices.end(), [&](const auto& d) { return d.uid == *uid; });
    if (!present) return statusDeviceNotPresent;
    std::lock_guard lock(mutex_);
    deviceId_ = deviceId;
    return statusOk;
}

std::optional<std::uint32_t> AudioEngine::selectedDevice() const {
    std::lock_guard lock(mutex_);
    return deviceId_;
}

void AudioEngine::setFormat(const AudioFormat& format) {
    std::lock_guard lock(mutex_);
    format_ = format;
}

AudioFormat AudioEngine::format() const {
    std::lock_guard lock(mutex_);
    return format_;
}

void AudioEngine::attach(const AudioPlayerNodePtr& node) {
    if (!node) return;
    std::lock_guard lock(mutex_);
    auto list = std::make_shared<Core::NodeList>();
    if (auto current = core_->nodes.current()) *list = *current;
    if (std::find(list->begin(), list->end(), node) != list->end()) return;
    node->attachTo(core_->gate);
    list->push_back(node);
    core_->nodes.publish(std::move(list));
}

std::vector<AudioPlayerNodePtr> AudioEngine::attachedNodes() const {
    auto current = core_->nodes.current();
    return current ? *current : std::vector<AudioPlayerNodePtr>{};
}

namespace {

void checkFormat(const AudioFormat& format) {
    if (isValidChannelCount(format.channelCount) && format.sampleRate == engineSampleRate) return;
    throw Error("AudioEngine", AudioEngine::unsupportedFormat,
                "Unsupported output format: " + std::to_string(format.channelCount) + " channel(s) at " +
                    std::to_string(static_cast<long long>(format.sampleRate)) + " Hz");
}

} // namespace

void AudioEngine::startOffline() {
    std::lock_guard lock(mutex_);
    if (running_) return;
    checkFormat(format_);
    core_->outputChannels.store(format_.channelCount);
    running_ = true;
}

void AudioEngine::renderOffline(float* const* channels, std::uint32_t channelCount, std::uint32_t frames) noexcept {
    core_->renderAdding(channels, channelCount, frames);
}

void AudioEngine::start() {
    std::lock_guard lock(mutex_);
    if (running_) return;
    DeviceLayer& layer = DeviceLayer::shared();
    if (!layer.backend()) throw Error("AudioEngine", noDeviceLayer, "No audio device layer is available");
    checkFormat(format_);

    std::optional<std::string> uid;
    if (deviceId_) uid = layer.uidForId(*deviceId_);
    if (!uid) {
        const auto devices = layer.devices();
        auto chosen = std::find_if(devices.begin(), devices.end(), [](const auto& d) { return d.isDefault; });
        if (chosen == devices.end()) chosen = devices.begin();
        if (chosen != devices.end()) uid = chosen->uid;
    }
    if (!uid) throw Error("AudioEngine", noOutputDevice, "No output device is available");

    core_->outputChannels.store(format_.channelCount);
    output_ = layer.attach(*uid, core_);
    running_ = true;
}

void AudioEngine::stop() {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    const bool letGo = !output_ || DeviceLayer::shared().detach(output_, core_.get());
    output_.reset();
    running_ = false;
    // Only once the render thread has let go do the nodes belong to us again.
    if (!letGo) return;
    if (auto list = core_->nodes.current()) {
        for (const auto& node : *list) node->resetAfterEngineStop();
    }
}

std::string AudioEngine::deviceUid() const {
    std::lock_guard lock(mutex_);
    return output_ ? outputUid(*output_) : std::string();
}

bool AudioEngine::hasLostDevice() const {
    std::lock_guard lock(mutex_);
    return output_ && outputFailed(*output_);
}

AudioEngine::StartGroup::StartGroup(AudioEngine& engine) : gate_(engine.core_->gate) { gate_->hold(); }

AudioEngine::StartGroup::~StartGroup() { gate_->unhold(); }

} // namespace cadenzo
