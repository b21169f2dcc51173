#include "CadenzoPlayer/sources/PadPlayer.hpp"
#include "CadenzoPlayer/sources/PadInternals.hpp"

#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

using namespace cadenzo;
using namespace cadenzo::PadPlayer;

namespace {

constexpr double rate = 48000.0;
const AudioFormat stereo{rate, 2};
const std::vector<std::int64_t> bothChannels = {0, 1};

std::vector<std::optional<BarChords>> chart(const std::vector<std::string>& symbols, int key = 0) {
    std::vector<std::optional<BarChords>> chords;
    for (const auto& symbol : symbols) chords.push_back(parseBar(symbol, key));
    return chords;
}

PadChord chord(const std::string& symbol) { return parseChord(symbol, 0).value(); }

// The voicings of C, F, G and G7 in C, each voice nearest its anchor.
const Voicing onC = {48, 52, 55, 60, 64}, onF = {53, 57, 60, 65, 69}, onG = {43, 47, 50, 55, 59},
              onG7 = {43, 47, 50, 65, 59};

TEST(PadVoicing, EachVoiceMovesToTheNearestToneAroundItsAnchor) {
    EXPECT_EQ(anchorNotes(0), onC);
    EXPECT_EQ(anchorNotes(10), (Voicing{58, 62, 65, 70, 74}));
    EXPECT_EQ(tonicChord(10), (PadChord{10, {10, 2, 5}, {}}));
    const std::vector<std::tuple<std::vector<int>, Voicing, Voicing>> cases = {
        {{6, 10, 1}, onC, {42, 46, 49, 54, 58}},  // a tritone from every anchor: down
        {chord("4").tones, onC, onF}, {chord("5").tones, onC, onG},  // a fifth up is reached a fourth down
        {chord("57").tones, onC, onG7}, {chord("6-").tones, onC, {45, 48, 52, 57, 60}},  // voice 3 takes the seventh
        // A voice already on its tone holds its note, however far from its anchor; no tones, no move.
        {chord("6-").tones, {48, 72, 40, 60, 64}, {45, 72, 40, 57, 60}},
        {chord("1").tones, {72, 40, 67, 84, 76}, {72, 40, 67, 84, 76}}, {chord("5").tones, onG7, onG},
        {{}, onG7, onG7}};
    for (const auto& [tones, previous, next] : cases) EXPECT_EQ(voiceLead(tones, previous, onC), next);
}

TEST(PadSegments, ANewSegmentAtEachChangeTheCountInOnTheTonic) {
    using Expected = std::vector<Segment>;
    const Segment c{0.0, chord("1"), onC}, f{0.0, chord("4"), onF};
    const auto at = [](Segment s, double time) { return s.startTime = time, s; };
    // Two bars of count-in; a chord repeated does not restart.
    EXPECT_EQ(buildPadSegments(0, 2.0, 2, chart({"1", "4", "5", "5", "1"})),
              (Expected{c, at(f, 6.0), {8.0, chord("5"), onG}, at(c, 12.0)}));
    // A slash bass alone starts a segment with the same voicing.
    EXPECT_EQ(buildPadSegments(0, 2.0, 0, chart({"1", "1/3", "1/3", "1"})),
              (Expected{c, {2.0, PadChord{0, {0, 4, 7}, 4}, onC}, at(c, 6.0)}));
    // Without count-in the first chord sounds from the start; an absent chord is the tonic.
    EXPECT_EQ(buildPadSegments(0, 2.0, 0, chart({"4", "4", "1"})), (Expected{f, at(c, 4.0)}));
    EXPECT_EQ(buildPadSegments(0, 2.0, 0, chart({"x", "4", "x"})), (Expected{c, at(f, 2.0), at(c, 4.0)}));
    EXPECT_EQ(buildPadSegments(7, 2.0, 0, {}), (Expected{{0.0, tonicChord(7), anchorNotes(7)}}));
    // Chords in brackets share their bar evenly; a bracket that does not read is a bar of the tonic.
    EXPECT_EQ(buildPadSegments(0, 2.0, 0, chart({"[4 1]", "[4 x]"})), (Expected{f, {1.0, chord("1"), onC, 2}}));
    // From bar 3 on, bars of 1.5 s from 5.5 s: the changes sit on their lines.
    BarGrid bars(2.0);
    bars.change(3, 5.5, 1.5);
    EXPECT_EQ(buildPadSegments(0, bars, 2, chart({"1", "4", "5"})),
              (Expected{c, at(f, 5.5), {7.0, chord("5"), onG}}));
    EXPECT_EQ(buildPadSegments(0, bars, 2, chart({"1", "[4 4 5 1]"})),
              (Expected{c, {5.5, chord("4"), onF, 4}, {6.25, chord("5"), onG, 4}, {6.625, chord("1"), onC, 4}}));
}

TEST(PadSound, EnvelopeCrossfadeLengthAndBass) {
    // Fades in over a bar, even past a song shorter than one, and releases over two seconds.
    for (const auto& [t, secondsPerBar, duration, e] : std::vector<std::array<double, 4>>{
             {0.0, 2, 10, 0.0}, {0.5, 2, 10, 0.25}, {2.0, 2, 10, 1.0}, {10.0, 2, 10, 1.0}, {11.5, 2, 10, 0.25},
             {12.0, 2, 10, 0.0}, {12.5, 2, 10, 0.0}, {3.0, 4, 1, 0.75}, {4.0, 4, 1, 0.0}}) {
        EXPECT_DOUBLE_EQ(envelope(t, secondsPerBar, duration), e) << t << " s of " << duration;
    }
    EXPECT_DOUBLE_EQ(crossfadeLength(1.5), 0.5);  // four tenths of a bar, at most half a second
    EXPECT_DOUBLE_EQ(crossfadeLength(1.0), 0.4);
    EXPECT_EQ(padFrameCount(10.0, rate), 580800u);  // the release and a tenth of a second of tail
    EXPECT_EQ(padFrameCount(89476.0, rate), 4'294'948'800u);
    EXPECT_FALSE(padFrameCount(89477.0, rate));
    EXPECT_NEAR(noteFrequency(48), 130.8128, 1e-4);
    // A slash bass on A sounds note 57, 220 Hz, at its peak a quarter period in, with voice 57.
    EXPECT_FLOAT_EQ(chordSample(9, std::vector<int>{57}, 1.0 / 880.0, 1.0f), 0.07f + 0.05f);
}

// The direct formula: e(t) x the active segment, crossfaded from the one
// before it for the crossfadeLength of its bar after its start.
float referencePad(const std::vector<Segment>& segments, const BarGrid& bars, double duration, double t) {
    const double secondsPerBar = bars.length(0);
    std::size_t a = 0;
    while (a + 1 < segments.size() && segments[a + 1].startTime <= t) ++a;
    const double fade = crossfadeLength(bars.lengthAt(segments[a].startTime) / segments[a].chordsInBar);
    float s = chordSample(segments[a].chord.bass, segments[a].voicing, t, 1.0f);
    if (a > 0 && t - segments[a].startTime < fade) {
        const auto x = static_cast<float>((t - segments[a].startTime) / fade);
        s = chordSample(segments[a - 1].chord.bass, segments[a - 1].voicing, t, 1.0f - x) +
            chordSample(segments[a].chord.bass, segments[a].voicing, t, x);
    }
    return static_cast<float>(envelope(t, secondsPerBar, duration) * s);
}

// The drone's five partials on key A (note 57 = 220 Hz), written out: root,
// third, fifth, octave and tenth, detuned by -8, -4, 0, +4 and +8 cents.
float referenceDroneInA(double secondsPerBar, double duration, double t) {
    float s = 0.0f;
    for (const double f : {220.0 * std::pow(2.0, -8.0 / 1200.0), 220.0 * std::pow(2.0, 4.0 / 12.0 - 4.0 / 1200.0),
                           220.0 * std::pow(2.0, 7.0 / 12.0), 440.0 * std::pow(2.0, 4.0 / 1200.0),
                           440.0 * std::pow(2.0, 4.0 / 12.0 + 8.0 / 1200.0)}) {
        s += 0.05f * static_cast<float>(std::sin(2.0 * std::numbers::pi * f * t));
    }
    return static_cast<float>(envelope(t, secondsPerBar, duration) * s);
}

// Compares `channel` with `reference` at each frame of `ranges` (from, to, step).
template <class Reference>
void expectCloseTo(const PcmBuffer& pad, std::uint32_t channel, const std::vector<std::array<std::uint32_t, 3>>& ranges,
                   Reference reference) {
    float loudest = 0.0f;
    for (const auto& [from, to, step] : ranges) {
        for (std::uint32_t frame = from; frame < std::min(to, pad.frameLength()); frame += step) {
            const float expected = reference(frame / rate);
            ASSERT_NEAR(pad.sample(channel, frame), expected, 1e-6) << "at " << frame / rate << " s";
            loudest = std::max(loudest, std::fabs(expected));
        }
    }
    EXPECT_GT(loudest, 0.1f) << "the compared frames should not all be quiet";
}

TEST(PadRender, AChordChartMatchesTheDirectFormula) {
    // A minute at 120 bpm in 4/4 in E flat after two bars of count-in, a new chord every bar.
    const std::vector<std::string> cycle = {"1", "4/5", "5", "6-", "2-7", "57", "4maj7", "1/3", "b7", "#4dim7"};
    std::vector<std::string> symbols;
    for (int bar = 0; bar < 28; ++bar) symbols.push_back(cycle[bar % cycle.size()]);
    const auto chords = chart(symbols, 3);
    const auto pad = renderPad("E♭", 2.0, 60.0, AudioFormat{rate, 6}, std::vector<std::int64_t>{1, 4}, 2, chords);
    ASSERT_EQ(pad->frameLength(), *padFrameCount(60.0, rate));
    EXPECT_EQ(channelSharing(*pad), (std::vector<int>{-1, 1, -1, -1, 1, -1}));
    const auto segments = buildPadSegments(3, 2.0, 2, chords);
    ASSERT_EQ(segments.size(), 28u);  // bar 0 repeats the count-in's tonic
    // A stride through all of it; every frame of the fade-in, of a stretch across several changes, and of the
    // release and the tail.
    expectCloseTo(*pad, 1, {{0, pad->frameLength(), 1009}, {0, 100'000, 1}, {1'400'000, 1'700'000, 1},
                            {2'879'000, pad->frameLength(), 1}},
                  [&](double t) { return referencePad(segments, 2.0, 60.0, t); });
    // Played a window at a time, in any order: windows from a multiple of 4096 frames give the same samples.
    const auto stream = PadStream::chart("E♭", 2.0, 60.0, AudioFormat{rate, 6}, std::vector<std::int64_t>{1, 4}, 2,
                                         chords);
    for (const auto& [first, count] : {std::pair{4096u * 700, 50000u}, {1'234'567u, 4096u}, {0u, 3 * 4096u}}) {
        const auto window = stream->render(first, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (first % 4096 == 0) ASSERT_EQ(window->sample(4, i), pad->sample(4, first + i)) << first + i;
            ASSERT_NEAR(window->sample(4, i), pad->sample(4, first + i), 1e-6) << first + i;
        }
    }
}

TEST(PadRender, EachChangeCrossfadesOverAPartOfItsOwnBar) {
    // A bar of 2 s, then bars of 0.5 s: the fade-in takes the first, each change a fifth of a second.
    BarGrid bars(2.0);
    bars.change(1, 2.0, 0.5);
    const auto chords = chart({"1", "4", "5", "1"});
    const auto pad = renderPad("C", bars, 4.0, stereo, bothChannels, 1, chords);
    const auto segments = buildPadSegments(0, bars, 1, chords);
    expectCloseTo(*pad, 0, {{0, pad->frameLength(), 1}}, [&](double t) { return referencePad(segments, bars, 4.0, t); });
    // Bars of 2 s, F and G sharing the second: G from frame 144000, crossfading over 0.4 s of its second.
    const std::vector<Segment> split = {{0.0, chord("1"), onC}, {2.0, chord("4"), onF, 2}, {3.0, chord("5"), onG, 2}};
    const auto halves = renderPad("C", 2.0, 4.0, stereo, bothChannels, 0, chart({"1", "[4 5]"}));
    expectCloseTo(*halves, 1, {{0, halves->frameLength(), 1}}, [&](double t) { return referencePad(split, 2.0, 4.0, t); });
}

TEST(PadRender, TheDroneIsADetunedMajorChordOnTheKey) {
    const auto pad = makeDronePad(" a\t", 2.0, 30.0, stereo, bothChannels);
    ASSERT_EQ(pad->frameLength(), *padFrameCount(30.0, rate));
    EXPECT_EQ(channelSharing(*pad), (std::vector<int>{0, 0}));
    expectCloseTo(*pad, 0, {{0, pad->frameLength(), 331}, {1'000'000, 1'010'000, 1}},
                  [](double t) { return referenceDroneInA(2.0, 30.0, t); });
    // A song shorter than a bar is still fading in when the buffer ends.
    const auto shortPad = makeDronePad("A", 4.0, 1.0, stereo, bothChannels);
    ASSERT_EQ(shortPad->frameLength(), 148800u);
    expectCloseTo(*shortPad, 1, {{0, 148800, 1}}, [](double t) { return referenceDroneInA(4.0, 1.0, t); });
}

TEST(PadRender, WithoutAValidChannelThePadIsSilentButFullLength) {
    const std::vector<std::int64_t> nowhere = {-1, 2};
    for (const auto& pad : {renderPad("G", 2.0, 4.0, stereo, nowhere, 0, chart({"1"})),
                            makeDronePad("G", 2.0, 4.0, stereo, nowhere)}) {
        EXPECT_EQ(pad->frameLength(), 292800u);
        EXPECT_EQ(pad->bytesHeld(), 0u);
    }
}

TEST(PadRender, UnknownKeysAndUnusableTimesGiveNoBuffer) {
    const double inf = INFINITY;
    // Key, seconds per bar, duration (too long for a 32-bit frame count at 1e6 s), sample rate.
    for (const auto& [key, secondsPerBar, duration, sampleRate] :
         std::vector<std::tuple<const char*, double, double, double>>{
             {"H", 2, 10, rate}, {"C", inf, 10, rate}, {"C", -2, 10, rate}, {"C", 2, inf, rate}, {"C", 2, -1, rate},
             {"C", 2, 1e6, rate}, {"C", 2, 10, 0}, {"C", 2, 10, inf}}) {
        const AudioFormat format{sampleRate, 2};
        EXPECT_FALSE(makeDronePad(key, secondsPerBar, duration, format, bothChannels)) << secondsPerBar << duration;
        EXPECT_FALSE(renderPad(key, secondsPerBar, duration, format, bothChannels, 0, chart({"1"}))) << sampleRate;
    }
    // A rate too low for a single frame is an empty pad, not a failure.
    EXPECT_EQ(makeDronePad("C", 2.0, 0.0, AudioFormat{0.4, 2}, bothChannels)->frameLength(), 0u);
}

} // namespace
