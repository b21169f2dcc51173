// Reports what each channel of a recording carries and checks that a tone
// sits on exactly one of them, or that a click track sits on a set of them.
//
//   wav_check FILE                                   report only
//   wav_check FILE --tone-on C --frequency F [--tolerance T]
//   wav_check FILE --clicks-on C1,C2,... --tempo BPM --beats-per-bar B [--count N] [--tolerance-ms MS]
//
// The report gives, per channel (from 1), the energy (sum of squares), the
// peak, the frequency of the loud part measured from its zero crossings, and
// the times of the first and last samples above 1e-4 ("sound from A s to B s").
// With --tone-on, the status is 0 only when channel C peaks above 0.1 at
// F +- T Hz (default 2) and every other channel stays below 1e-4.
// With --clicks-on, every listed channel must carry the same clicks (N of
// them when given, at least two otherwise), one every 60 / BPM seconds within
// MS milliseconds (default 5), each either an accent (1200 Hz, peak above
// 0.75) or a normal click (800 Hz, peak below 0.75), accented exactly on the
// first beat of every bar of B beats; every other channel stays below 1e-4.

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ChannelReport {
    double energy = 0;
    double peak = 0;
    double frequency = 0;
    double soundFrom = -1;  // seconds; -1 when the channel is silent
    double soundTo = -1;
};

ChannelReport analyse(const std::vector<float>& samples, double rate) {
    ChannelReport report;
    for (float v : samples) {
        report.energy += static_cast<double>(v) * v;
        report.peak = std::max(report.peak, static_cast<double>(std::abs(v)));
    }
    if (report.peak == 0) return report;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > 1e-4) {
            if (report.soundFrom < 0) report.soundFrom = i / rate;
            report.soundTo = (i + 1) / rate;
        }
    }
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

struct Click {
    std::size_t at = 0;  // first sample above the detection level
    double peak = 0;
    double frequency = 0;
};

// A click is a burst above 0.05 after at least 20 ms below it; its pitch is
// measured over its first 50 ms.
std::vector<Click> findClicks(const std::vector<float>& samples, double rate) {
    constexpr float level = 0.05f;
    const auto rearm = static_cast<std::size_t>(rate * 0.02);
    const auto window = static_cast<std::size_t>(rate * 0.05);
    std::vector<Click> clicks;
    std::size_t quiet = rearm;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) < level) {
            ++quiet;
            continue;
        }
        if (quiet >= rearm) clicks.push_back({i});
        quiet = 0;
    }
    for (Click& click : clicks) {
        const std::size_t end = std::min(samples.size(), click.at + window);
        double first = -1, last = -1;
        long crossings = 0;
        for (std::size_t i = click.at; i < end; ++i) {
            click.peak = std::max(click.peak, static_cast<double>(std::abs(samples[i])));
            if (i + 1 < end && samples[i] <= 0 && samples[i + 1] > 0) {
                const double at = i + samples[i] / (samples[i] - samples[i + 1]);
                if (crossings++ == 0) first = at;
                last = at;
            }
        }
        if (crossings > 1) click.frequency = (crossings - 1) * rate / (last - first);
    }
    return clicks;
}

// 'A' for an accent, 'n' for a normal click, '?' for neither.
char kindOf(const Click& click) {
    if (std::abs(click.frequency - 1200) <= 60 && click.peak > 0.75) return 'A';
    if (std::abs(click.frequency - 800) <= 40 && click.peak > 0.3 && click.peak < 0.75) return 'n';
    return '?';
}

struct ClickExpectation {
    std::vector<int> channels;  // from 1
    double tempo = 0;
    long beatsPerBar = 0;
    long count = 0;  // 0: any number from two up
    double toleranceMs = 5;
};

bool checkClicks(const std::vector<std::vector<float>>& channels, double rate, const ClickExpectation& expected) {
    bool passed = expected.tempo > 0 && expected.beatsPerBar > 0 && !expected.channels.empty();
    std::vector<Click> reference;
    for (std::size_t i = 0; i < expected.channels.size(); ++i) {
        const int channel = expected.channels[i];
        if (channel < 1 || channel > static_cast<int>(channels.size())) {
            std::printf("channel %d: not in the recording\n", channel);
            return false;
        }
        const auto clicks = findClicks(channels[channel - 1], rate);
        std::string pattern;
        for (const Click& click : clicks) pattern += kindOf(click);
        std::printf("channel %d: %zu click(s) %s\n", channel, clicks.size(), pattern.c_str());
        if (i == 0) {
            reference = clicks;
            continue;
        }
        bool same = clicks.size() == reference.size();
        for (std::size_t k = 0; same && k < clicks.size(); ++k) {
            same = std::abs(static_cast<double>(clicks[k].at) - static_cast<double>(reference[k].at)) <= 1 &&
                   kindOf(clicks[k]) == kindOf(reference[k]);
        }
        if (!same) std::printf("channel %d: clicks differ from channel %d's\n", channel, expected.channels[0]);
        passed = passed && same;
    }

    const double beat = 60.0 / expected.tempo;
    if (expected.count > 0 ? static_cast<long>(reference.size()) != expected.count : reference.size() < 2) {
        std::printf("%zu click(s), expected %ld\n", reference.size(), expected.count);
        passed = false;
    }
    for (std::size_t k = 0; k < reference.size(); ++k) {
        const Click& click = reference[k];
        const char kind = kindOf(click);
        const char wanted = k % expected.beatsPerBar == 0 ? 'A' : 'n';
        const double gap = k == 0 ? beat : (click.at - reference[k - 1].at) / rate;
        const bool onBeat = std::abs(gap - beat) * 1000 <= expected.toleranceMs;
        std::printf("click %2zu at %9.4f s (+%.4f s): %.1f Hz, peak %.3f, %s%s%s\n", k + 1, click.at / rate, gap,
                    click.frequency, click.peak, kind == 'A' ? "accent" : kind == 'n' ? "normal" : "unclear",
                    kind == wanted ? "" : " (wrong kind)", onBeat ? "" : " (off the beat)");
        passed = passed && kind == wanted && onBeat;
    }
    for (std::size_t c = 0; c < channels.size(); ++c) {
        bool listed = false;
        for (int l : expected.channels) listed = listed || l == static_cast<int>(c) + 1;
        if (listed) continue;
        double peak = 0;
        for (float v : channels[c]) peak = std::max(peak, static_cast<double>(std::abs(v)));
        if (peak >= 1e-4) {
            std::printf("channel %zu: sound where there should be none (peak %.6f)\n", c + 1, peak);
            passed = false;
        }
    }
    return passed;
}

std::vector<int> parseChannelList(const std::string& text) {
    std::vector<int> channels;
    std::stringstream pieces(text);
    for (std::string piece; std::getline(pieces, piece, ',');) channels.push_back(std::atoi(piece.c_str()));
    return channels;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wav_check FILE [--tone-on C --frequency F [--tolerance T]]\n"
                             "       wav_check FILE --clicks-on C1,C2 --tempo BPM --beats-per-bar B [--count N]"
                             " [--tolerance-ms MS]\n");
        return 2;
    }
    int toneOn = 0;
    double frequency = 0, tolerance = 2;
    ClickExpectation clicks;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--tone-on") toneOn = std::atoi(argv[i + 1]);
        else if (option == "--frequency") frequency = std::atof(argv[i + 1]);
        else if (option == "--tolerance") tolerance = std::atof(argv[i + 1]);
        else if (option == "--clicks-on") clicks.channels = parseChannelList(argv[i + 1]);
        else if (option == "--tempo") clicks.tempo = std::atof(argv[i + 1]);
        else if (option == "--beats-per-bar") clicks.beatsPerBar = std::atol(argv[i + 1]);
        else if (option == "--count") clicks.count = std::atol(argv[i + 1]);
        else if (option == "--tolerance-ms") clicks.toleranceMs = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "wav_check: unknown option %s\n", option.c_str());
            return 2;
        }
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
    std::vector<std::vector<float>> channels(info.channels);
    for (int c = 0; c < info.channels; ++c) {
        std::vector<float>& samples = channels[c];
        samples.resize(static_cast<std::size_t>(frames));
        for (sf_count_t f = 0; f < frames; ++f) samples[f] = interleaved[f * info.channels + c];
        const ChannelReport report = analyse(samples, info.samplerate);
        std::printf("channel %d: energy %.6f peak %.6f frequency %.3f Hz sound from %.4f s to %.4f s\n", c + 1,
                    report.energy, report.peak, report.frequency, report.soundFrom, report.soundTo);
        if (c + 1 == toneOn) {
            passed = passed && report.peak > 0.1 && std::abs(report.frequency - frequency) <= tolerance;
        } else {
            passed = passed && report.peak < 1e-4;
        }
    }
    if (!clicks.channels.empty()) {
        const bool clicksPassed = checkClicks(channels, info.samplerate, clicks);
        std::printf("%s: clicks at %.2f bpm in bars of %ld\n", clicksPassed ? "PASS" : "FAIL", clicks.tempo,
                    clicks.beatsPerBar);
        return clicksPassed ? 0 : 1;
    }
    if (toneOn == 0) return 0;
    std::printf("%s: tone of %.1f Hz on channel %d only\n", passed ? "PASS" : "FAIL", frequency, toneOn);
    return passed ? 0 : 1;
}
