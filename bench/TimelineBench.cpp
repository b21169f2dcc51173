#include "CadenzoPlayer/timeline/Timeline.hpp"

#include <benchmark/benchmark.h>

namespace {

// A long song: sections of 8 bars at 120 bpm, the map given in minutes.
void BM_BuildTimeline(benchmark::State& state) {
    const std::int64_t minutes = state.range(0);
    std::vector<cadenzo::MapEntry> entries;
    for (std::int64_t bars = 0; bars < minutes * 30; bars += 8) entries.push_back({"V", 8});
    for (auto _ : state) {
        benchmark::DoNotOptimize(cadenzo::buildTimeline(4, 2, entries, 0, 120));
    }
    state.SetLabel(std::to_string(minutes) + " min");
}
BENCHMARK(BM_BuildTimeline)->Arg(1)->Arg(10)->Arg(180)->Unit(benchmark::kMicrosecond);

} // namespace
