#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// Long sums of sines, rendered without a sin() call per sample: layers of
// partials that take over from one another at given times, crossfaded, under a
// gain curve. Each sample stays well within 1e-6 of the direct formula:
// float(amplitude x sin(2 pi f t)) summed in float, mixed, times the gain.
namespace cadenzo::OscillatorBank {

struct Partial {
    double frequency = 0.0;  // Hz
    float amplitude = 0.0f;
};

// What sounds from startTime (seconds) on: its partials summed in this order,
// crossfaded from the layer before over its own length or else the bank's.
struct Layer {
    double startTime = 0.0;
    std::vector<Partial> partials;
    std::optional<double> crossfadeSeconds{};
};

// The gain over time. It must be exactly 1 on [steadyFrom, steadyUntil), where
// `gain` is not called, and 0 from silentFrom on, where nothing is written.
struct Envelope {
    double steadyFrom = 0.0;
    double steadyUntil = 0.0;
    double silentFrom = 0.0;
    std::function<double(double t)> gain;
};

// Frame i of a sound of `frames` frames is gain(t) x the layer sounding at
// t = i / sampleRate, crossfaded linearly from the layer before it for
// crossfadeSeconds (the layer's, or else the bank's) after its start:
// (1 - x) before + x after, x = float((t - start) / crossfadeSeconds). Start
// times must ascend; the first layer sounds from frame 0 whatever its own.
class Bank {
public:
    Bank(std::uint32_t frames, double sampleRate, std::span<const Layer> layers, double crossfadeSeconds,
         Envelope envelope);
    ~Bank();
    Bank(const Bank&) = delete;
    Bank& operator=(const Bank&) = delete;

    // Frames [first, first + count) into out[0, count). Frames from silentFrom
    // on keep what `out` held: pass it zeroed. A frame comes out the same
    // whatever window renders it when windows begin on multiples of
    // windowAlignment. Written with streaming stores, visible on return.
    void render(float* out, std::uint32_t first, std::uint32_t count);

    static constexpr std::uint32_t windowAlignment = 4096;

private:
    class Renderer;
    std::unique_ptr<Renderer> renderer_;
};

// All `frames` frames at once.
void render(float* out, std::uint32_t frames, double sampleRate, std::span<const Layer> layers,
            double crossfadeSeconds, const Envelope& envelope);

} // namespace cadenzo::OscillatorBank
