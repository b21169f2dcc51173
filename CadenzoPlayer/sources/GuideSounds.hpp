#pragma once

#include "CadenzoPlayer/audio/PcmBuffer.hpp"
#include "CadenzoPlayer/resource_bundle_accessor.hpp"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadenzo {

// Where guide cue files are looked for, in order: the bundle's "GuideSounds"
// folder, then a development directory of the same files (if any).
struct GuideSoundPlaces {
    std::optional<ResourceBundle> bundle;
    std::optional<std::filesystem::path> developmentDirectory;
};

// The program's places: the process-wide resource bundle (found on first use,
// or the process ends) and the development directory the build was configured
// with. Builds look in a development directory only when the CMake cache
// variable CADENZO_GUIDE_SOUNDS_DEV_DIR names one at configure time.
GuideSoundPlaces defaultGuideSoundPlaces();

// "count-" + name when every character of the name is numeric (an empty name
// too), otherwise the name. Names are UTF-8.
std::string guideSoundFileName(std::string_view name);

// Spaces and tabs (Unicode space separators and U+0009) removed from both ends.
std::string trimGuideLabel(std::string_view label);

// The trimmed label without its trailing numeric characters; what precedes
// them is kept as it is ("Chorus 2" gives "Chorus ").
std::string stripTrailingNumerals(std::string_view label);

// The file for exactly this label's name, or none.
std::optional<std::filesystem::path> findGuideSoundFile(std::string_view label, const GuideSoundPlaces& places);
std::optional<std::filesystem::path> findGuideSoundFile(std::string_view label);

// The trimmed label's file, else the file of the label without its trailing
// numbers (V2 falls back to V), else none.
std::optional<std::filesystem::path> resolveGuideSoundFile(std::string_view label, const GuideSoundPlaces& places);
std::optional<std::filesystem::path> resolveGuideSoundFile(std::string_view label);

// The whole file read and converted to engine-rate mono 32-bit float, channels
// averaged. Nullptr when it cannot be opened or converted; read and conversion
// failures print one line on `log`. Not cached.
PcmBufferPtr readGuideSoundFile(const std::filesystem::path& file, std::ostream& log = std::cout);

// Converted cue samples by resolved path, for the life of the process. A path
// keeps the first buffer stored under it. Locked briefly; never used from the
// audio thread.
class GuideSoundCache {
public:
    PcmBufferPtr find(const std::string& path) const;
    // Stores the buffer unless the path already has one; returns what is stored.
    PcmBufferPtr insert(const std::string& path, PcmBufferPtr buffer);
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, PcmBufferPtr, std::less<>> buffers_;
};

GuideSoundCache& guideSoundCache();

// The label's cue as a mono 48 kHz buffer, shared through the cache (callers
// must not change it), or nullptr when there is no usable file.
PcmBufferPtr loadGuideSound(std::string_view label, const GuideSoundPlaces& places, std::ostream& log = std::cout);
PcmBufferPtr loadGuideSound(std::string_view label, std::ostream& log = std::cout);

// The mono samples copied, not resampled, onto every valid listed channel of a
// new buffer of the engine format; other channels silent. Nullptr only when
// the storage cannot be had.
std::shared_ptr<PcmBuffer> placeMonoOnChannels(const PcmBuffer& mono, const std::vector<std::int64_t>& channels,
                                               const AudioFormat& format);

// A 0.24 s sine beep whose pitch (320 to 760 Hz) follows a hash of the label,
// for a cue without a sample. Nullptr only when the storage cannot be had.
std::shared_ptr<PcmBuffer> makeFallbackCue(std::string_view label, const AudioFormat& format,
                                           const std::vector<std::int64_t>& channels);

} // namespace cadenzo
