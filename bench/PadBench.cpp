#include "CadenzoPlayer/sources/PadPlayer.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <string>

namespace {

constexpr double secondsPerBar = 60.0 / 120.0 * 4;  // 120 bpm in 4/4
constexpr std::int64_t countInBars = 2;
const cadenzo::AudioFormat format{48000.0, 16};
constexpr std::array<std::int64_t, 2> padChannels = {6, 7};

// A chord change on every bar after the count-in.
std::vector<std::optional<cadenzo::PadChord>> everyBarChart(std::int64_t bars) {
    const std::array<const char*, 8> cycle = {"1", "4", "5", "6-", "2-7", "57", "4maj7", "1/3"};
    std::vector<std::optional<cadenzo::PadChord>> chords;
    for (std::int64_t i = 0; i < bars; ++i) chords.push_back(cadenzo::parseChord(cycle[i % cycle.size()], 0));
    return chords;
}

void reportBuffer(benchmark::State& state, const cadenzo::PcmBufferPtr& pad, double minutes) {
    state.counters["bytesHeld"] = pad ? static_cast<double>(pad->bytesHeld()) : 0.0;
    state.counters["oneChannelBytes"] = pad ? static_cast<double>(pad->frameLength() * sizeof(float)) : 0.0;
    state.SetLabel(std::to_string(static_cast<int>(minutes)) + " min");
}

void BM_RenderPad(benchmark::State& state) {
    const double minutes = static_cast<double>(state.range(0));
    const double duration = minutes * 60.0;
    const auto chords = everyBarChart(static_cast<std::int64_t>(duration / secondsPerBar) - countInBars);
    cadenzo::PcmBufferPtr pad;
    for (auto _ : state) {
        // Freeing the previous pad is not part of the wait before playback.
        state.PauseTiming();
        pad.reset();
        state.ResumeTiming();
        pad = cadenzo::PadPlayer::renderPad("C", secondsPerBar, duration, format, padChannels, countInBars, chords);
        benchmark::DoNotOptimize(pad.get());
    }
    reportBuffer(state, pad, minutes);
}
BENCHMARK(BM_RenderPad)->Arg(1)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_DronePad(benchmark::State& state) {
    const double minutes = static_cast<double>(state.range(0));
    cadenzo::PcmBufferPtr pad;
    for (auto _ : state) {
        state.PauseTiming();
        pad.reset();
        state.ResumeTiming();
        pad = cadenzo::PadPlayer::makeDronePad("E", secondsPerBar, minutes * 60.0, format, padChannels);
        benchmark::DoNotOptimize(pad.get());
    }
    reportBuffer(state, pad, minutes);
}
BENCHMARK(BM_DronePad)->Arg(10)->Unit(benchmark::kMillisecond);

} // namespace
