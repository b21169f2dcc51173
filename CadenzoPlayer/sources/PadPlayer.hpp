#pragma once

#include "CadenzoPlayer/PadChords.hpp"
#include "CadenzoPlayer/audio/PcmBuffer.hpp"
#include "CadenzoPlayer/timeline/SongMap.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace cadenzo::OscillatorBank {
class Bank;
struct Layer;
}

// A soft chord bed: a detuned drone on the key, or five voices that follow a
// chord chart, led smoothly from chord to chord.
namespace cadenzo::PadPlayer {

// A pad rendered a window at a time while it plays, so that neither the wait
// before the first sound nor the memory grows with the song.
class PadStream {
public:
    // A detuned major chord on the key for `duration` seconds plus the release.
    // Nothing for a key that parseKey rejects or unusable times.
    static std::unique_ptr<PadStream> drone(std::string_view key, double secondsPerBar, double duration,
                                            const AudioFormat& format, std::span<const std::int64_t> channels);
    // A pad that follows `chords` (entry i is the i-th bar after the count-in),
    // crossfading at each change over a part of the share of the bar it
    // changes on, and fading in over the first bar of `bars`.
    static std::unique_ptr<PadStream> chart(std::string_view key, const BarGrid& bars, double duration,
                                            const AudioFormat& format, std::span<const std::int64_t> channels,
                                            std::int64_t countInBars, std::span<const std::optional<BarChords>> chords);
    ~PadStream();

    // The whole pad: the song, the release and a short tail.
    std::uint32_t frameCount() const { return frames_; }

    // Frames [first, first + count) on the pad's channels (silent when none
    // of them exists), the same samples whatever the windows when each begins
    // on a multiple of windowAlignment. Nothing when no buffer can be had.
    PcmBufferPtr render(std::uint32_t first, std::uint32_t count);
    static constexpr std::uint32_t windowAlignment = 4096;

private:
    PadStream(const AudioFormat& format, std::span<const std::int64_t> channels, std::uint32_t frames,
              double secondsPerBar, double duration, std::span<const OscillatorBank::Layer> layers);

    AudioFormat format_;
    std::vector<std::int64_t> channels_;
    std::uint32_t frames_;
    std::unique_ptr<OscillatorBank::Bank> bank_;
};

// The whole pad in one buffer.
PcmBufferPtr makeDronePad(std::string_view key, double secondsPerBar, double duration, const AudioFormat& format,
                          std::span<const std::int64_t> channels);
PcmBufferPtr renderPad(std::string_view key, const BarGrid& bars, double duration, const AudioFormat& format,
                       std::span<const std::int64_t> channels, std::int64_t countInBars,
                       std::span<const std::optional<BarChords>> chords);

} // namespace cadenzo::PadPlayer
