#include "CadenzoPlayer/sources/PadPlayer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

namespace cadenzo {
static void PrintTo(const PadChord& chord, std::ostream* os) {
    *os << "root " << chord.root << " tones [";
    for (std::size_t i = 0; i < chord.tones.size(); ++i) *os << (i ? ", " : "") << chord.tones[i];
    *os << "] bass " << (chord.bass ? std::to_string(*chord.bass) : "none");
}
} // namespace cadenzo

using namespace cadenzo;
using namespace cadenzo::PadPlayer;

namespace {

constexpr double rate = 48000.0;
const AudioFormat stereo{rate, 2};
const std::vector<std::int64_t> bothChannels = {0, 1};

using Chart = std::vector<std::optional<PadChord>>;

Chart chart(const std::vector<std::string>& symbols, int key = 0) {
    Chart chords;
    for (const auto& symbol : symbols) chords.push_back(parseChord(symbol, key));
    return chords;
}

PadChord chord(const std::string& symbol, int key = 0) {
    return parseChord(symbol, key).value();
}

// The voicings of C, F and G in C, each voice nearest its anchor.
const Voicing onC = {48, 52, 55, 60, 64};
const Voicing onF = {53, 57, 60, 65, 69};
const Voicing onG = {43, 47, 50, 55, 59};

void expectSegments(const std::vector<Segment>& segments,
                    const std::vector<std::tuple<double, PadChord, Voicing>>& expected) {
    ASSERT_EQ(segments.size(), expected.size());
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& [startTime, chord, voicing] = expected[i];
        EXPECT_DOUBLE_EQ(segments[i].startTime, startTime) << "segment " << i;
        EXPECT_EQ(segments[i].chord, chord) << "segment " << i;
        EXPECT_EQ(segments[i].voicing, voicing) << "segment " << i;
    }
}

TEST(PadVoicing, AnchorsAndTonicFollowTheKey) {
    EXPECT_EQ(anchorNotes(0), onC);
    EXPECT_EQ(anchorNotes(10), (Voicing{58, 62, 65, 70, 74}));
    EXPECT_EQ(tonicChord(0), chord("1"));
    EXPECT_EQ(tonicChord(10), (PadChord{10, {10, 2, 5}, {}}));
}

TEST(PadVoicing, VoicesMoveToTheNearestTargetAroundTheirAnchor) {
    const Voicing c = anchorNotes(0);
    // Every voice of F# is a tritone from its anchor and goes down.
    EXPECT_EQ(voiceLead(std::vector<int>{6, 10, 1}, c, c), (Voicing{42, 46, 49, 54, 58}));
    // Voice 3 takes the seventh when there is one.
    EXPECT_EQ(voiceLead(chord("57").tones, c, c), (Voicing{43, 47, 50, 65, 59}));
    EXPECT_EQ(voiceLead(chord("4").tones, c, c), onF);
    // A target a fifth above the anchor is reached by going down a fourth.
    EXPECT_EQ(voiceLead(chord("5").tones, c, c), onG);
}

TEST(PadVoicing, AVoiceAlreadyOnItsToneHoldsItsNote) {
    const Voicing c = anchorNotes(0);
    // Voices 1 and 2 already sound the third and fifth of A minor, far from their anchors.
    EXPECT_EQ(voiceLead(chord("6-").tones, Voicing{48, 72, 40, 60, 64}, c), (Voicing{45, 72, 40, 57, 60}));
    EXPECT_EQ(voiceLead(chord("6-").tones, c, c), (Voicing{45, 48, 52, 57, 60}));
    EXPECT_EQ(voiceLead(chord("1").tones, Voicing{72, 40, 67, 84, 76}, c), (Voicing{72, 40, 67, 84, 76}));
    // From G7 to G only voice 3 changes: the seventh becomes the root.
    EXPECT_EQ(voiceLead(chord("5").tones, Voicing{43, 47, 50, 65, 59}, c), onG);
    // A chord without tones leaves the voicing alone.
    EXPECT_EQ(voiceLead(std::vector<int>{}, Voicing{43, 47, 50, 65, 59}, c), (Voicing{43, 47, 50, 65, 59}));
}

TEST(PadSegments, CountInHoldsTheTonicAndRepeatsDoNotRestart) {
    // Key C, chart 1 4 5 1, two bars of count-in at 2.0 s per bar.
    expectSegments(buildPadSegments(0, 2.0, 2, chart({"1", "4", "5", "1"})),
                   {{0.0, chord("1"), onC}, {6.0, chord("4"), onF}, {8.0, chord("5"), onG}, {10.0, chord("1"), onC}});
    // With a count-in the first chord waits for its bar.
    expectSegments(buildPadSegments(0, 2.0, 1, chart({"4"})), {{0.0, chord("1"), onC}, {2.0, chord("4"), onF}});
}

TEST(PadSegments, ASlashBassAloneStartsASegmentWithTheSameVoicing) {
    expectSegments(buildPadSegments(0, 2.0, 0, chart({"1", "1/3", "1/3", "1"})),
                   {{0.0, chord("1"), onC}, {2.0, (PadChord{0, {0, 4, 7}, 4}), onC}, {6.0, chord("1"), onC}});
}

TEST(PadSegments, WithoutCountInTheFirstChordSoundsFromTheStart) {
    expectSegments(buildPadSegments(0, 2.0, 0, chart({"4", "4", "1"})),
                   {{0.0, chord("4"), onF}, {4.0, chord("1"), onC}});
    // An absent first chord is the tonic; so is an absent chord later on.
    expectSegments(buildPadSegments(0, 2.0, 0, Chart{std::nullopt, chord("4"), std::nullopt}),
                   {{0.0, chord("1"), onC}, {2.0, chord("4"), onF}, {4.0, chord("1"), onC}});
    expectSegments(buildPadSegments(7, 2.0, 0, {}), {{0.0, tonicChord(7), anchorNotes(7)}});
}

TEST(PadSegments, VoicingsStayInTheKeysRegister) {
    // A long wandering chart never drifts: every note is within a tritone of its anchor.
    const Chart chords = chart({"1", "4", "b7", "b3", "b6", "b2", "#4-", "7dim", "3", "6", "2", "5", "1"}, 9);
    const Voicing anchors = anchorNotes(9);
    for (const Segment& segment : buildPadSegments(9, 1.5, 0, chords)) {
        for (std::size_t v = 0; v < 5; ++v) {
            EXPECT_GE(segment.voicing[v], anchors[v] - 6);
            EXPECT_LE(segment.voicing[v], anchors[v] + 5);
        }
    }
}

TEST(PadSound, ChordSampleSumsVoicesAndBass) {
    // Note 69 is 440 Hz: a quarter period in it is at its peak.
    const double quarter = 1.0 / (4.0 * 440.0);
    EXPECT_FLOAT_EQ(chordSample(std::nullopt, std::vector<int>{69}, quarter, 1.0f), 0.05f);
    EXPECT_FLOAT_EQ(chordSample(std::nullopt, std::vector<int>{69}, quarter, 0.5f), 0.025f);
    EXPECT_FLOAT_EQ(chordSample(std::nullopt, std::vector<int>{69, 81}, quarter, 1.0f), 0.05f);  // 880 Hz at 0
    // The slash bass sounds from note 48: A is note 57, 220 Hz.
    EXPECT_FLOAT_EQ(chordSample(9, std::vector<int>{}, 1.0 / 880.0, 1.0f), 0.07f);
    EXPECT_FLOAT_EQ(chordSample(9, std::vector<int>{57}, 1.0 / 880.0, 1.0f), 0.07f + 0.05f);
    EXPECT_EQ(chordSample(std::nullopt, std::vector<int>{48, 52, 55}, 0.0, 1.0f), 0.0f);
    EXPECT_DOUBLE_EQ(noteFrequency(69), 440.0);
    EXPECT_NEAR(noteFrequency(48), 130.8128, 1e-4);
}

TEST(PadSound, EnvelopeFadesInOverABarAndReleasesOverTwoSeconds) {
    EXPECT_EQ(padFrameCount(10.0, rate), 580800u);
    EXPECT_DOUBLE_EQ(envelope(0.0, 2.0, 10.0), 0.0);
    EXPECT_DOUBLE_EQ(envelope(0.5, 2.0, 10.0), 0.25);
    EXPECT_DOUBLE_EQ(envelope(2.0, 2.0, 10.0), 1.0);
    EXPECT_DOUBLE_EQ(envelope(10.0, 2.0, 10.0), 1.0);
    EXPECT_DOUBLE_EQ(envelope(11.5, 2.0, 10.0), 0.25);
    EXPECT_DOUBLE_EQ(envelope(12.0, 2.0, 10.0), 0.0);
    EXPECT_DOUBLE_EQ(envelope(12.09, 2.0, 10.0), 0.0);
    // A song shorter than a bar still fades in over the whole bar.
    EXPECT_DOUBLE_EQ(envelope(3.0, 4.0, 1.0), 0.75);
    EXPECT_DOUBLE_EQ(envelope(4.0, 4.0, 1.0), 0.0);
}

TEST(PadSound, CrossfadeIsFourTenthsOfABarAtMostHalfASecond) {
    EXPECT_DOUBLE_EQ(crossfadeLength(1.5), 0.5);  // 120 bpm in 3/4: capped
    EXPECT_DOUBLE_EQ(crossfadeLength(1.0), 0.4);
    EXPECT_DOUBLE_EQ(crossfadeLength(0.5), 0.2);  // 240 bpm in 2/4
}

// The direct formula: e(t) x the active segment, crossfaded from the one
// before it for crossfadeLength after its start.
float referencePad(const std::vector<Segment>& segments, double secondsPerBar, double duration, std::uint32_t frame) {
    const double t = frame / rate;
    std::size_t a = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].startTime <= t) a = i;
    }
    const double fade = crossfadeLength(secondsPerBar);
    float s = 0.0f;
    if (a == 0 || t - segments[a].startTime >= fade) {
        s = chordSample(segments[a].chord.bass, segments[a].voicing, t, 1.0f);
    } else {
        const auto x = static_cast<float>((t - segments[a].startTime) / fade);
        s = chordSample(segments[a - 1].chord.bass, segments[a - 1].voicing, t, 1.0f - x) +
            chordSample(segments[a].chord.bass, segments[a].voicing, t, x);
    }
    return static_cast<float>(envelope(t, secondsPerBar, duration) * s);
}

std::vector<std::uint32_t> frameRange(std::uint32_t from, std::uint32_t to, std::uint32_t step = 1) {
    std::vector<std::uint32_t> frames;
    for (std::uint32_t f = from; f < to; f += step) frames.push_back(f);
    return frames;
}

template <class Reference>
void expectCloseTo(const PcmBuffer& pad, std::uint32_t channel, const std::vector<std::uint32_t>& frames,
                   Reference reference) {
    const float* samples = pad.channelData(channel);
    ASSERT_NE(samples, nullptr);
    double worst = 0.0;
    double loudest = 0.0;
    std::uint32_t worstFrame = 0;
    for (std::uint32_t frame : frames) {
        ASSERT_LT(frame, pad.frameLength());
        const float expected = reference(frame);
        const double error = std::fabs(static_cast<double>(samples[frame]) - expected);
        if (error > worst) worst = error, worstFrame = frame;
        loudest = std::max(loudest, std::fabs(static_cast<double>(expected)));
    }
    EXPECT_LE(worst, 1e-6) << "worst at frame " << worstFrame << " (" << worstFrame / rate << " s) of "
                           << frames.size();
    EXPECT_GT(loudest, 0.1) << "the compared frames should not all be quiet";
}

// Frames spread over a whole pad: a stride through everything, every frame
// around each chord change and through its crossfade, the fade-in, the
// release and the silent tail.
std::vector<std::uint32_t> framesToCompare(const std::vector<Segment>& segments, double secondsPerBar,
                                           double duration, std::uint32_t length) {
    std::vector<std::uint32_t> frames;
    auto add = [&](double from, double to, std::uint32_t step) {
        const auto first = static_cast<std::int64_t>(std::max(0.0, from * rate));
        const auto last = std::min<std::int64_t>(static_cast<std::int64_t>(to * rate), length);
        for (std::int64_t f = first; f < last; f += step) frames.push_back(static_cast<std::uint32_t>(f));
    };
    add(0.0, length / rate, 1009);
    add(0.0, secondsPerBar, 97);
    const double fade = crossfadeLength(secondsPerBar);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const double start = segments[i].startTime;
        add(start - 0.001, start + 0.002, 1);
        add(start, start + fade, 61);
        add(start + fade - 0.001, start + fade + 0.001, 1);
    }
    add(duration - 0.01, length / rate, 7);
    return frames;
}

TEST(PadRender, LongChartMatchesTheDirectFormula) {
    // Five minutes at 120 bpm in 4/4 after a two-bar count-in, a new chord in every bar.
    const std::vector<std::string> cycle = {"1", "4/5", "5", "6-", "2-7", "57", "4maj7", "1/3", "b7", "#4dim7"};
    std::vector<std::string> symbols;
    for (int bar = 0; bar < 148; ++bar) symbols.push_back(cycle[bar % cycle.size()]);
    const Chart chords = chart(symbols, 3);
    const double secondsPerBar = 2.0;
    const double duration = 300.0;

    const std::vector<std::int64_t> channels = {1, 4};
    const auto pad = renderPad("E♭", secondsPerBar, duration, AudioFormat{rate, 6}, channels, 2, chords);
    ASSERT_TRUE(pad);
    ASSERT_EQ(pad->frameLength(), *padFrameCount(duration, rate));
    EXPECT_EQ(pad->frameCapacity(), pad->frameLength());
    EXPECT_EQ(pad->channelData(1), pad->channelData(4));

    const auto segments = buildPadSegments(3, secondsPerBar, 2, chords);
    ASSERT_EQ(segments.size(), 148u);  // bar 0 repeats the count-in's tonic
    const auto reference = [&](std::uint32_t frame) { return referencePad(segments, secondsPerBar, duration, frame); };
    expectCloseTo(*pad, 1, framesToCompare(segments, secondsPerBar, duration, pad->frameLength()), reference);
    // A stretch of every frame across several chord changes in the middle.
    expectCloseTo(*pad, 1, frameRange(7'000'000, 7'300'000), reference);

    // The tail after the release is silent.
    for (auto f = static_cast<std::uint32_t>((duration + 2.0) * rate); f < pad->frameLength(); ++f) {
        ASSERT_EQ(pad->sample(1, f), 0.0f) << "frame " << f;
    }
}

TEST(PadRender, FastBarsCrossfadeOverFourTenthsOfABar) {
    // 240 bpm in 2/4: half-second bars, 0.2 s crossfades, no count-in.
    const Chart chords = chart({"1", "5", "6-", "4", "1/3", "2-", "57", "1", "4", "5"});
    const double duration = 5.0;
    const auto pad = renderPad("C", 0.5, duration, stereo, bothChannels, 0, chords);
    ASSERT_TRUE(pad);
    const auto segments = buildPadSegments(0, 0.5, 0, chords);
    expectCloseTo(*pad, 0, frameRange(0, pad->frameLength()),
                  [&](std::uint32_t frame) { return referencePad(segments, 0.5, duration, frame); });
}

// The drone's five partials on key A (note 57 = 220 Hz), written out: root,
// third, fifth, octave and tenth, detuned by -8, -4, 0, +4 and +8 cents.
float referenceDroneInA(double secondsPerBar, double duration, std::uint32_t frame) {
    const double partials[5] = {
        220.0 * std::pow(2.0, -8.0 / 1200.0),
        220.0 * std::pow(2.0, 4.0 / 12.0) * std::pow(2.0, -4.0 / 1200.0),
        220.0 * std::pow(2.0, 7.0 / 12.0),
        440.0 * std::pow(2.0, 4.0 / 1200.0),
        440.0 * std::pow(2.0, 4.0 / 12.0) * std::pow(2.0, 8.0 / 1200.0),
    };
    const double t = frame / rate;
    float s = 0.0f;
    for (double f : partials) s += 0.05f * static_cast<float>(std::sin(2.0 * std::numbers::pi * f * t));
    return static_cast<float>(envelope(t, secondsPerBar, duration) * s);
}

TEST(PadRender, DroneIsADetunedMajorChordOnTheKey) {
    const double duration = 120.0;
    const auto pad = makeDronePad(" a\t", 2.0, duration, stereo, bothChannels);
    ASSERT_TRUE(pad);
    EXPECT_EQ(pad->frameLength(), *padFrameCount(duration, rate));
    auto frames = frameRange(0, pad->frameLength(), 331);
    for (std::uint32_t f : frameRange(5'000'000, 5'010'000)) frames.push_back(f);
    expectCloseTo(*pad, 0, frames, [&](std::uint32_t frame) { return referenceDroneInA(2.0, duration, frame); });
}

TEST(PadRender, ASongShorterThanABarIsStillFadingInWhenTheBufferEnds) {
    const auto pad = makeDronePad("A", 4.0, 1.0, stereo, bothChannels);
    ASSERT_TRUE(pad);
    ASSERT_EQ(pad->frameLength(), 148800u);
    expectCloseTo(*pad, 1, frameRange(0, pad->frameLength()),
                  [](std::uint32_t frame) { return referenceDroneInA(4.0, 1.0, frame); });
}

TEST(PadRouting, OnlyListedChannelsSoundAndShareOneArray) {
    const AudioFormat sixteen{rate, 16};
    const std::vector<std::int64_t> channels = {3, 9, -1, 16, 99, 3};
    const auto chordPad = renderPad("G", 2.0, 4.0, sixteen, channels, 0, chart({"1", "4"}, 7));
    const auto dronePad = makeDronePad("G", 2.0, 4.0, sixteen, channels);
    for (const auto& pad : {chordPad, dronePad}) {
        ASSERT_TRUE(pad);
        EXPECT_EQ(pad->format(), sixteen);
        ASSERT_NE(pad->channelData(3), nullptr);
        EXPECT_EQ(pad->channelData(9), pad->channelData(3));
        for (std::uint32_t c = 0; c < 16; ++c) {
            if (c != 3 && c != 9) {
                EXPECT_EQ(pad->channelData(c), nullptr) << "channel " << c;
            }
        }
        EXPECT_EQ(pad->bytesHeld(), pad->frameLength() * sizeof(float));
        float loudest = 0.0f;
        for (std::uint32_t f = 0; f < pad->frameLength(); ++f) {
            loudest = std::max(loudest, std::fabs(pad->sample(9, f)));
        }
        EXPECT_GT(loudest, 0.1f);
    }
}

TEST(PadRouting, NoValidChannelGivesAFullLengthSilentBuffer) {
    const std::vector<std::vector<std::int64_t>> lists = {{}, {-1, 2, 40}};
    for (const auto& channels : lists) {
        const auto chordPad = renderPad("C", 2.0, 10.0, stereo, channels, 0, chart({"1"}));
        const auto dronePad = makeDronePad("C", 2.0, 10.0, stereo, channels);
        for (const auto& pad : {chordPad, dronePad}) {
            ASSERT_TRUE(pad);
            EXPECT_EQ(pad->frameLength(), 580800u);
            EXPECT_EQ(pad->channelData(0), nullptr);
            EXPECT_EQ(pad->channelData(1), nullptr);
            EXPECT_EQ(pad->bytesHeld(), 0u);
        }
    }
}

TEST(PadRejects, UnknownKeysAndUnusableTimesGiveNoBuffer) {
    const Chart chords = chart({"1"});
    for (const char* key : {"H", "Am", "", "C#m"}) {
        EXPECT_FALSE(makeDronePad(key, 2.0, 10.0, stereo, bothChannels)) << key;
        EXPECT_FALSE(renderPad(key, 2.0, 10.0, stereo, bothChannels, 0, chords)) << key;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Duration: not finite, negative, or too long for a 32-bit frame count.
    for (double duration : {nan, inf, -inf, -1.0, 1.0e6}) {
        EXPECT_FALSE(makeDronePad("C", 2.0, duration, stereo, bothChannels)) << duration;
        EXPECT_FALSE(renderPad("C", 2.0, duration, stereo, bothChannels, 0, chords)) << duration;
    }
    for (double secondsPerBar : {nan, inf, -2.0}) {
        EXPECT_FALSE(makeDronePad("C", secondsPerBar, 10.0, stereo, bothChannels)) << secondsPerBar;
        EXPECT_FALSE(renderPad("C", secondsPerBar, 10.0, stereo, bothChannels, 0, chords)) << secondsPerBar;
    }
    for (double sampleRate : {0.0, -48000.0, nan, inf}) {
        EXPECT_FALSE(makeDronePad("C", 2.0, 10.0, AudioFormat{sampleRate, 2}, bothChannels)) << sampleRate;
    }
    // A rate too low for a single frame is an empty pad, not a failure.
    const auto empty = makeDronePad("C", 2.0, 0.0, AudioFormat{0.4, 2}, bothChannels);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->frameLength(), 0u);
    // Counts up to the 32-bit limit are fine.
    EXPECT_EQ(padFrameCount(89476.0, rate), 4'294'948'800u);
    EXPECT_FALSE(padFrameCount(89477.0, rate));
}

} // namespace
