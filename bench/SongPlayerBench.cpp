#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/VirtualDeviceBackend.hpp"
#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include <benchmark/benchmark.h>

#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// From calling play to its return, in wall time since the work runs on the
// player's queue: the wait before the first sound. Timeline, click buffers,
// cues, the pad's first windows, scheduling. A song of N minutes at 120 bpm in
// 4/4, a new chord every bar, pad on 2 of 16 channels, click and cues on one
// channel each.
void BM_SongPlay(benchmark::State& state) {
    const std::int64_t minutes = state.range(0);
    auto backend = std::make_shared<cadenzo::VirtualDeviceBackend>();
    backend->addDevice("Stage", 16);
    auto previous = cadenzo::setDeviceBackendForTesting(backend);
    const cadenzo::CoreAudioDevices::Device device{
        cadenzo::DeviceLayer::shared().idForUid(cadenzo::VirtualDeviceBackend::uidFor("Stage")), "virtual:Stage",
        "Stage", 16};

    std::vector<cadenzo::MapEntry> entries;
    const char* labels[] = {"V", "Ch", "Br", "Solo"};
    for (std::int64_t bars = 0; bars < minutes * 30; bars += 8) entries.push_back({labels[entries.size() % 4], 8});
    std::vector<std::string> chart;
    const char* chords[] = {"1", "4", "5", "6-", "2-7", "57", "4maj7", "1/3"};
    for (std::int64_t bar = 0; bar < minutes * 30; ++bar) chart.push_back(chords[bar % 8]);

    const cadenzo::SongSettings song{.clickChannels = {0}, .guideChannels = {1}, .padChannels = {2, 3},
                                     .totalChannels = 16, .tempo = 120, .entries = entries, .padKey = "C",
                                     .padChords = chart};
    // The player's summary lines stay out of the benchmark's own output.
    std::ostringstream log;
    for (auto _ : state) {
        auto player = cadenzo::SongPlayer::make(log);
        benchmark::DoNotOptimize(player->play(device, song));
        state.PauseTiming();
        player.reset();
        log.str("");
        state.ResumeTiming();
    }
    state.counters["peak_rss_MB"] = peakResidentMegabytes();
    state.SetLabel(std::to_string(minutes) + " min");
    cadenzo::setDeviceBackendForTesting(previous);
}
BENCHMARK(BM_SongPlay)->Arg(1)->Arg(10)->Arg(180)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace
