#pragma once

#include <cstdint>
#include <vector>

namespace cadenzo {

// Streaming band-limited sample-rate converter for devices that will not run
// at the engine's rate. Windowed-sinc, polyphase; the read position advances
// by an exact integer ratio, so timing never drifts. All memory is taken in
// the constructor: process() neither allocates nor locks.
class Resampler {
public:
    // Fills `frames` frames of every input channel (one array per channel).
    using PullFunction = void (*)(void* context, float* const* channels, std::uint32_t frames);

    static constexpr int halfTaps = 16;

    // Rates are rounded to whole hertz.
    Resampler(double inputRate, double outputRate, std::uint32_t channelCount);

    std::uint32_t channelCount() const { return channelCount_; }
    double inputRate() const { return static_cast<double>(inputRate_); }
    double outputRate() const { return static_cast<double>(outputRate_); }

    // Writes `frames` output frames, pulling input as needed, at most
    // maxPullFrames at a time.
    void process(float* const* output, std::uint32_t frames, PullFunction pull, void* context) noexcept;

    // Input frames pulled so far.
    std::uint64_t framesPulled() const { return framesPulled_; }

    static constexpr std::uint32_t maxPullFrames = 2048;

private:
    void pullInput(std::uint32_t frames, PullFunction pull, void* context) noexcept;
    void compact() noexcept;
    const float* kernelFor(std::uint64_t phase) const noexcept;

    std::uint32_t channelCount_;
    std::int64_t inputRate_;
    std::int64_t outputRate_;
    std::uint64_t step_;       // input samples per output sample = step_ / den_
    std::uint64_t den_;
    std::uint32_t phaseCount_; // rows of the kernel table
    std::vector<float> kernels_;  // phaseCount_ rows of 2 * halfTaps taps

    std::uint32_t capacity_;
    std::vector<std::vector<float>> history_;  // per channel
    std::vector<float*> pullPointers_;
    std::uint32_t available_ = 0;  // valid samples in each history
    std::uint32_t readIndex_ = 0;  // integer part of the read position
    std::uint64_t fraction_ = 0;   // fractional part, in 1/den_
    std::uint64_t framesPulled_ = 0;
};

} // namespace cadenzo
