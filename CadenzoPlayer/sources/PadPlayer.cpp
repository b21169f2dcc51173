#include "CadenzoPlayer/sources/PadPlayer.hpp"

#include "CadenzoPlayer/sources/Channels.hpp"
#include "CadenzoPlayer/sources/PadInternals.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cadenzo::PadPlayer {

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

struct Partial {
    std::size_t sine;  // index into the shared sines
    float amplitude;
};

// What sounds from startTime on: partials summed in this order.
struct Layer {
    double startTime = 0.0;
    std::vector<Partial> partials;
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
// many frames it wrote. The envelope must be 1 throughout.
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

// Renders e(t) x the active layer (crossfaded from the one before it just
// after a change) into out. Layer start times must ascend. Every decision is
// taken on the same t = i / sampleRate as the direct formula; only the frames
// where a decision changes are searched for, so steady stretches need no
// per-frame division.
void renderLayers(float* out, std::uint32_t frames, double sampleRate, double secondsPerBar, double duration,
                  const std::vector<Sine>& sines, const std::vector<Layer>& layers) {
    const std::uint32_t fadeInEnd = firstFrameWhere(frames, sampleRate, [&](double t) { return !(t < secondsPerBar); });
    const std::uint32_t sustainEnd = firstFrameWhere(frames, sampleRate, [&](double t) { return !(t < duration); });
    const std::uint32_t releaseEnd =
        firstFrameWhere(frames, sampleRate, [&](double t) { return !(t < duration + releaseSeconds); });
    // From here on the envelope is 0 and the buffer keeps its zeros.
    const std::uint32_t audibleEnd = std::max(fadeInEnd, releaseEnd);
    const double fadeLength = crossfadeLength(secondsPerBar);

    std::vector<std::uint32_t> layerBegin(layers.size(), 0);
    for (std::size_t a = 1; a < layers.size(); ++a) {
        const double start = layers[a].startTime;
        layerBegin[a] = firstFrameWhere(frames, sampleRate, [&](double t) { return t >= start; });
    }

    std::vector<float> current(chunkFrames);
    std::vector<float> previous(chunkFrames);
    auto sum = [&](const Layer& layer, std::uint32_t first, std::size_t count, float* sums) {
        for (const Partial& p : layer.partials) sines[p.sine].accumulate(p.amplitude, first, count, sampleRate, sums);
    };

    for (std::size_t a = 0; a < layers.size(); ++a) {
        const std::uint32_t begin = layerBegin[a];
        const std::uint32_t end = std::min(a + 1 < layers.size() ? layerBegin[a + 1] : frames, audibleEnd);
        if (begin >= end) continue;
        const double start = layers[a].startTime;
        std::uint32_t fadeEnd = begin;
        if (a > 0) {
            fadeEnd = firstFrameWhere(frames, sampleRate, [&](double t) { return t - start >= fadeLength; });
            fadeEnd = std::clamp(fadeEnd, begin, end);
        }

        for (std::uint32_t first = begin; first < end;) {
            const bool crossfade = first < fadeEnd;
            const std::uint32_t stop = crossfade ? fadeEnd : end;
            const auto count = static_cast<std::size_t>(std::min<std::uint32_t>(stop - first, chunkFrames));

            std::fill_n(current.data(), count, 0.0f);
            sum(layers[a], first, count, current.data());
            if (crossfade) {
                std::fill_n(previous.data(), count, 0.0f);
                sum(layers[a - 1], first, count, previous.data());
            }
            auto mixed = [&](std::size_t j, double t) {
                if (!crossfade) return current[j];
                const auto x = static_cast<float>((t - start) / fadeLength);
                return (1.0f - x) * previous[j] + x * current[j];
            };

            if (first >= fadeInEnd && first + count <= sustainEnd) {
                // e = 1: the samples are the mix itself, built in place.
                std::size_t j = count;
                if (crossfade) {
                    j = crossfadeSteady(current.data(), first, count, sampleRate, start, fadeLength, previous.data(),
                                        current.data());
                }
                for (; j < count; ++j) current[j] = mixed(j, static_cast<double>(first + j) / sampleRate);
                storeStreaming(out + first, current.data(), count);
            } else {
                for (std::size_t j = 0; j < count; ++j) {
                    const std::uint32_t i = first + static_cast<std::uint32_t>(j);
                    const double t = static_cast<double>(i) / sampleRate;
                    const double e = (i >= fadeInEnd && i < sustainEnd) ? 1.0 : envelope(t, secondsPerBar, duration);
                    out[i] = static_cast<float>(e * mixed(j, t));
                }
            }
            first += static_cast<std::uint32_t>(count);
        }
    }
    finishStreaming();
}

struct PadTarget {
    std::shared_ptr<PcmBuffer> buffer;
    float* samples = nullptr;  // null when no listed channel exists
    int key = 0;
};

std::optional<PadTarget> prepareBuffer(std::string_view keyName, double secondsPerBar, double duration,
                                       const AudioFormat& format, std::span<const std::int64_t> channels) {
    const auto key = parseKey(keyName);
    if (!key) return std::nullopt;
    if (!std::isfinite(secondsPerBar) || secondsPerBar < 0.0) return std::nullopt;
    const auto frames = padFrameCount(duration, format.sampleRate);
    if (!frames) return std::nullopt;
    auto routed = makeRoutedBuffer(format, *frames, channels);
    if (!routed) return std::nullopt;
    return PadTarget{routed->buffer, routed->samples, *key};
}

} // namespace

double noteFrequency(int note) {
    return 440.0 * std::exp2((note - 69) / 12.0);
}

Voicing anchorNotes(int key) {
    Voicing anchors{};
    for (std::size_t v = 0; v < anchors.size(); ++v) anchors[v] = key + anchorOffsets[v];
    return anchors;
}

PadChord tonicChord(int key) {
    const int k = pitchClass(key);
    return PadChord{k, {k, pitchClass(k + 4), pitchClass(k + 7)}, std::nullopt};
}

double envelope(double t, double secondsPerBar, double duration) {
    if (t < secondsPerBar) return t / secondsPerBar;
    if (t < duration) return 1.0;
    if (t < duration + releaseSeconds) return 1.0 - (t - duration) / ((duration + releaseSeconds) - duration);
    return 0.0;
}

double crossfadeLength(double secondsPerBar) {
    return std::min(crossfadeBarFraction * secondsPerBar, crossfadeMaxSeconds);
}

std::optional<std::uint32_t> padFrameCount(double duration, double sampleRate) {
    if (!std::isfinite(duration) || duration < 0.0 || !std::isfinite(sampleRate) || sampleRate <= 0.0) {
        return std::nullopt;
    }
    const double frames = (duration + releaseSeconds + tailSeconds) * sampleRate;
    if (!(frames < 4294967296.0)) return std::nullopt;
    return static_cast<std::uint32_t>(frames);
}

Voicing voiceLead(std::span<const int> tones, const Voicing& previous, const Voicing& anchors) {
    Voicing next = previous;
    if (tones.empty()) return next;
    for (std::size_t v = 0; v < next.size(); ++v) {
        const std::size_t index = voiceToneIndex[v] < tones.size() ? voiceToneIndex[v] : 0;
        const int target = pitchClass(tones[index]);
        if (pitchClass(previous[v]) == target) continue;
        next[v] = anchors[v] + pitchClass(target - anchors[v] + 6) - 6;
    }
    return next;
}

std::vector<Segment> buildPadSegments(int key, double secondsPerBar, std::int64_t countInBars,
                                      std::span<const std::optional<PadChord>> chords) {
    const PadChord tonic = tonicChord(key);
    const Voicing anchors = anchorNotes(key);

    PadChord current = tonic;
    Voicing voicing = anchors;
    if (countInBars < 1 && !chords.empty() && chords.front()) {
        current = *chords.front();
        voicing = voiceLead(current.tones, anchors, anchors);
    }
    std::vector<Segment> segments{Segment{0.0, current, voicing}};

    for (std::size_t i = 0; i < chords.size(); ++i) {
        const PadChord& chord = chords[i] ? *chords[i] : tonic;
        if (chord == current) continue;
        voicing = voiceLead(chord.tones, voicing, anchors);
        const double bar = static_cast<double>(countInBars) + static_cast<double>(i);
        segments.push_back(Segment{secondsPerBar * bar, chord, voicing});
        current = chord;
    }
    return segments;
}

float chordSample(std::optional<int> bass, std::span<const int> voicing, double t, float gain) {
    float sum = 0.0f;
    for (int note : voicing) sum += voiceAmplitude * static_cast<float>(std::sin(twoPi * noteFrequency(note) * t));
    if (bass) sum += bassAmplitude * static_cast<float>(std::sin(twoPi * noteFrequency(*bass + bassOctaveNote) * t));
    return gain * sum;
}

PcmBufferPtr makeDronePad(std::string_view key, double secondsPerBar, double duration, const AudioFormat& format,
                          std::span<const std::int64_t> channels) {
    auto target = prepareBuffer(key, secondsPerBar, duration, format, channels);
    if (!target) return nullptr;
    if (!target->samples) return target->buffer;

    const double base = 440.0 * std::exp2((target->key - 21) / 12.0);
    std::vector<Sine> sines;
    Layer layer;
    for (std::size_t j = 0; j < dronePartialOffsets.size(); ++j) {
        const double detune = (static_cast<double>(j) - 2.0) * droneDetuneCents;
        const double frequency = base * std::exp2(dronePartialOffsets[j] / 12.0) * std::exp2(detune / 1200.0);
        sines.emplace_back(frequency, format.sampleRate);
        layer.partials.push_back(Partial{j, voiceAmplitude});
    }
    renderLayers(target->samples, target->buffer->frameCapacity(), format.sampleRate, secondsPerBar, duration, sines,
                 {layer});
    return target->buffer;
}

PcmBufferPtr renderPad(std::string_view key, double secondsPerBar, double duration, const AudioFormat& format,
                       std::span<const std::int64_t> channels, std::int64_t countInBars,
                       std::span<const std::optional<PadChord>> chords) {
    auto target = prepareBuffer(key, secondsPerBar, duration, format, channels);
    if (!target) return nullptr;
    if (!target->samples) return target->buffer;

    const std::vector<Segment> segments = buildPadSegments(target->key, secondsPerBar, countInBars, chords);

    // One sine per distinct note, shared by every segment that sounds it.
    std::vector<Sine> sines;
    std::map<int, std::size_t> sineOfNote;
    auto sineFor = [&](int note) {
        auto [it, added] = sineOfNote.try_emplace(note, sines.size());
        if (added) sines.emplace_back(noteFrequency(note), format.sampleRate);
        return it->second;
    };
    std::vector<Layer> layers;
    layers.reserve(segments.size());
    for (const Segment& segment : segments) {
        Layer layer{segment.startTime, {}};
        for (int note : segment.voicing) layer.partials.push_back(Partial{sineFor(note), voiceAmplitude});
        if (segment.chord.bass) {
            layer.partials.push_back(Partial{sineFor(*segment.chord.bass + bassOctaveNote), bassAmplitude});
        }
        layers.push_back(std::move(layer));
    }
    renderLayers(target->samples, target->buffer->frameCapacity(), format.sampleRate, secondsPerBar, duration, sines,
                 layers);
    return target->buffer;
}

} // namespace cadenzo::PadPlayer
