#include "CadenzoPlayer/audio/DeviceLayer.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/LockFree.hpp"
#include "CadenzoPlayer/audio/OutputLimiter.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"
#include "CadenzoPlayer/audio/Resampler.hpp"

#include <algorithm>
#include <cstring>

namespace cadenzo {

void throwDeviceOpenFailure(const std::string& uid, const std::string& reason) {
    throw Error("AudioEngine", AudioEngine::deviceUnavailable, "Could not open output device " + uid + ": " + reason);
}

std::string uidApi(const std::string& uid) {
    const auto colon = uid.find(':');
    return colon == std::string::npos ? std::string() : uid.substr(0, colon);
}

std::string uidName(const std::string& uid) {
    const auto colon = uid.find(':');
    return colon == std::string::npos ? uid : uid.substr(colon + 1);
}

// One open stream on a device and the engines it mixes.
class DeviceOutput final : public DeviceRenderCallback {
public:
    explicit DeviceOutput(std::string uid) : uid_(std::move(uid)) {}
    ~DeviceOutput() { close(); }

    const std::string& uid() const { return uid_; }

    void open(const std::shared_ptr<DeviceBackend>& backend, bool limited) {
        backend_ = backend;
        auto stream = backend->openStream(uid_, engineSampleRate, *this);
        channelCount_ = stream->channelCount();
        if (limited) limiter_ = std::make_unique<OutputLimiter>(channelCount_, stream->sampleRate());
        deviceRateChanged(stream->sampleRate());
        stream_ = std::move(stream);
        stream_->start();
    }

    bool failed() const { return !stream_ || stream_->hasFailed(); }

    bool idle() {
        const auto current = engines_.current();
        return !current || current->empty();
    }

    void add(std::shared_ptr<EngineRenderer> engine) {
        auto list = std::make_shared<EngineList>();
        if (auto current = engines_.current()) *list = *current;
        list->push_back(std::move(engine));
        engines_.publish(std::move(list));
    }

    // Whether the render thread was seen to let go; `empty` tells whether
    // the engine was the last.
    bool remove(const EngineRenderer* engine, bool& empty) {
        auto list = std::make_shared<EngineList>();
        if (auto current = engines_.current()) *list = *current;
        std::erase_if(*list, [engine](const auto& e) { return e.get() == engine; });
        empty = list->empty();
        return engines_.publish(std::move(list));
    }

    void close() {
        stream_.reset();
        engines_.collect();
    }

    // The resampler for the new rate is built here, off the render thread, and
    // swapped in whole: the render thread never waits for it.
    void deviceRateChanged(double deviceRate) override {
        auto rate = std::make_shared<Rate>();
        rate->engineFramesPerDeviceFrame = engineSampleRate / deviceRate;
        if (deviceRate != engineSampleRate)
            rate->resampler = std::make_unique<Resampler>(engineSampleRate, deviceRate, channelCount_);
        rate_.publish(std::move(rate));
    }

    void renderDevice(float* const* channels, std::uint32_t channelCount, std::uint32_t frames,
                      std::int64_t deviceFrame) noexcept override {
        for (std::uint32_t c = 0; c < channelCount; ++c) std::memset(channels[c], 0, frames * sizeof(float));
        const EngineList* engines = engines_.acquire();
        const Rate* rate = rate_.acquire();
        if (nextFrame_ >= 0 && deviceFrame > nextFrame_ && engines && rate)
            skip(*engines, deviceFrame - nextFrame_, rate->engineFramesPerDeviceFrame);
        nextFrame_ = deviceFrame + frames;
        if (engines && !engines->empty() && rate) {
            if (rate->resampler) {
                if (channelCount == channelCount_) {
                    Pull pull{engines, channelCount};
                    rate->resampler->process(channels, frames, &Pull::fill, &pull);
                }
            } else {
                mix(*engines, channels, channelCount, frames);
            }
        }
        rate_.release();
        engines_.release();
        if (limiter_) limiter_->process(channels, channelCount, frames);
    }

private:
    using EngineList = std::vector<std::shared_ptr<EngineRenderer>>;

    // The engines run at their own rate behind a resampler: the skipped
    // device frames are carried over in engine frames, the fraction kept.
    void skip(const EngineList& engines, std::int64_t deviceFrames, double engineFramesPerDeviceFrame) noexcept {
        skipped_ += static_cast<double>(deviceFrames) * engineFramesPerDeviceFrame;
        const auto frames = static_cast<std::int64_t>(skipped_);
        skipped_ -= static_cast<double>(frames);
        for (const auto& engine : engines) engine->skip(frames);
    }

    static void mix(const EngineList& engines, float* const* channels, std::uint32_t channelCount,
                    std::uint32_t frames) noexcept {
        for (const auto& engine : engines) engine->renderAdding(channels, channelCount, frames);
    }

    struct Pull {
        const EngineList* engines;
        std::uint32_t channelCount;
        static void fill(void* context, float* const* channels, std::uint32_t frames) {
            auto* pull = static_cast<Pull*>(context);
            for (std::uint32_t c = 0; c < pull->channelCount; ++c) std::memset(channels[c], 0, frames * sizeof(float));
            mix(*pull->engines, channels, pull->channelCount, frames);
        }
    };

    std::string uid_;
    std::shared_ptr<DeviceBackend> backend_;  // outlives its stream
    std::unique_ptr<DeviceStream> stream_;
    std::unique_ptr<OutputLimiter> limiter_;
    std::uint32_t channelCount_ = 0;
    SnapshotPublisher<EngineList> engines_;
    struct Rate {
        std::unique_ptr<Resampler> resampler;  // none at the engine's own rate
        double engineFramesPerDeviceFrame = 1.0;
    };
    SnapshotPublisher<Rate> rate_;
    // Render thread only: where the next block should begin, and skipped
    // engine frames not yet whole.
    std::int64_t nextFrame_ = -1;
    double skipped_ = 0.0;
};

DeviceLayer::DeviceLayer() = default;

DeviceLayer& DeviceLayer::shared() {
    // Never destroyed: engines may still be stopping while static objects go.
    static DeviceLayer* layer = new DeviceLayer;
    return *layer;
}

std::shared_ptr<DeviceBackend> DeviceLayer::backend() const {
    std::lock_guard lock(mutex_);
    if (!backendMade_) {
        backend_ = makeSystemBackend();
        backendMade_ = true;
    }
    return backend_;
}

std::shared_ptr<DeviceBackend> DeviceLayer::setBackend(std::shared_ptr<DeviceBackend> backend) {
    std::lock_guard lock(mutex_);
    auto previous = std::exchange(backend_, std::move(backend));
    backendMade_ = true;
    outputs_.clear();
    return previous;
}

std::vector<OutputDevice> DeviceLayer::devices() {
    std::vector<OutputDevice> result;
    const auto source = backend();
    if (!source) return result;
    for (const BackendDevice& device : source->devices()) {
        if (device.channelCount < 1) continue;
        result.push_back({idForUid(device.uid), device.uid, device.name, device.channelCount, device.isDefault, ""});
    }
    return result;
}

std::uint32_t DeviceLayer::idForUid(const std::string& uid) {
    std::lock_guard lock(idMutex_);
    auto [it, inserted] = ids_.try_emplace(uid, static_cast<std::uint32_t>(uidsById_.size() + 1));
    if (inserted) uidsById_.push_back(uid);
    return it->second;
}

std::optional<std::string> DeviceLayer::uidForId(std::uint32_t id) const {
    std::lock_guard lock(idMutex_);
    if (id == 0 || id > uidsById_.size()) return std::nullopt;
    return uidsById_[id - 1];
}

std::shared_ptr<DeviceOutput> DeviceLayer::attach(const std::string& uid, std::shared_ptr<EngineRenderer> engine) {
    const auto source = backend();
    std::lock_guard lock(mutex_);
    if (!source) throw Error("AudioEngine", AudioEngine::noDeviceLayer, "No audio device layer is available");
    auto found = outputs_.find(uid);
    // A stream whose device went away stays with its engines until they
    // stop; newcomers get a fresh one.
    if (found != outputs_.end() && found->second->failed()) {
        outputs_.erase(found);
        found = outputs_.end();
    }
    if (found == outputs_.end()) {
        auto output = std::make_shared<DeviceOutput>(uid);
        output->open(source, limiting_.load());
        found = outputs_.emplace(uid, std::move(output)).first;
    }
    found->second->add(std::move(engine));
    return found->second;
}

bool DeviceLayer::detach(const std::shared_ptr<DeviceOutput>& output, const EngineRenderer* engine) {
    if (!output) return true;
    std::lock_guard lock(mutex_);
    bool empty = false;
    const bool letGo = output->remove(engine, empty);
    if (empty) closeIdle(keepLast_ && !output->failed() ? output.get() : nullptr);
    return letGo;
}

void DeviceLayer::closeIdle(const DeviceOutput* kept) {
    for (auto it = outputs_.begin(); it != outputs_.end();) {
        if (it->second.get() != kept && it->second->idle()) {
            it->second->close();
            it = outputs_.erase(it);
        } else {
            ++it;
        }
    }
}

void DeviceLayer::setKeepLastStreamOpen(bool on) {
    std::lock_guard lock(mutex_);
    keepLast_ = on;
    if (!on) closeIdle(nullptr);
}

void DeviceLayer::setOutputLimiting(bool on) { limiting_ = on; }

bool DeviceLayer::hasOpenStream(const std::string& uid) const {
    std::lock_guard lock(mutex_);
    return outputs_.count(uid) > 0;
}

const std::string& outputUid(const DeviceOutput& output) { return output.uid(); }

bool outputFailed(const DeviceOutput& output) { return output.failed(); }

std::shared_ptr<DeviceBackend> setDeviceBackendForTesting(std::shared_ptr<DeviceBackend> backend) {
    return DeviceLayer::shared().setBackend(std::move(backend));
}

} // namespace cadenzo
