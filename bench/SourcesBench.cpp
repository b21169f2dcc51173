#include "CadenzoPlayer/sources/ClickTrack.hpp"
#include "CadenzoPlayer/sources/GuideSounds.hpp"

#include "tests/unit/TempFiles.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

namespace {

using namespace cadenzo;

const AudioFormat device16{48000, 16};
const std::vector<std::int64_t> twoOfSixteen{4, 5};

void BM_ClickBuffer(benchmark::State& state) {
    const bool accent = state.range(0) != 0;
    for (auto _ : state) benchmark::DoNotOptimize(ClickTrack::makeClickBuffer(accent, device16, twoOfSixteen));
    state.SetLabel(accent ? "accent" : "normal");
}
BENCHMARK(BM_ClickBuffer)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// A first load is a resolution plus a read and conversion; the cache is
// bypassed by timing the two parts on their own.
void BM_ResolveGuideSound(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(resolveGuideSoundFile("V2"));
}
BENCHMARK(BM_ResolveGuideSound)->Unit(benchmark::kMicrosecond);

void BM_ReadBundledCue(benchmark::State& state) {
    const auto file = resolveGuideSoundFile("V");
    if (!file) {
        state.SkipWithError("no bundled V cue");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(readGuideSoundFile(*file));
    state.SetLabel("48 kHz mono 16-bit, spoken word");
}
BENCHMARK(BM_ReadBundledCue)->Unit(benchmark::kMicrosecond);

void BM_ReadStereo44100Cue(benchmark::State& state) {
    testfiles::TempDir temp;
    const auto file = temp.path() / "Cue.wav";
    testfiles::writeWav(file, 44100, 2, 22050, [](std::int64_t i, int) {
        return 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / 44100.0));
    });
    for (auto _ : state) benchmark::DoNotOptimize(readGuideSoundFile(file));
    state.SetLabel("0.5 s, 44.1 kHz stereo to 48 kHz mono");
}
BENCHMARK(BM_ReadStereo44100Cue)->Unit(benchmark::kMicrosecond);

void BM_LoadGuideSoundCached(benchmark::State& state) {
    if (!loadGuideSound("V")) {
        state.SkipWithError("no bundled V cue");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(loadGuideSound("V"));
}
BENCHMARK(BM_LoadGuideSoundCached)->Unit(benchmark::kMicrosecond);

void BM_PlaceCueOnChannels(benchmark::State& state) {
    const PcmBufferPtr cue = loadGuideSound("V");
    if (!cue) {
        state.SkipWithError("no bundled V cue");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(placeMonoOnChannels(*cue, twoOfSixteen, device16));
}
BENCHMARK(BM_PlaceCueOnChannels)->Unit(benchmark::kMicrosecond);

void BM_FallbackCue(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(makeFallbackCue("Coda", device16, twoOfSixteen));
}
BENCHMARK(BM_FallbackCue)->Unit(benchmark::kMicrosecond);

} // namespace
