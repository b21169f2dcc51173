#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"

#include <RtAudio.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace cadenzo {

namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// Errors met on RtAudio's own threads arrive here; the stream notices them
// through its state, and nothing may reach the console.
void ignoreStreamError(RtAudioError::Type, const std::string&) {}

RtAudio::Api rtApi(RtAudioDeviceBackend::Api api) {
    return api == RtAudioDeviceBackend::Api::alsa ? RtAudio::LINUX_ALSA : RtAudio::LINUX_PULSE;
}

bool compiledIn(RtAudio::Api api) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// RtAudio falls back to another api when asked for one it lacks, so check first.
std::unique_ptr<RtAudio> makeRtAudio(RtAudio::Api api) {
    if (!compiledIn(api)) return nullptr;
    auto audio = std::make_unique<RtAudio>(api);
    audio->showWarnings(false);
    return audio;
}

bool listable(RtAudioDeviceBackend::Api api, const RtAudio::DeviceInfo& info) {
    if (!info.probed || info.outputChannels == 0) return false;
    // ALSA also offers plug-in devices such as "default"; only hardware is listed.
    return api != RtAudioDeviceBackend::Api::alsa || info.name.rfind("hw:", 0) == 0;
}

class RtAudioStream final : public DeviceStream {
public:
    RtAudioStream(RtAudioDeviceBackend::Api api, const std::string& uid, double preferredRate,
                  DeviceRenderCallback& callback)
        : uid_(uid), callback_(callback) {
        try {
            audio_ = makeRtAudio(rtApi(api));
            if (!audio_) throwDeviceOpenFailure(uid, "the audio api is not available");
            const std::string name = uidName(uid);
            const unsigned count = audio_->getDeviceCount();
            for (unsigned i = 0; i < count; ++i) {
                RtAudio::DeviceInfo info = audio_->getDeviceInfo(i);
                if (!listable(api, info) || info.name != name) continue;
                const auto& rates = info.sampleRates;
                const auto wanted = static_cast<unsigned>(preferredRate);
                unsigned rate = info.preferredSampleRate;
                if (std::find(rates.begin(), rates.end(), wanted) != rates.end()) rate = wanted;
                else if (rate == 0 && !rates.empty()) rate = rates.back();
                RtAudio::StreamParameters parameters;
                parameters.deviceId = i;
                parameters.nChannels = info.outputChannels;
                parameters.firstChannel = 0;
                RtAudio::StreamOptions options;
                options.flags = RTAUDIO_NONINTERLEAVED;
                options.streamName = JackDeviceBackend::jackClientName;
                unsigned frames = 256;
                audio_->openStream(&parameters, nullptr, RTAUDIO_FLOAT32, rate, &frames, &RtAudioStream::render,
                                   this, &options, &ignoreStreamError);
                channels_.assign(info.outputChannels, nullptr);
                sampleRate_ = audio_->getStreamSampleRate();
                return;
            }
        } catch (const RtAudioError& error) {
            throwDeviceOpenFailure(uid, error.getMessage());
        }
        throwDeviceOpenFailure(uid, "no such device");
    }

    ~RtAudioStream() override {
        try {
            // Abort, not stop: stopping waits for the device to drain.
            if (audio_->isStreamRunning()) audio_->abortStream();
            if (audio_->isStreamOpen()) audio_->closeStream();
        } catch (const RtAudioError&) {
        }
    }

    double sampleRate() const override { return sampleRate_; }
    std::uint32_t channelCount() const override { return static_cast<std::uint32_t>(channels_.size()); }
    bool hasFailed() const override { return started_ && !audio_->isStreamRunning(); }

    void start() override {
        try {
            audio_->startStream();
        } catch (const RtAudioError& error) {
            throwDeviceOpenFailure(uid_, error.getMessage());
        }
        if (!audio_->isStreamRunning()) throwDeviceOpenFailure(uid_, "the stream did not start");
        started_ = true;
    }

private:
    static int render(void* output, void*, unsigned frames, double, RtAudioStreamStatus, void* context) {
        auto* self = static_cast<RtAudioStream*>(context);
        auto* base = static_cast<float*>(output);
        for (std::size_t c = 0; c < self->channels_.size(); ++c) self->channels_[c] = base + c * frames;
        const auto count = static_cast<std::uint32_t>(self->channels_.size());
        // No server clock here: the stream's own count of frames.
        self->callback_.renderDevice(self->channels_.data(), count, frames, self->clock_);
        self->clock_ += frames;
        return 0;
    }

    std::string uid_;
    DeviceRenderCallback& callback_;
    std::unique_ptr<RtAudio> audio_;
    std::vector<float*> channels_;
    std::int64_t clock_ = 0;  // render thread only
    double sampleRate_ = 0;
    std::atomic<bool> started_{false};
};

} // namespace

RtAudioDeviceBackend::RtAudioDeviceBackend(Api api) : api_(api), prefix_(api == Api::alsa ? "alsa" : "pulse") {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&ignoreAlsaMessage); });
}

std::vector<BackendDevice> RtAudioDeviceBackend::devices() {
    std::vector<BackendDevice> devices;
    try {
        auto audio = makeRtAudio(rtApi(api_));
        if (!audio) return devices;
        const unsigned count = audio->getDeviceCount();
        for (unsigned i = 0; i < count; ++i) {
            const RtAudio::DeviceInfo info = audio->getDeviceInfo(i);
            if (!listable(api_, info)) continue;
            devices.push_back({prefix_ + ":" + info.name, info.name, info.outputChannels, info.isDefaultOutput});
        }
    } catch (const RtAudioError&) {
    } catch (const std::exception&) {
    }
    return devices;
}

std::unique_ptr<DeviceStream> RtAudioDeviceBackend::openStream(const std::string& uid, double preferredSampleRate,
                                                               DeviceRenderCallback& callback) {
    if (!ownsUid(uid)) throwDeviceOpenFailure(uid, "no such device");
    return std::make_unique<RtAudioStream>(api_, uid, preferredSampleRate, callback);
}

} // namespace cadenzo
