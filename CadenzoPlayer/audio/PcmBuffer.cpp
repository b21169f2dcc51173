#include "CadenzoPlayer/audio/PcmBuffer.hpp"

#include <algorithm>
#include <new>

namespace cadenzo {

PcmBuffer::PcmBuffer(const AudioFormat& format, std::uint32_t capacity)
    : format_(format), frameCapacity_(capacity), channels_(format.channelCount) {}

std::shared_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, std::uint32_t frameCapacity) {
    if (!(format.sampleRate > 0.0)) return nullptr;
    try {
        return std::shared_ptr<PcmBuffer>(new PcmBuffer(format, frameCapacity));
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
}

const float* PcmBuffer::channelData(std::uint32_t channel) const {
    if (channel >= channels_.size() || !channels_[channel]) return nullptr;
    return channels_[channel]->data();
}

float PcmBuffer::sample(std::uint32_t channel, std::uint32_t frame) const {
    const float* data = channelData(channel);
    return data && frame < frameCapacity_ ? data[frame] : 0.0f;
}

float* PcmBuffer::writableSharedChannels(std::span<const std::int64_t> channels) {
    bool anyValid = false;
    for (std::int64_t c : channels) anyValid = anyValid || (c >= 0 && c < static_cast<std::int64_t>(channels_.size()));
    if (!anyValid) return nullptr;
    std::shared_ptr<std::vector<float>> storage;
    try {
        storage = std::make_shared<std::vector<float>>(frameCapacity_, 0.0f);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    for (std::int64_t c : channels) {
        if (c >= 0 && c < static_cast<std::int64_t>(channels_.size())) channels_[static_cast<std::size_t>(c)] = storage;
    }
    return storage->data();
}

float* PcmBuffer::writableChannel(std::uint32_t channel) {
    const std::int64_t index = channel;
    return writableSharedChannels(std::span<const std::int64_t>(&index, 1));
}

std::size_t PcmBuffer::bytesHeld() const {
    std::size_t bytes = 0;
    std::vector<const std::vector<float>*> counted;
    for (const auto& storage : channels_) {
        if (!storage || std::find(counted.begin(), counted.end(), storage.get()) != counted.end()) continue;
        counted.push_back(storage.get());
        bytes += storage->size() * sizeof(float);
    }
    return bytes;
}

} // namespace cadenzo
