#include "CadenzoPlayer/sources/OscillatorBank.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cadenzo::OscillatorBank {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// Interleaved phases per sine: independent recurrences that run side by side.
constexpr std::size_t lanes = 8;
// Frames rendered from one exact seed; each lane then takes at most 512 steps
// of the recurrence, whose rounding stays many orders below 1e-6.
constexpr std::size_t chunkFrames = 4096;

using Pair = double __attribute__((vector_size(2 * sizeof(double))));
using Quad = float __attribute__((vector_size(4 * sizeof(float))));

float narrow(double value) {
    return static_cast<float>(value);
}

// One step of all lanes, held as named pairs so that the state stays in registers.
struct Eight {
    Pair a, b, c, d;
};

// older := the step after newer, by s[n + 1] = 2 cos(w) s[n] - s[n - 1].
inline void stepOver(Eight& older, const Eight& newer, Pair twoCos) {
    older.a = twoCos * newer.a - older.a;
    older.b = twoCos * newer.b - older.b;
    older.c = twoCos * newer.c - older.c;
    older.d = twoCos * newer.d - older.d;
}

// sums[0..7] += the lanes narrowed to 32 bits.
inline void addNarrowed(const Eight& v, float* sums) {
    Quad low;
    Quad high;
    std::memcpy(&low, sums, sizeof low);
    std::memcpy(&high, sums + 4, sizeof high);
    low += Quad{narrow(v.a[0]), narrow(v.a[1]), narrow(v.b[0]), narrow(v.b[1])};
    high += Quad{narrow(v.c[0]), narrow(v.c[1]), narrow(v.d[0]), narrow(v.d[1])};
    std::memcpy(sums, &low, sizeof low);
    std::memcpy(sums + 4, &high, sizeof high);
}

// A sine at a fixed frequency, produced without a sin() call per sample:
// lane k carries frames first + k, first + k + lanes, ... by the recurrence
// s[n + 1] = 2 cos(w) s[n] - s[n - 1], seeded from the exact phase of the
// chunk's first frame (the same product the direct formula evaluates). The
// amplitude rides in the state; narrowing the scaled value instead of scaling
// the narrowed one moves a sample by at most a few 1e-9.
class Sine {
public:
    Sine(double frequency, double sampleRate) : radiansPerSecond_(twoPi * frequency) {
        const double perFrame = radiansPerSecond_ / sampleRate;
        twoCosStride_ = 2.0 * std::cos(perFrame * static_cast<double>(lanes));
        for (std::size_t k = 0; k < lanes; ++k) {
            const double ahead = perFrame * static_cast<double>(k);
            const double behind = perFrame * (static_cast<double>(k) - static_cast<double>(lanes));
            cosAhead_[k] = std::cos(ahead);
            sinAhead_[k] = std::sin(ahead);
            cosBehind_[k] = std::cos(behind);
            sinBehind_[k] = std::sin(behind);
        }
    }

    // sums[j] += float(amplitude x sin(2 pi f t)) for t = (first + j) / sampleRate, j < count.
    void accumulate(float amplitude, std::uint32_t first, std::size_t count, double sampleRate, float* sums) const {
        const double phase = radiansPerSecond_ * (static_cast<double>(first) / sampleRate);
        const double s0 = std::sin(phase);
        const double c0 = std::cos(phase);
        double seedNow[lanes];
        double seedBefore[lanes];
        for (std::size_t k = 0; k < lanes; ++k) {
            seedNow[k] = amplitude * (s0 * cosAhead_[k] + c0 * sinAhead_[k]);
            seedBefore[k] = amplitude * (s0 * cosBehind_[k] + c0 * sinBehind_[k]);
        }
        Eight now{{seedNow[0], seedNow[1]}, {seedNow[2], seedNow[3]}, {seedNow[4], seedNow[5]},
                  {seedNow[6], seedNow[7]}};
        Eight before{{seedBefore[0], seedBefore[1]},
                     {seedBefore[2], seedBefore[3]},
                     {seedBefore[4], seedBefore[5]},
                     {seedBefore[6], seedBefore[7]}};
        const Pair c{twoCosStride_, twoCosStride_};

        // Two steps per turn, the older state overwritten by the newer, so no state is copied.
        std::size_t j = 0;
        for (; j + 2 * lanes <= count; j += 2 * lanes) {
            addNarrowed(now, sums + j);
            stepOver(before, now, c);
            addNarrowed(before, sums + j + lanes);
            stepOver(now, before, c);
        }
        if (j + lanes <= count) {
            addNarrowed(now, sums + j);
            stepOver(before, now, c);
            now = before;
            j += lanes;
        }
        const double rest[lanes] = {now.a[0], now.a[1], now.b[0], now.b[1], now.c[0], now.c[1], now.d[0], now.d[1]};
        for (std::size_t k = 0; j + k < count; ++k) sums[j + k] += narrow(rest[k]);
    }

private:
    double radiansPerSecond_;
    double twoCosStride_ = 0.0;
    std::array<double, lanes> cosAhead_{}, sinAhead_{}, cosBehind_{}, sinBehind_{};
};

// The first frame in [0, limit] whose time satisfies `reached`, a test that
// turns true once and stays true as time advances; limit when none below does.
template <class Reached>
std::uint32_t firstFrameWhere(std::uint32_t limit, double sampleRate, Reached reached) {
    std::uint32_t low = 0;
    std::uint32_t high = limit;
    while (low < high) {
        const std::uint32_t mid = low + (high - low) / 2;
        if (reached(static_cast<double>(mid) / sampleRate)) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    return low;
}

// Copies finished samples into the (much larger than cache) buffer without
// reading its old contents in first.
void storeStreaming(float* out, const float* samples, std::size_t count) {
#if defined(__SSE2__)
    std::size_t j = 0;
    for (; j < count && reinterpret_cast<std::uintptr_t>(out + j) % 16 != 0; ++j) out[j] = samples[j];
    for (; j + 4 <= count; j += 4) _mm_stream_ps(out + j, _mm_loadu_ps(samples + j));
    for (; j < count; ++j) out[j] = samples[j];
#else
    std::memcpy(out, samples, count * sizeof(float));
#endif
}

// Streaming stores are weakly ordered: make them visible before the buffer is handed on.
void finishStreaming() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// out[j] = (1 - x) previous[j] + x current[j] with x = float((t - start) / fadeLength),
// t = (first + j) / sampleRate, for whole groups of four frames; returns how
// many frames it wrote. The gain must be 1 throughout.
std::size_t crossfadeSteady(float* out, std::uint32_t first, std::size_t count, double sampleRate, double start,
                            double fadeLength, const float* previous, const float* current) {
    const Pair rate{sampleRate, sampleRate};
    const Pair from{start, start};
    const Pair length{fadeLength, fadeLength};
    const Quad one{1.0f, 1.0f, 1.0f, 1.0f};
    std::size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const double i = static_cast<double>(first) + static_cast<double>(j);
        const Pair x01 = (Pair{i, i + 1.0} / rate - from) / length;
        const Pair x23 = (Pair{i + 2.0, i + 3.0} / rate - from) / length;
        const Quad x{narrow(x01[0]), narrow(x01[1]), narrow(x23[0]), narrow(x23[1])};
        Quad older;
        Quad newer;
        std::memcpy(&older, previous + j, sizeof older);
        std::memcpy(&newer, current + j, sizeof newer);
        const Quad mixed = (one - x) * older + x * newer;
        std::memcpy(out + j, &mixed, sizeof mixed);
    }
    return j;
}

// A partial on one of the shared sines.
struct Voice {
    std::size_t sine;
    float amplitude;
};

} // namespace

// The sound's rendering. Every decision is taken on the same t = i / sampleRate
// as the direct formula; only the frames where a decision changes are searched
// for, once, so steady stretches need no per-frame division.
class Bank::Renderer {
public:
    Renderer(std::uint32_t frames, double sampleRate, std::span<const Layer> layers, double fadeLength,
             Envelope envelope)
        : frames_(frames), sampleRate_(sampleRate), fadeLength_(fadeLength), envelope_(std::move(envelope)),
          steadyBegin_(frameFrom(envelope_.steadyFrom)), steadyEnd_(frameFrom(envelope_.steadyUntil)),
          silentBegin_(frameFrom(envelope_.silentFrom)), current_(chunkFrames), previous_(chunkFrames) {
        for (const Layer& layer : layers) addLayer(layer);
        for (std::size_t a = 0; a < layers_.size(); ++a) {
            const double start = starts_[a];
            layerBegin_.push_back(a == 0 ? 0 : firstFrameWhere(frames_, sampleRate_, [&](double t) { return t >= start; }));
            fadeEnd_.push_back(a == 0 ? 0 : firstFrameWhere(frames_, sampleRate_, [&](double t) {
                return t - start >= fades_[a];
            }));
        }
    }

    void render(float* out, std::uint32_t first, std::uint32_t count) {
        const std::uint32_t last = std::min(first + count, std::min(frames_, silentBegin_));
        // The layers sounding in the window: from the last one begun by its first frame.
        auto begun = std::upper_bound(layerBegin_.begin(), layerBegin_.end(), first);
        std::size_t a = begun == layerBegin_.begin() ? 0 : static_cast<std::size_t>(begun - layerBegin_.begin()) - 1;
        for (; a < layers_.size() && layerBegin_[a] < last; ++a) {
            const std::uint32_t next = a + 1 < layers_.size() ? layerBegin_[a + 1] : frames_;
            renderLayer(out - first, a, std::max(layerBegin_[a], first), std::min(next, last));
        }
        finishStreaming();
    }

private:
    void addLayer(const Layer& layer) {
        std::vector<Voice> voices;
        voices.reserve(layer.partials.size());
        for (const Partial& p : layer.partials) voices.push_back(Voice{sineFor(p.frequency), p.amplitude});
        starts_.push_back(layer.startTime);
        fades_.push_back(layer.crossfadeSeconds.value_or(fadeLength_));
        layers_.push_back(std::move(voices));
    }

    // The first frame whose time is not before `time`.
    std::uint32_t frameFrom(double time) const {
        return firstFrameWhere(frames_, sampleRate_, [&](double t) { return !(t < time); });
    }

    // One sine per distinct frequency, shared by every layer that sounds it.
    std::size_t sineFor(double frequency) {
        auto [it, added] = sineOfFrequency_.try_emplace(frequency, sines_.size());
        if (added) sines_.emplace_back(frequency, sampleRate_);
        return it->second;
    }

    void sum(std::size_t layer, std::uint32_t first, std::size_t count, float* sums) const {
        for (const Voice& v : layers_[layer]) sines_[v.sine].accumulate(v.amplitude, first, count, sampleRate_, sums);
    }

    // Frames [begin, end) of layer a into out[begin, end), those before its
    // fade's end crossfaded from layer a - 1. Chunks end on multiples of
    // chunkFrames, so a frame's seed does not depend on the window.
    void renderLayer(float* out, std::size_t a, std::uint32_t begin, std::uint32_t end) {
        const std::uint32_t fadeEnd = std::clamp(fadeEnd_[a], begin, end);
        for (std::uint32_t first = begin; first < end;) {
            const bool crossfade = first < fadeEnd;
            const auto chunkEnd = static_cast<std::uint32_t>(first - first % chunkFrames + chunkFrames);
            const std::uint32_t stop = std::min(crossfade ? fadeEnd : end, chunkEnd);
            renderChunk(out, a, first, stop - first, crossfade);
            first = stop;
        }
    }

    void renderChunk(float* out, std::size_t a, std::uint32_t first, std::size_t count, bool crossfade) {
        float* const current = current_.data();
        float* const previous = previous_.data();
        std::fill_n(current, count, 0.0f);
        sum(a, first, count, current);
        if (crossfade) {
            std::fill_n(previous, count, 0.0f);
            sum(a - 1, first, count, previous);
        }
        const double start = starts_[a];
        const double fadeLength = fades_[a];
        auto mixed = [&](std::size_t j, double t) {
            if (!crossfade) return current[j];
            const auto x = static_cast<float>((t - start) / fadeLength);
            return (1.0f - x) * previous[j] + x * current[j];
        };

        if (first >= steadyBegin_ && first + count <= steadyEnd_) {
            // Gain 1: the samples are the mix itself, built in place.
            std::size_t j = count;
            if (crossfade) {
                j = crossfadeSteady(current, first, count, sampleRate_, start, fadeLength, previous, current);
            }
            for (; j < count; ++j) current[j] = mixed(j, static_cast<double>(first + j) / sampleRate_);
            storeStreaming(out + first, current, count);
            return;
        }
        for (std::size_t j = 0; j < count; ++j) {
            const std::uint32_t i = first + static_cast<std::uint32_t>(j);
            const double t = static_cast<double>(i) / sampleRate_;
            const double e = (i >= steadyBegin_ && i < steadyEnd_) ? 1.0 : envelope_.gain(t);
            out[i] = static_cast<float>(e * mixed(j, t));
        }
    }

    std::uint32_t frames_;
    double sampleRate_;
    double fadeLength_;
    Envelope envelope_;
    std::uint32_t steadyBegin_;
    std::uint32_t steadyEnd_;
    std::uint32_t silentBegin_;  // from here on the gain is 0 and `out` keeps its zeros
    std::vector<Sine> sines_;
    std::map<double, std::size_t> sineOfFrequency_;
    std::vector<double> starts_;
    std::vector<double> fades_;
    std::vector<std::vector<Voice>> layers_;
    std::vector<std::uint32_t> layerBegin_;
    std::vector<std::uint32_t> fadeEnd_;
    std::vector<float> current_;
    std::vector<float> previous_;
};

static_assert(Bank::windowAlignment == chunkFrames);

Bank::Bank(std::uint32_t frames, double sampleRate, std::span<const Layer> layers, double crossfadeSeconds,
           Envelope envelope)
    : renderer_(std::make_unique<Renderer>(frames, sampleRate, layers, crossfadeSeconds, std::move(envelope))) {}

Bank::~Bank() = default;

void Bank::render(float* out, std::uint32_t first, std::uint32_t count) { renderer_->render(out, first, count); }

void render(float* out, std::uint32_t frames, double sampleRate, std::span<const Layer> layers,
            double crossfadeSeconds, const Envelope& envelope) {
    Bank(frames, sampleRate, layers, crossfadeSeconds, envelope).render(out, 0, frames);
}

} // namespace cadenzo::OscillatorBank
