// Reports what each channel of a recording carries and checks that a tone
// sits on exactly one of them, or that a click track sits on a set of them.
//
//   wav_check FILE                                   report only
//   wav_check FILE --tone-on C --frequency F
//   wav_check FILE --clicks-on C1,C2,... --tempo BPM --beats-per-bar B [--count N]
//   wav_check FILE --sound-on C1,C2,...              (with or without the above)
//
// The report gives, per channel (from 1), the energy (sum of squares), the
// peak, the frequency of the loud part measured from its zero crossings, and
// the times of the first and last samples above 1e-4 ("sound from A s to B s").
// With --tone-on, the status is 0 only when channel C peaks above 0.1 at
// F +- 2 Hz and every other channel stays below 1e-4.
// With --clicks-on, every listed channel must carry the same clicks (N of
// them when given, at least two otherwise), one every 60 / BPM seconds within
// 5 ms, each either an accent (1200 Hz, peak above
// 0.75) or a normal click (800 Hz, peak below 0.75), accented exactly on the
// first beat of every bar of B beats; every other channel stays below 1e-4.
// With --sound-on, those channels carry something and others nothing.
// With --same-as OTHER --on C1,C2,..., those channels of FILE are OTHER's, from
// the first sound of C1 in each to the end of OTHER: each sample within 0.15 of
// one of OTHER's within a frame (a missing or doubled click or word is 0.5 or more).

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Samples = std::vector<float>;

double peakOf(const Samples& s, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    double peak = 0;
    for (std::size_t i = from; i < std::min(to, s.size()); ++i) peak = std::max(peak, double(std::abs(s[i])));
    return peak;
}

// From the rising zero crossings in [from, to); 0 when there are fewer than two.
double frequencyOf(const Samples& s, std::size_t from, std::size_t to, double rate) {
    double first = -1, last = -1;
    long crossings = 0;
    for (std::size_t i = from; i + 1 < to; ++i) {
        if (s[i] > 0 || s[i + 1] <= 0) continue;
        last = i + s[i] / (s[i] - s[i + 1]);
        if (crossings++ == 0) first = last;
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0;
}

struct Click {
    std::size_t at;  // first sample above the detection level
    double peak, frequency;
    // 'A' for an accent, 'n' for a normal click, '?' for neither.
    char kind() const {
        if (std::abs(frequency - 1200) <= 60 && peak > 0.75) return 'A';
        return std::abs(frequency - 800) <= 40 && peak > 0.3 && peak < 0.75 ? 'n' : '?';
    }
};

// A click is a burst above 0.05 after at least 20 ms below it, measured over its first 50 ms.
std::vector<Click> findClicks(const Samples& s, double rate) {
    std::vector<Click> clicks;
    const auto rearm = std::size_t(rate * 0.02), window = std::size_t(rate * 0.05);
    std::size_t quiet = rearm;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (std::abs(s[i]) < 0.05f) {
            ++quiet;
            continue;
        }
        if (quiet >= rearm) {
            const std::size_t end = std::min(s.size(), i + window);
            clicks.push_back({i, peakOf(s, i, end), frequencyOf(s, i, end, rate)});
        }
        quiet = 0;
    }
    return clicks;
}

// The other channels are checked for silence by the caller.
bool checkClicks(const std::vector<Samples>& channels, double rate, const std::vector<int>& listed, double tempo,
                 long beatsPerBar, long count) {
    bool passed = tempo > 0 && beatsPerBar > 0;
    std::vector<Click> reference;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed[i] < 1 || listed[i] > int(channels.size())) return false;
        const auto clicks = findClicks(channels[listed[i] - 1], rate);
        std::string pattern;
        for (const Click& click : clicks) pattern += click.kind();
        std::printf("channel %d: %zu click(s) %s\n", listed[i], clicks.size(), pattern.c_str());
        if (i == 0) reference = clicks;
        bool same = clicks.size() == reference.size();
        for (std::size_t k = 0; same && k < clicks.size(); ++k)
            same = std::labs(long(clicks[k].at - reference[k].at)) <= 1 && clicks[k].kind() == reference[k].kind();
        if (!same) std::printf("channel %d: clicks differ from channel %d's\n", listed[i], listed[0]);
        passed = passed && same;
    }
    if (count > 0 ? long(reference.size()) != count : reference.size() < 2) {
        std::printf("%zu click(s), expected %ld\n", reference.size(), count);
        passed = false;
    }
    const double beat = 60.0 / tempo;
    for (std::size_t k = 0; k < reference.size(); ++k) {
        const Click& click = reference[k];
        const char wanted = k % beatsPerBar == 0 ? 'A' : 'n';
        const double gap = k == 0 ? beat : double(click.at - reference[k - 1].at) / rate;
        const bool onBeat = std::abs(gap - beat) <= 0.005;
        std::printf("click %2zu at %9.4f s (+%.4f s): %.1f Hz, peak %.3f, %c%s%s\n", k + 1, click.at / rate, gap,
                    click.frequency, click.peak, click.kind(), click.kind() == wanted ? "" : " (wrong kind)",
                    onBeat ? "" : " (off the beat)");
        passed = passed && click.kind() == wanted && onBeat;
    }
    return passed;
}

} // namespace

// Whether the listed channels (from 1) of two interleaved recordings match from each one's first sound.
int sameAs(const std::vector<float>& ours, int ourChannels, const std::string& otherPath, const std::vector<int>& on) {
    SF_INFO info{};
    SNDFILE* file = sf_open(otherPath.c_str(), SFM_READ, &info);
    if (!file || on.empty()) return std::fprintf(stderr, "wav_check: cannot read %s\n", otherPath.c_str()), 2;
    std::vector<float> theirs(std::size_t(info.frames) * info.channels);
    sf_readf_float(file, theirs.data(), info.frames);
    sf_close(file);
    const auto sample = [](const std::vector<float>& all, int width, std::size_t frame, int channel) {
        return frame * width + channel - 1 < all.size() ? all[frame * width + channel - 1] : 0.0f;
    };
    const auto onset = [&](const std::vector<float>& all, int width) {
        std::size_t frame = 0;
        while ((frame + 1) * width <= all.size() && std::abs(sample(all, width, frame, on[0])) <= 1e-3) ++frame;
        return frame;
    };
    const std::size_t a = onset(ours, ourChannels), b = onset(theirs, info.channels);
    const std::size_t length = std::size_t(info.frames) - b;
    bool same = true;
    for (const int channel : on) {
        // Each sample against the other's within a frame: words a frame off each their own way may overlap.
        double apart = 0;
        std::size_t where = 0;
        for (std::size_t i = 1; i + 1 < length; ++i) {
            double nearest = 1e9;
            for (int shift = -1; shift <= 1; ++shift)
                nearest = std::min(nearest, double(std::abs(sample(ours, ourChannels, a + i + shift, channel) -
                                                             sample(theirs, info.channels, b + i, channel))));
            if (nearest >= 0.15 && !where) where = i;
            apart = std::max(apart, nearest);
        }
        std::printf("channel %d: at most %.6f from %s over %.3f s", channel, apart, otherPath.c_str(),
                    double(length) / info.samplerate);
        if (where) std::printf(", first apart %.4f s after the first sound", double(where) / info.samplerate);
        std::printf("\n");
        same = same && apart < 0.15;
    }
    std::printf("%s\n", same ? "PASS" : "FAIL");
    return same ? 0 : 1;
}

int main(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
    const auto number = [&](const char* name) { return options.count(name) ? std::atof(options[name].c_str()) : 0; };
    const int toneOn = int(number("--tone-on"));
    const double frequency = number("--frequency"), tempo = number("--tempo");
    const auto list = [&](const char* name) {
        std::vector<int> channels;
        std::stringstream pieces(options[name]);
        for (std::string piece; std::getline(pieces, piece, ',');) channels.push_back(std::atoi(piece.c_str()));
        return channels;
    };
    const std::vector<int> clicksOn = list("--clicks-on"), soundOn = list("--sound-on");
    const std::set<std::string> known{"--tone-on", "--frequency", "--clicks-on", "--tempo", "--beats-per-bar",
                                      "--count",   "--sound-on",  "--same-as",   "--on"};
    SF_INFO info{};
    SNDFILE* file = argc >= 2 && argc % 2 == 0 ? sf_open(argv[1], SFM_READ, &info) : nullptr;
    for (const auto& [name, value] : options) file = known.count(name) ? file : nullptr;
    if (!file) {
        std::fprintf(stderr, "usage: wav_check FILE [options]: %s\n", sf_strerror(nullptr));
        return 2;
    }
    std::vector<float> interleaved(std::size_t(info.frames) * info.channels);
    const sf_count_t frames = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);

    std::printf("%s: %d channel(s), %d Hz, %lld frames\n", argv[1], info.channels, info.samplerate, (long long)frames);
    if (options.count("--same-as")) return sameAs(interleaved, info.channels, options["--same-as"], list("--on"));
    std::vector<int> expected = clicksOn;
    expected.insert(expected.end(), soundOn.begin(), soundOn.end());
    if (toneOn != 0) expected.push_back(toneOn);
    const auto listed = [&expected](int channel) { return std::ranges::count(expected, channel) > 0; };
    bool passed = true;
    std::vector<Samples> channels(info.channels, Samples(std::size_t(frames)));
    for (int c = 0; c < info.channels; ++c) {
        Samples& s = channels[c];
        double energy = 0, from = -1, to = -1;
        for (sf_count_t f = 0; f < frames; ++f) {
            s[f] = interleaved[f * info.channels + c];
            energy += double(s[f]) * s[f];
            if (std::abs(s[f]) <= 1e-4) continue;
            if (from < 0) from = double(f) / info.samplerate;
            to = double(f + 1) / info.samplerate;
        }
        // The loud part: from the first to the last sample above a tenth of the peak.
        const double peak = peakOf(s);
        std::size_t first = 0, last = s.size();
        while (peak > 0 && first < last && std::abs(s[first]) < peak * 0.1) ++first;
        while (peak > 0 && last > first && std::abs(s[last - 1]) < peak * 0.1) --last;
        const double hz = peak > 0 ? frequencyOf(s, first, last, info.samplerate) : 0;
        std::printf("channel %d: energy %.6f peak %.6f frequency %.3f Hz sound from %.4f s to %.4f s\n", c + 1,
                    energy, peak, hz, from, to);
        if (c + 1 == toneOn) passed = passed && peak > 0.1 && std::abs(hz - frequency) <= 2;
        if (listed(c + 1) == (peak >= 1e-4)) continue;
        std::printf("channel %d: %s\n", c + 1, peak < 1e-4 ? "silent" : "sound where there should be none");
        passed = false;
    }
    for (int c : expected) passed = passed && c >= 1 && c <= info.channels;
    if (!clicksOn.empty())
        passed = checkClicks(channels, info.samplerate, clicksOn, tempo, long(number("--beats-per-bar")),
                             long(number("--count"))) && passed;
    if (expected.empty()) return 0;
    std::printf("%s\n", passed ? "PASS" : "FAIL");
    return passed ? 0 : 1;
}
