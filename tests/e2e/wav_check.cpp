// Reports what each channel of a recording carries and checks that a tone
// sits on exactly one of them.
//
//   wav_check FILE                                   report only
//   wav_check FILE --tone-on C --frequency F [--tolerance T]
//
// The report gives, per channel (from 1), the energy (sum of squares), the
// peak and the frequency of the loud part measured from its zero crossings.
// With --tone-on, the status is 0 only when channel C peaks above 0.1 at
// F +- T Hz (default 2) and every other channel stays below 1e-4.

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct ChannelReport {
    double energy = 0;
    double peak = 0;
    double frequency = 0;
};

ChannelReport analyse(const std::vector<float>& samples, double rate) {
    ChannelReport report;
    for (float v : samples) {
        report.energy += static_cast<double>(v) * v;
        report.peak = std::max(report.peak, static_cast<double>(std::abs(v)));
    }
    if (report.peak == 0) return report;
    // The loud part: from the first to the last sample above a tenth of the peak.
    const double threshold = report.peak * 0.1;
    std::size_t first = 0, last = samples.size();
    while (first < samples.size() && std::abs(samples[first]) < threshold) ++first;
    while (last > first && std::abs(samples[last - 1]) < threshold) --last;
    double firstCrossing = -1, lastCrossing = -1;
    long crossings = 0;
    for (std::size_t i = first; i + 1 < last; ++i) {
        if (samples[i] <= 0 && samples[i + 1] > 0) {
            const double at = i + samples[i] / (samples[i] - samples[i + 1]);
            if (crossings == 0) firstCrossing = at;
            lastCrossing = at;
            ++crossings;
        }
    }
    if (crossings > 1) report.frequency = (crossings - 1) * rate / (lastCrossing - firstCrossing);
    return report;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wav_check FILE [--tone-on C --frequency F [--tolerance T]]\n");
        return 2;
    }
    int toneOn = 0;
    double frequency = 0, tolerance = 2;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--tone-on") toneOn = std::atoi(argv[i + 1]);
        else if (option == "--frequency") frequency = std::atof(argv[i + 1]);
        else if (option == "--tolerance") tolerance = std::atof(argv[i + 1]);
    }

    SF_INFO info{};
    SNDFILE* file = sf_open(argv[1], SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "wav_check: cannot read %s: %s\n", argv[1], sf_strerror(nullptr));
        return 2;
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * info.channels);
    const sf_count_t frames = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);

    std::printf("%s: %d channel(s), %d Hz, %lld frames\n", argv[1], info.channels, info.samplerate,
                static_cast<long long>(frames));
    bool passed = toneOn >= 1 && toneOn <= info.channels;
    for (int c = 0; c < info.channels; ++c) {
        std::vector<float> samples(static_cast<std::size_t>(frames));
        for (sf_count_t f = 0; f < frames; ++f) samples[f] = interleaved[f * info.channels + c];
        const ChannelReport report = analyse(samples, info.samplerate);
        std::printf("channel %d: energy %.6f peak %.6f frequency %.3f Hz\n", c + 1, report.energy, report.peak,
                    report.frequency);
        if (c + 1 == toneOn) {
            passed = passed && report.peak > 0.1 && std::abs(report.frequency - frequency) <= tolerance;
        } else {
            passed = passed && report.peak < 1e-4;
        }
    }
    if (toneOn == 0) return 0;
    std::printf("%s: tone of %.1f Hz on channel %d only\n", passed ? "PASS" : "FAIL", frequency, toneOn);
    return passed ? 0 : 1;
}
