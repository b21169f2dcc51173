#include "CadenzoPlayer/sources/GuideSounds.hpp"

#include "CadenzoPlayer/TextParsing.hpp"
#include "CadenzoPlayer/sources/Channels.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <new>
#include <numbers>
#include <system_error>

#include <sndfile.h>
#include <soxr.h>
#include <unicode/uchar.h>

namespace cadenzo {

namespace fs = std::filesystem;

namespace {

constexpr double cueSampleRate = engineSampleRate;

bool isNumeric(char32_t c) { return u_getNumericValue(static_cast<UChar32>(c)) != U_NO_NUMERIC_VALUE; }

std::optional<fs::path> configuredDevelopmentDirectory() {
#ifdef CADENZO_GUIDE_SOUNDS_DEV_DIR
    return fs::path(CADENZO_GUIDE_SOUNDS_DEV_DIR);
#else
    return std::nullopt;
#endif
}

bool fileExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

} // namespace

GuideSoundPlaces defaultGuideSoundPlaces() { return {resourceBundle(), configuredDevelopmentDirectory()}; }

std::string guideSoundFileName(std::string_view name) {
    for (const Utf8Scalar& s : decodeUtf8(name)) {
        if (!isNumeric(s.value)) return std::string(name);
    }
    return "count-" + std::string(name);
}

std::string trimGuideLabel(std::string_view label) { return std::string(trimSpaces(label)); }

std::string stripTrailingNumerals(std::string_view label) {
    const std::string trimmed = trimGuideLabel(label);
    const std::vector<Utf8Scalar> scalars = decodeUtf8(trimmed);
    std::size_t last = scalars.size();
    while (last > 0 && isNumeric(scalars[last - 1].value)) --last;
    return trimmed.substr(0, last == 0 ? 0 : scalars[last - 1].end);
}

std::optional<fs::path> findGuideSoundFile(std::string_view label, const GuideSoundPlaces& places) {
    const std::string name = guideSoundFileName(label);
    if (places.bundle) {
        if (auto location = places.bundle->path(name, "wav", "GuideSounds")) return location;
    }
    if (places.developmentDirectory) {
        // The same rules as a bundle lookup, so a label cannot reach outside.
        if (auto location = ResourceBundle(*places.developmentDirectory).path(name, "wav")) return location;
    }
    return std::nullopt;
}

std::optional<fs::path> findGuideSoundFile(std::string_view label) {
    return findGuideSoundFile(label, defaultGuideSoundPlaces());
}

std::optional<fs::path> resolveGuideSoundFile(std::string_view label, const GuideSoundPlaces& places) {
    const std::string trimmed = trimGuideLabel(label);
    if (auto location = findGuideSoundFile(trimmed, places)) return location;
    const std::string stripped = stripTrailingNumerals(trimmed);
    if (stripped.empty()) return std::nullopt;
    return findGuideSoundFile(stripped, places);
}

std::optional<fs::path> resolveGuideSoundFile(std::string_view label) {
    return resolveGuideSoundFile(label, defaultGuideSoundPlaces());
}

PcmBufferPtr readGuideSoundFile(const fs::path& file, std::ostream& log) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> sound(sf_open(file.c_str(), SFM_READ, &info));
    if (!sound) return nullptr;
    if (info.frames < 0 || info.frames > std::numeric_limits<std::uint32_t>::max() || info.channels < 1 ||
        info.samplerate <= 0) {
        return nullptr;
    }
    const auto frames = static_cast<std::size_t>(info.frames);
    const auto channels = static_cast<std::size_t>(info.channels);
    const std::string fileName = file.filename().string();

    std::vector<float> samples;
    try {
        samples.resize(frames * channels);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    const sf_count_t read = sf_readf_float(sound.get(), samples.data(), info.frames);
    if (read != info.frames) {
        const std::string text = sf_error(sound.get()) != SF_ERR_NO_ERROR
                                     ? std::string(sf_strerror(sound.get()))
                                     : "the file ended after " + std::to_string(read < 0 ? 0 : read) + " of " +
                                           std::to_string(info.frames) + " frames";
        log << "Couldn't read " << fileName << ": " << text << std::endl;
        return nullptr;
    }
    if (channels > 1) {
        for (std::size_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) sum += samples[i * channels + c];
            samples[i] = sum / static_cast<float>(channels);
        }
    }

    const double capacity = std::trunc(cueSampleRate / info.samplerate * static_cast<double>(frames)) + 1024.0;
    if (capacity > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    auto output = PcmBuffer::make({cueSampleRate, 1}, static_cast<std::uint32_t>(capacity));
    if (!output) return nullptr;
    float* out = output->writableChannel(0);
    if (!out) return nullptr;

    // One pass over the whole input; the converter's tail is flushed into the
    // output so the end of the cue is kept.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    std::size_t used = 0;
    std::size_t produced = 0;
    const soxr_error_t error = soxr_oneshot(info.samplerate, cueSampleRate, 1, samples.data(), frames, &used, out,
                                            output->frameCapacity(), &produced, &io, &quality, nullptr);
    if (error) {
        log << "Couldn't convert " << fileName << ": " << error << std::endl;
        return nullptr;
    }
    output->setFrameLength(static_cast<std::uint32_t>(produced));
    return output;
}

PcmBufferPtr GuideSoundCache::find(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto it = buffers_.find(path);
    return it == buffers_.end() ? nullptr : it->second;
}

PcmBufferPtr GuideSoundCache::insert(const std::string& path, PcmBufferPtr buffer) {
    std::lock_guard lock(mutex_);
    return buffers_.try_emplace(path, std::move(buffer)).first->second;
}

std::size_t GuideSoundCache::size() const {
    std::lock_guard lock(mutex_);
    return buffers_.size();
}

GuideSoundCache& guideSoundCache() {
    static GuideSoundCache cache;
    return cache;
}

PcmBufferPtr loadGuideSound(std::string_view label, const GuideSoundPlaces& places, std::ostream& log) {
    const auto location = resolveGuideSoundFile(label, places);
    if (!location || !fileExists(*location)) return nullptr;
    const std::string key = location->string();
    if (auto cached = guideSoundCache().find(key)) return cached;
    auto converted = readGuideSoundFile(*location, log);
    if (!converted) return nullptr;
    return guideSoundCache().insert(key, std::move(converted));
}

PcmBufferPtr loadGuideSound(std::string_view label, std::ostream& log) {
    return loadGuideSound(label, defaultGuideSoundPlaces(), log);
}

std::shared_ptr<PcmBuffer> placeMonoOnChannels(const PcmBuffer& mono, const std::vector<std::int64_t>& channels,
                                               const AudioFormat& format) {
    const std::uint32_t frames = mono.frameLength();
    const float* source = mono.channelData(0);
    // A mono buffer without samples is silence: route it nowhere.
    auto routed = makeRoutedBuffer(format, frames, source ? std::span<const std::int64_t>(channels)
                                                          : std::span<const std::int64_t>());
    if (!routed) return nullptr;
    if (routed->samples) std::copy(source, source + frames, routed->samples);
    return routed->buffer;
}

std::shared_ptr<PcmBuffer> makeFallbackCue(std::string_view label, const AudioFormat& format,
                                           const std::vector<std::int64_t>& channels) {
    std::uint32_t hash = 0;
    for (const Utf8Scalar& s : decodeUtf8(label)) hash = hash * 31u + static_cast<std::uint32_t>(s.value);
    const double frequency = label.empty() ? 320.0 : 320.0 + 55.0 * static_cast<double>(hash % 9u);

    const double sr = format.sampleRate;
    const auto frameCount = static_cast<std::uint32_t>(sr * 0.24);
    const auto attackFrames = static_cast<std::uint32_t>(sr * 0.01);
    auto routed = makeRoutedBuffer(format, frameCount, channels);
    if (!routed) return nullptr;
    if (!routed->samples) return routed->buffer;
    float* samples = routed->samples;

    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / sr;
        const float envelope =
            i < attackFrames ? static_cast<float>(i) / 2.0f / static_cast<float>(attackFrames)
                             : 0.5f * static_cast<float>(std::pow(0.002, (t - 0.01) / (0.24 - 0.01)));
        samples[i] = envelope * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * t));
    }
    return routed->buffer;
}

} // namespace cadenzo
