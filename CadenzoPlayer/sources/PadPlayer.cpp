#include "CadenzoPlayer/sources/PadPlayer.hpp"

#include "CadenzoPlayer/sources/Channels.hpp"
#include "CadenzoPlayer/sources/OscillatorBank.hpp"
#include "CadenzoPlayer/sources/PadInternals.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cadenzo::PadPlayer {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// The pad's length for a usable key and times.
std::optional<std::uint32_t> checkedFrames(std::string_view keyName, double secondsPerBar, double duration,
                                           double sampleRate) {
    if (!parseKey(keyName)) return std::nullopt;
    if (!std::isfinite(secondsPerBar) || secondsPerBar < 0.0) return std::nullopt;
    return padFrameCount(duration, sampleRate);
}

// The pad's envelope for the oscillator bank: silent once the release is over,
// unless the fade-in of a song shorter than a bar is still going.
OscillatorBank::Envelope padEnvelope(double secondsPerBar, double duration) {
    return {secondsPerBar, duration, std::max(secondsPerBar, duration + releaseSeconds),
            [=](double t) { return envelope(t, secondsPerBar, duration); }};
}

PcmBufferPtr wholePad(std::unique_ptr<PadStream> stream) {
    return stream ? stream->render(0, stream->frameCount()) : nullptr;
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

std::vector<Segment> buildPadSegments(int key, const BarGrid& bars, std::int64_t countInBars,
                                      std::span<const std::optional<BarChords>> chords) {
    const PadChord tonic = tonicChord(key);
    const Voicing anchors = anchorNotes(key);

    PadChord current = tonic;
    Voicing voicing = anchors;
    if (countInBars < 1 && !chords.empty() && chords.front() && !chords.front()->empty()) {
        current = chords.front()->front();
        voicing = voiceLead(current.tones, anchors, anchors);
    }
    std::vector<Segment> segments{Segment{0.0, current, voicing}};

    const BarChords tonicBar{tonic};
    for (std::size_t i = 0; i < chords.size(); ++i) {
        const BarChords& parts = chords[i] ? *chords[i] : tonicBar;
        const std::int64_t bar = countInBars + static_cast<std::int64_t>(i);
        for (std::size_t p = 0; p < parts.size(); ++p) {
            if (parts[p] == current) continue;
            current = parts[p];
            voicing = voiceLead(current.tones, voicing, anchors);
            const double share = static_cast<double>(p) / static_cast<double>(parts.size());
            segments.push_back(Segment{bars.start(bar) + bars.length(bar) * share, current, voicing, parts.size()});
        }
    }
    return segments;
}

float chordSample(std::optional<int> bass, std::span<const int> voicing, double t, float gain) {
    float sum = 0.0f;
    for (int note : voicing) sum += voiceAmplitude * static_cast<float>(std::sin(twoPi * noteFrequency(note) * t));
    if (bass) sum += bassAmplitude * static_cast<float>(std::sin(twoPi * noteFrequency(*bass + bassOctaveNote) * t));
    return gain * sum;
}

static_assert(PadStream::windowAlignment == OscillatorBank::Bank::windowAlignment);

PadStream::PadStream(const AudioFormat& format, std::span<const std::int64_t> channels, std::uint32_t frames,
                     double secondsPerBar, double duration, std::span<const OscillatorBank::Layer> layers)
    : format_(format), channels_(channels.begin(), channels.end()), frames_(frames),
      bank_(std::make_unique<OscillatorBank::Bank>(frames, format.sampleRate, layers, crossfadeLength(secondsPerBar),
                                                   padEnvelope(secondsPerBar, duration))) {}

PadStream::~PadStream() = default;

std::unique_ptr<PadStream> PadStream::drone(std::string_view key, double secondsPerBar, double duration,
                                            const AudioFormat& format, std::span<const std::int64_t> channels) {
    const auto frames = checkedFrames(key, secondsPerBar, duration, format.sampleRate);
    if (!frames) return nullptr;
    const double base = 440.0 * std::exp2((*parseKey(key) - 21) / 12.0);
    OscillatorBank::Layer layer;
    for (std::size_t j = 0; j < dronePartialOffsets.size(); ++j) {
        const double detune = (static_cast<double>(j) - 2.0) * droneDetuneCents;
        const double frequency = base * std::exp2(dronePartialOffsets[j] / 12.0) * std::exp2(detune / 1200.0);
        layer.partials.push_back({frequency, voiceAmplitude});
    }
    return std::unique_ptr<PadStream>(
        new PadStream(format, channels, *frames, secondsPerBar, duration, std::span(&layer, 1)));
}

std::unique_ptr<PadStream> PadStream::chart(std::string_view key, const BarGrid& bars, double duration,
                                            const AudioFormat& format, std::span<const std::int64_t> channels,
                                            std::int64_t countInBars, std::span<const std::optional<BarChords>> chords) {
    const double secondsPerBar = bars.length(0);
    const auto frames = checkedFrames(key, secondsPerBar, duration, format.sampleRate);
    if (!frames) return nullptr;
    const std::vector<Segment> segments = buildPadSegments(*parseKey(key), bars, countInBars, chords);
    std::vector<OscillatorBank::Layer> layers;
    layers.reserve(segments.size());
    for (const Segment& segment : segments) {
        const double share = bars.lengthAt(segment.startTime) / static_cast<double>(segment.chordsInBar);
        OscillatorBank::Layer layer{segment.startTime, {}, crossfadeLength(share)};
        for (int note : segment.voicing) layer.partials.push_back({noteFrequency(note), voiceAmplitude});
        if (segment.chord.bass) {
            layer.partials.push_back({noteFrequency(*segment.chord.bass + bassOctaveNote), bassAmplitude});
        }
        layers.push_back(std::move(layer));
    }
    return std::unique_ptr<PadStream>(new PadStream(format, channels, *frames, secondsPerBar, duration, layers));
}

PcmBufferPtr PadStream::render(std::uint32_t first, std::uint32_t count) {
    auto routed = makeRoutedBuffer(format_, count, channels_);
    if (!routed) return nullptr;
    if (routed->samples) bank_->render(routed->samples, first, count);
    return routed->buffer;
}

PcmBufferPtr makeDronePad(std::string_view key, double secondsPerBar, double duration, const AudioFormat& format,
                          std::span<const std::int64_t> channels) {
    return wholePad(PadStream::drone(key, secondsPerBar, duration, format, channels));
}

PcmBufferPtr renderPad(std::string_view key, const BarGrid& bars, double duration, const AudioFormat& format,
                       std::span<const std::int64_t> channels, std::int64_t countInBars,
                       std::span<const std::optional<BarChords>> chords) {
    return wholePad(PadStream::chart(key, bars, duration, format, channels, countInBars, chords));
}

} // namespace cadenzo::PadPlayer
