#include "CadenzoPlayer/audio/VirtualDeviceBackend.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace cadenzo {

namespace {
class VirtualStream;
}

struct VirtualDeviceBackend::State {
    struct Device {
        std::string name;
        std::int64_t channelCount = 0;
        double sampleRate = engineSampleRate;
        bool present = true;
        std::vector<std::vector<float>> recording;
        VirtualStream* stream = nullptr;
        int streamsOpened = 0;
    };

    Device* find(const std::string& name) {
        auto it = std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.name == name; });
        return it == devices.end() ? nullptr : &*it;
    }

    static void record(Device& device, const std::vector<std::vector<float>>& block, std::uint32_t frames) {
        for (std::size_t c = 0; c < block.size() && c < device.recording.size(); ++c) {
            device.recording[c].insert(device.recording[c].end(), block[c].begin(), block[c].begin() + frames);
        }
    }

    Mode mode = Mode::onDemand;
    std::uint32_t blockFrames = 256;
    std::string defaultName;
    std::vector<Device> devices;
    mutable std::mutex mutex;
};

namespace {

class VirtualStream final : public DeviceStream {
public:
    using State = VirtualDeviceBackend::State;

    VirtualStream(std::shared_ptr<State> state, State::Device& device, DeviceRenderCallback& callback)
        : state_(std::move(state)), name_(device.name), callback_(callback),
          channelCount_(static_cast<std::uint32_t>(device.channelCount)), sampleRate_(device.sampleRate) {
        ensureBlock(state_->blockFrames);
    }

    ~VirtualStream() override {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(state_->mutex);
        if (State::Device* device = state_->find(name_); device && device->stream == this) device->stream = nullptr;
    }

    double sampleRate() const override { return sampleRate_.load(); }
    std::uint32_t channelCount() const override { return channelCount_; }
    bool hasFailed() const override { return failed_.load(); }

    void start() override {
        started_ = true;
        if (state_->mode == VirtualDeviceBackend::Mode::realTime) {
            running_ = true;
            thread_ = std::thread([this] { runRealTime(); });
        }
    }

    void fail() { failed_ = true; }
    bool canRender() const { return started_ && !failed_; }

    // Called with the state locked.
    void renderLocked(State::Device& device, std::size_t frames) {
        const std::uint32_t block = state_->blockFrames;
        ensureBlock(block);
        while (frames > 0) {
            const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(frames, block));
            callback_.renderDevice(pointers_.data(), channelCount_, count, clock_);
            clock_ += count;
            State::record(device, buffers_, count);
            frames -= count;
        }
    }

    // Called with the state locked.
    void changeRateLocked(double rate) {
        sampleRate_ = rate;
        callback_.deviceRateChanged(rate);
    }

    // Called with the state locked: the device's clock moves on without a
    // callback, as in an xrun, and it records silence meanwhile.
    void skipLocked(State::Device& device, std::size_t frames) {
        clock_ += static_cast<std::int64_t>(frames);
        for (auto& channel : device.recording) channel.resize(channel.size() + frames, 0.0f);
    }

private:
    void ensureBlock(std::uint32_t frames) {
        if (!buffers_.empty() && buffers_[0].size() >= frames) return;
        buffers_.assign(channelCount_, std::vector<float>(frames, 0.0f));
        pointers_.clear();
        for (auto& buffer : buffers_) pointers_.push_back(buffer.data());
    }

    void runRealTime() {
        using clock = std::chrono::steady_clock;
        const std::uint32_t block = static_cast<std::uint32_t>(buffers_.empty() ? 0 : buffers_[0].size());
        const auto period =
            std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(block / sampleRate_));
        auto due = clock::now();
        while (running_) {
            if (!failed_) {
                callback_.renderDevice(pointers_.data(), channelCount_, block, clock_);
                clock_ += block;
                std::lock_guard lock(state_->mutex);
                if (State::Device* device = state_->find(name_)) State::record(*device, buffers_, block);
            }
            due += period;
            std::this_thread::sleep_until(due);
        }
    }

    std::shared_ptr<State> state_;
    std::string name_;
    DeviceRenderCallback& callback_;
    std::uint32_t channelCount_;
    std::atomic<double> sampleRate_;
    std::vector<std::vector<float>> buffers_;
    std::vector<float*> pointers_;
    std::int64_t clock_ = 0;  // the rendering thread's
    std::atomic<bool> started_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

} // namespace

VirtualDeviceBackend::VirtualDeviceBackend(Mode mode, std::uint32_t blockFrames) : state_(std::make_shared<State>()) {
    state_->mode = mode;
    state_->blockFrames = std::max<std::uint32_t>(1, blockFrames);
}

VirtualDeviceBackend::~VirtualDeviceBackend() = default;

void VirtualDeviceBackend::addDevice(const std::string& name, std::int64_t channelCount, double sampleRate) {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    if (!device) device = &state_->devices.emplace_back();
    device->name = name;
    device->channelCount = channelCount;
    device->sampleRate = sampleRate;
    device->present = true;
    device->recording.assign(static_cast<std::size_t>(std::max<std::int64_t>(0, channelCount)), {});
}

void VirtualDeviceBackend::setDefaultDevice(const std::string& name) {
    std::lock_guard lock(state_->mutex);
    state_->defaultName = name;
}

void VirtualDeviceBackend::removeDevice(const std::string& name) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* device = state_->find(name)) {
        device->present = false;
        if (device->stream) device->stream->fail();
        device->stream = nullptr;  // the dead stream lives on with its owner until closed
    }
}

std::vector<BackendDevice> VirtualDeviceBackend::devices() {
    std::lock_guard lock(state_->mutex);
    std::vector<BackendDevice> list;
    for (const auto& device : state_->devices) {
        if (!device.present) continue;
        list.push_back({uidFor(device.name), device.name, device.channelCount, false});
    }
    auto flagged = std::find_if(list.begin(), list.end(), [&](const auto& d) { return d.name == state_->defaultName; });
    if (flagged == list.end()) flagged = list.begin();
    if (flagged != list.end()) flagged->isDefault = true;
    return list;
}

bool VirtualDeviceBackend::ownsUid(const std::string& uid) const { return uidApi(uid) == "virtual"; }

std::unique_ptr<DeviceStream> VirtualDeviceBackend::openStream(const std::string& uid, double,
                                                               DeviceRenderCallback& callback) {
    std::lock_guard lock(state_->mutex);
    State::Device* device = ownsUid(uid) ? state_->find(uidName(uid)) : nullptr;
    if (!device || !device->present) throwDeviceOpenFailure(uid, "no such device");
    if (device->channelCount < 1) throwDeviceOpenFailure(uid, "the device has no output channels");
    if (device->stream) throwDeviceOpenFailure(uid, "the device is already in use");
    auto stream = std::make_unique<VirtualStream>(state_, *device, callback);
    device->stream = stream.get();
    ++device->streamsOpened;
    return stream;
}

bool VirtualDeviceBackend::render(const std::string& name, std::size_t frames) {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    if (!device || !device->stream) return false;
    if (!device->stream->canRender()) return false;
    device->stream->renderLocked(*device, frames);
    return true;
}

bool VirtualDeviceBackend::changeRate(const std::string& name, double rate) {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    if (!device || !device->stream || !device->stream->canRender()) return false;
    device->sampleRate = rate;
    device->stream->changeRateLocked(rate);
    return true;
}

bool VirtualDeviceBackend::skip(const std::string& name, std::size_t frames) {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    if (!device || !device->stream || !device->stream->canRender()) return false;
    device->stream->skipLocked(*device, frames);
    return true;
}

void VirtualDeviceBackend::setBlockFrames(std::uint32_t frames) {
    std::lock_guard lock(state_->mutex);
    state_->blockFrames = std::max<std::uint32_t>(1, frames);
}

std::vector<std::vector<float>> VirtualDeviceBackend::recording(const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    return device ? device->recording : std::vector<std::vector<float>>{};
}

std::size_t VirtualDeviceBackend::recordedFrames(const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    return device && !device->recording.empty() ? device->recording[0].size() : 0;
}

void VirtualDeviceBackend::clearRecording(const std::string& name) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* device = state_->find(name)) {
        for (auto& channel : device->recording) channel.clear();
    }
}

void VirtualDeviceBackend::reserveRecording(const std::string& name, std::size_t frames) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* device = state_->find(name)) {
        for (auto& channel : device->recording) channel.reserve(channel.size() + frames);
    }
}

bool VirtualDeviceBackend::isStreamOpen(const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    return device && device->stream;
}

int VirtualDeviceBackend::streamsOpened(const std::string& name) const {
    std::lock_guard lock(state_->mutex);
    State::Device* device = state_->find(name);
    return device ? device->streamsOpened : 0;
}

} // namespace cadenzo
