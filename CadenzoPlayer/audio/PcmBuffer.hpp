#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace cadenzo {

// Every engine renders at this rate; a device running at another rate is fed
// through a resampler.
inline constexpr double engineSampleRate = 48000.0;
// The widest output an engine takes.
inline constexpr std::int64_t maxChannelCount = 65535;

// Whether an output of this many channels can be built.
constexpr bool isValidChannelCount(std::int64_t channelCount) {
    return channelCount >= 1 && channelCount <= maxChannelCount;
}

// 32-bit float, one array per channel.
struct AudioFormat {
    double sampleRate = engineSampleRate;
    std::uint32_t channelCount = 0;

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// A block of audio in a format. A channel reads as zeros until something is
// written to it, and channels that carry the same signal share one array, so
// a signal routed to 2 of 16 channels stores one channel of samples.
class PcmBuffer {
public:
    // Nothing when the storage cannot be had.
    static std::shared_ptr<PcmBuffer> make(const AudioFormat& format, std::uint32_t frameCapacity);

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    void setFrameLength(std::uint32_t frames) { frameLength_ = frames < frameCapacity_ ? frames : frameCapacity_; }

    // Samples of a channel, or nullptr for a channel that is silent throughout
    // (or out of range).
    const float* channelData(std::uint32_t channel) const;
    float sample(std::uint32_t channel, std::uint32_t frame) const;

    // One zeroed array, shared by every listed channel index that is valid
    // (0 <= c < channelCount); other indices are skipped. Returns nullptr when
    // no index is valid or storage cannot be had. Channels that already had
    // storage are rerouted to the new array.
    float* writableSharedChannels(std::span<const std::int64_t> channels);
    float* writableChannel(std::uint32_t channel);

    // Bytes of sample storage this buffer holds.
    std::size_t bytesHeld() const;

private:
    PcmBuffer(const AudioFormat& format, std::uint32_t capacity);

    AudioFormat format_;
    std::uint32_t frameCapacity_ = 0;
    std::uint32_t frameLength_ = 0;
    std::vector<std::shared_ptr<std::vector<float>>> channels_;  // null = silent
};

using PcmBufferPtr = std::shared_ptr<const PcmBuffer>;

} // namespace cadenzo
