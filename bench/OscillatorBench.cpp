#include "CadenzoPlayer/sources/OscillatorBank.hpp"

#include <benchmark/benchmark.h>

#include <sys/mman.h>

#include <cmath>
#include <span>
#include <string>

namespace {

namespace Bank = cadenzo::OscillatorBank;

constexpr double sampleRate = 48000.0;
constexpr double seconds = 60.0;

// Pages new from the kernel, zero until first written: the allocator would
// hand back the previous run's pages, already mapped, and hide what a new
// buffer costs on first touch.
class FreshPages {
public:
    explicit FreshPages(std::size_t floats) : bytes_(floats * sizeof(float)) {
        void* pages = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        data_ = pages == MAP_FAILED ? nullptr : static_cast<float*>(pages);
    }
    ~FreshPages() {
        if (data_) munmap(data_, bytes_);
    }
    FreshPages(const FreshPages&) = delete;
    FreshPages& operator=(const FreshPages&) = delete;

    float* data() const { return data_; }

private:
    std::size_t bytes_;
    float* data_ = nullptr;
};

// The bank alone: one layer of `partials` sines at unit gain for a minute,
// each run into fresh pages, so the time includes the first write to them.
void BM_OscillatorBank(benchmark::State& state) {
    const auto partials = static_cast<int>(state.range(0));
    Bank::Layer layer;
    for (int p = 0; p < partials; ++p) layer.partials.push_back({110.0 * std::exp2(p * 7 / 12.0), 0.05f});
    const auto frames = static_cast<std::uint32_t>(seconds * sampleRate);
    const Bank::Envelope steady{0.0, seconds, seconds, [](double) { return 1.0; }};
    for (auto _ : state) {
        state.PauseTiming();
        {
            FreshPages out(frames);
            if (!out.data()) {
                state.SkipWithError("no memory for a minute of samples");
                break;
            }
            state.ResumeTiming();
            Bank::render(out.data(), frames, sampleRate, std::span(&layer, 1), 0.5, steady);
            benchmark::DoNotOptimize(out.data());
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.counters["frames/s"] = benchmark::Counter(
        static_cast<double>(frames) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(partials) + " partials, 1 min at 48 kHz");
}
BENCHMARK(BM_OscillatorBank)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);

} // namespace
