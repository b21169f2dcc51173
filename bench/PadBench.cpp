#include "CadenzoPlayer/playback/SongPlayer.hpp"
#include "CadenzoPlayer/sources/PadPlayer.hpp"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <array>
#include <chrono>
#include <deque>
#include <string>

namespace {

constexpr double secondsPerBar = 60.0 / 120.0 * 4;  // 120 bpm in 4/4
constexpr std::int64_t countInBars = 2;
const cadenzo::AudioFormat format{48000.0, 16};
constexpr std::array<std::int64_t, 2> padChannels = {6, 7};

// A chord change on every bar after the count-in.
std::vector<std::optional<cadenzo::BarChords>> everyBarChart(std::int64_t bars) {
    const std::array<const char*, 8> cycle = {"1", "4", "5", "6-", "2-7", "57", "4maj7", "1/3"};
    std::vector<std::optional<cadenzo::BarChords>> chords;
    for (std::int64_t i = 0; i < bars; ++i) chords.push_back(cadenzo::parseBar(cycle[i % cycle.size()], 0));
    return chords;
}

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void reportBuffer(benchmark::State& state, const cadenzo::PcmBufferPtr& pad, double minutes, long faults) {
    state.counters["bytesHeld"] = pad ? static_cast<double>(pad->bytesHeld()) : 0.0;
    state.counters["oneChannelBytes"] = pad ? static_cast<double>(pad->frameLength() * sizeof(float)) : 0.0;
    // Close to bytesHeld when every run wrote to pages new from the kernel, as a first render does.
    state.counters["faultedBytes"] =
        static_cast<double>(faults) * 4096.0 / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.SetLabel(std::to_string(static_cast<int>(minutes)) + " min");
}

// Freeing the previous pad and handing its pages back to the kernel are not
// part of the wait before playback; without the trim the allocator would give
// the next run the same pages, already mapped, and hide their first-touch cost.
void releaseUntimed(benchmark::State& state, cadenzo::PcmBufferPtr& pad, long& faults) {
    state.PauseTiming();
    pad.reset();
    malloc_trim(0);
    faults -= minorFaults();
    state.ResumeTiming();
}

void BM_RenderPad(benchmark::State& state) {
    const double minutes = static_cast<double>(state.range(0));
    const double duration = minutes * 60.0;
    const auto chords = everyBarChart(static_cast<std::int64_t>(duration / secondsPerBar) - countInBars);
    cadenzo::PcmBufferPtr pad;
    long faults = 0;
    for (auto _ : state) {
        releaseUntimed(state, pad, faults);
        pad = cadenzo::PadPlayer::renderPad("C", secondsPerBar, duration, format, padChannels, countInBars, chords);
        benchmark::DoNotOptimize(pad.get());
        faults += minorFaults();
    }
    reportBuffer(state, pad, minutes, faults);
}
BENCHMARK(BM_RenderPad)->Arg(1)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_DronePad(benchmark::State& state) {
    const double minutes = static_cast<double>(state.range(0));
    cadenzo::PcmBufferPtr pad;
    long faults = 0;
    for (auto _ : state) {
        releaseUntimed(state, pad, faults);
        pad = cadenzo::PadPlayer::makeDronePad("E", secondsPerBar, minutes * 60.0, format, padChannels);
        benchmark::DoNotOptimize(pad.get());
        faults += minorFaults();
    }
    reportBuffer(state, pad, minutes, faults);
}
BENCHMARK(BM_DronePad)->Arg(10)->Unit(benchmark::kMillisecond);

// Before the first window: the chart's voicings and the oscillator bank's
// layers, made once for the whole song when it starts.
void BM_PadStreamChart(benchmark::State& state) {
    const double duration = static_cast<double>(state.range(0)) * 60.0;
    const auto chords = everyBarChart(static_cast<std::int64_t>(duration / secondsPerBar) - countInBars);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cadenzo::PadPlayer::PadStream::chart("C", secondsPerBar, duration, format,
                                                                      padChannels, countInBars, chords));
    }
    state.SetLabel(std::to_string(state.range(0)) + " min");
}
BENCHMARK(BM_PadStreamChart)->Arg(1)->Arg(10)->Arg(180)->Unit(benchmark::kMillisecond);

// What playback does: the pad of a 10-minute chart rendered a window at a
// time, the windows of the lead kept alive until the device would have played
// them. One iteration is one window; us_per_pad_second is the render time for
// one second of pad.
void BM_PadWindows(benchmark::State& state) {
    constexpr double duration = 600.0;
    constexpr std::uint32_t window = 12 * cadenzo::PadPlayer::PadStream::windowAlignment;
    const auto chords = everyBarChart(static_cast<std::int64_t>(duration / secondsPerBar) - countInBars);
    auto stream = cadenzo::PadPlayer::PadStream::chart("C", secondsPerBar, duration, format, padChannels,
                                                       countInBars, chords);
    const auto lead = static_cast<std::size_t>(cadenzo::SongPlayer::feedLeadSeconds * format.sampleRate / window) + 1;
    std::deque<cadenzo::PcmBufferPtr> ahead;
    std::uint32_t next = 0;
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (next + window > stream->frameCount()) next = 0;
        ahead.push_back(stream->render(next, window));
        benchmark::DoNotOptimize(ahead.back().get());
        next += window;
        if (ahead.size() > lead) ahead.pop_front();
        spent += std::chrono::steady_clock::now() - start;
    }
    const double padSeconds = static_cast<double>(state.iterations()) * window / format.sampleRate;
    state.counters["us_per_pad_second"] = std::chrono::duration<double, std::micro>(spent).count() / padSeconds;
    state.SetLabel("12 x 4096 frames a window");
}
BENCHMARK(BM_PadWindows)->Unit(benchmark::kMicrosecond);

} // namespace
