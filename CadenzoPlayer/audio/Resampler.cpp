#include "CadenzoPlayer/audio/Resampler.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstring>
#include <numeric>

namespace cadenzo {

namespace {

constexpr std::uint32_t maxExactPhases = 4096;
constexpr double kaiserBeta = 8.0;

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

double sinc(double x) { return x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x); }

} // namespace

Resampler::Resampler(double inputRate, double outputRate, std::uint32_t channelCount)
    : channelCount_(channelCount),
      inputRate_(std::max<std::int64_t>(1, std::llround(inputRate))),
      outputRate_(std::max<std::int64_t>(1, std::llround(outputRate))) {
    const std::int64_t divisor = std::gcd(inputRate_, outputRate_);
    step_ = static_cast<std::uint64_t>(inputRate_ / divisor);
    den_ = static_cast<std::uint64_t>(outputRate_ / divisor);
    phaseCount_ = den_ <= maxExactPhases ? static_cast<std::uint32_t>(den_) : maxExactPhases;

    // Cut off a little below the lower Nyquist frequency so that neither
    // images nor aliases reach the output.
    const double cutoff = 0.95 * std::min(1.0, static_cast<double>(outputRate_) / static_cast<double>(inputRate_));
    const int taps = 2 * halfTaps;
    const double windowNorm = besselI0(kaiserBeta);
    kernels_.resize(static_cast<std::size_t>(phaseCount_) * taps);
    for (std::uint32_t phase = 0; phase < phaseCount_; ++phase) {
        const double offset = static_cast<double>(phase) / phaseCount_;
        float* row = &kernels_[static_cast<std::size_t>(phase) * taps];
        double sum = 0.0;
        std::vector<double> values(taps);
        for (int j = 0; j < taps; ++j) {
            const double t = (j - (halfTaps - 1)) - offset;
            const double x = t / halfTaps;
            const double window = std::abs(x) >= 1.0 ? 0.0 : besselI0(kaiserBeta * std::sqrt(1.0 - x * x)) / windowNorm;
            values[j] = cutoff * sinc(cutoff * t) * window;
            sum += values[j];
        }
        for (int j = 0; j < taps; ++j) row[j] = static_cast<float>(values[j] / sum);
    }

    capacity_ = 4 * halfTaps + maxPullFrames;
    history_.assign(channelCount_, std::vector<float>(capacity_, 0.0f));
    pullPointers_.assign(channelCount_, nullptr);
    // Silence before the first sample, so the first output needs no past.
    available_ = halfTaps - 1;
    readIndex_ = halfTaps - 1;
}

const float* Resampler::kernelFor(std::uint64_t fraction) const noexcept {
    const std::uint64_t row = phaseCount_ == den_ ? fraction : fraction * phaseCount_ / den_;
    return &kernels_[static_cast<std::size_t>(row) * 2 * halfTaps];
}

void Resampler::compact() noexcept {
    const std::uint32_t keepFrom = readIndex_ - (halfTaps - 1);
    if (keepFrom == 0) return;
    const std::uint32_t kept = available_ - keepFrom;
    for (auto& channel : history_) std::memmove(channel.data(), channel.data() + keepFrom, kept * sizeof(float));
    available_ = kept;
    readIndex_ -= keepFrom;
}

void Resampler::pullInput(std::uint32_t frames, PullFunction pull, void* context) noexcept {
    for (std::uint32_t c = 0; c < channelCount_; ++c) pullPointers_[c] = history_[c].data() + available_;
    pull(context, pullPointers_.data(), frames);
    available_ += frames;
    framesPulled_ += frames;
}

void Resampler::process(float* const* output, std::uint32_t frames, PullFunction pull, void* context) noexcept {
    constexpr std::uint32_t taps = 2 * halfTaps;
    std::uint32_t done = 0;
    while (done < frames) {
        const std::uint32_t remaining = frames - done;
        // Input index of the last tap the remaining outputs reach.
        const auto lastNeeded = [&] { return readIndex_ + (fraction_ + (remaining - 1) * step_) / den_ + halfTaps; };
        if (lastNeeded() >= available_) {
            compact();
            const std::uint64_t stillNeeded = lastNeeded() + 1 - available_;
            const std::uint32_t space = capacity_ - available_;
            const auto pullFrames = static_cast<std::uint32_t>(
                std::min<std::uint64_t>({stillNeeded, space, maxPullFrames}));
            if (pullFrames > 0) pullInput(pullFrames, pull, context);
        }

        // How many outputs the input now in hand allows.
        const std::int64_t room = static_cast<std::int64_t>(available_) - 1 - halfTaps - readIndex_;
        if (room < 0) continue;
        const std::uint64_t limit = (static_cast<std::uint64_t>(room) + 1) * den_ - fraction_ - 1;
        const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, limit / step_ + 1));

        const std::uint64_t endFraction = fraction_ + count * step_;
        const std::uint32_t lastIndex = readIndex_ + static_cast<std::uint32_t>((endFraction - step_) / den_);
        for (std::uint32_t c = 0; c < channelCount_; ++c) {
            const float* history = history_[c].data();
            float* out = output[c] + done;
            const float* first = history + readIndex_ - (halfTaps - 1);
            const float* last = history + lastIndex + halfTaps + 1;
            if (std::all_of(first, last, [](float v) { return v == 0.0f; })) {
                std::fill(out, out + count, 0.0f);
                continue;
            }
            std::uint32_t index = readIndex_;
            std::uint64_t fraction = fraction_;
            for (std::uint32_t k = 0; k < count; ++k) {
                const float* kernel = kernelFor(fraction);
                const float* x = history + index - (halfTaps - 1);
                float sum = 0.0f;
                for (std::uint32_t j = 0; j < taps; ++j) sum += x[j] * kernel[j];
                out[k] = sum;
                fraction += step_;
                while (fraction >= den_) {
                    fraction -= den_;
                    ++index;
                }
            }
        }
        readIndex_ += static_cast<std::uint32_t>(endFraction / den_);
        fraction_ = endFraction % den_;
        done += count;
    }
}

} // namespace cadenzo
