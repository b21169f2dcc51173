#include "CadenzoPlayer/sources/GuideSounds.hpp"

#include "tests/unit/TempFiles.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace cadenzo;
namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::pair<std::string, std::string>>;

TEST(GuideSoundNames, AllNumericNamesAreCounts) {
    // Numeric beyond ASCII too: Arabic-Indic three, Roman numeral four, one half.
    for (const auto& [label, name] : Names{{"3", "count-3"}, {"12", "count-12"}, {"", "count-"}, {"V", "V"},
                                           {"V2", "V2"}, {"2a", "2a"}, {" 2", " 2"}, {"\u0663", "count-\u0663"},
                                           {"\u2163", "count-\u2163"}, {"\u00BD", "count-\u00BD"}, {"\xff", "\xff"}}) {
        EXPECT_EQ(guideSoundFileName(label), name) << label;
    }
}

TEST(GuideSoundNames, TrimmingAndTrailingNumerals) {
    // No-break and ideographic spaces are trimmed; line breaks stay.
    for (const auto& [label, trimmed] :
         Names{{"  Ch\t", "Ch"}, {"\u00A0Out\u3000", "Out"}, {"\nCh\n", "\nCh\n"}, {" \t ", ""}}) {
        EXPECT_EQ(trimGuideLabel(label), trimmed) << label;
    }
    for (const auto& [label, stripped] : Names{{"V2", "V"}, {" V12\t", "V"}, {"Chorus 2", "Chorus "},
                                               {"Verse \u2161", "Verse "}, {"2V", "2V"}, {"42", ""},
                                               {"Caf\u00E9", "Caf\u00E9"}}) {
        EXPECT_EQ(stripTrailingNumerals(label), stripped) << label;
    }
}

struct GuideSoundFiles : ::testing::Test {
    testfiles::TempDir temp;
    fs::path bundleDir = temp.path() / resourceBundleDirectoryName;
    fs::path cues = bundleDir / "GuideSounds";
    fs::path devDir = temp.path() / "guide-sounds" / "female";
    GuideSoundPlaces places{ResourceBundle(bundleDir), std::nullopt};

    GuideSoundFiles() { fs::create_directories(cues); }

    // A short 48 kHz mono tone.
    static void writeCue(const fs::path& file, std::int64_t frames = 4800) {
        testfiles::writeWav(file, 48000, 1, frames, [](std::int64_t i, int) {
            return 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
        });
    }
};

TEST_F(GuideSoundFiles, LabelsFallBackToTheirNameWithoutNumbers) {
    for (const char* name : {"V", "Chorus", "Ch", "Out", "Br2", "Br"}) writeCue(cues / (std::string(name) + ".wav"));

    EXPECT_EQ(resolveGuideSoundFile("V2", places), cues / "V.wav");
    EXPECT_EQ(resolveGuideSoundFile("Br2", places), cues / "Br2.wav");  // an exact file comes first
    EXPECT_EQ(resolveGuideSoundFile("  Ch\t", places), cues / "Ch.wav");
    EXPECT_EQ(resolveGuideSoundFile(" Out ", places), cues / "Out.wav");
    EXPECT_FALSE(resolveGuideSoundFile("Chorus 2", places));  // "Chorus " keeps its space
    EXPECT_FALSE(resolveGuideSoundFile("Bridge", places));
    EXPECT_FALSE(resolveGuideSoundFile("", places));
    EXPECT_FALSE(findGuideSoundFile("V2", places));
}

TEST_F(GuideSoundFiles, CountLabelsUseOnlyCountFiles) {
    writeCue(cues / "2.wav");
    writeCue(cues / "count-.wav");
    EXPECT_FALSE(resolveGuideSoundFile("2", places));
    writeCue(cues / "count-2.wav");
    EXPECT_EQ(resolveGuideSoundFile("2", places), cues / "count-2.wav");
    EXPECT_EQ(resolveGuideSoundFile(" 2 ", places), cues / "count-2.wav");
    EXPECT_FALSE(resolveGuideSoundFile("3", places));
}

TEST_F(GuideSoundFiles, TheDevelopmentDirectoryComesAfterTheBundle) {
    writeCue(devDir / "Solo.wav");
    writeCue(devDir / "V.wav");
    writeCue(cues / "V.wav");
    EXPECT_FALSE(resolveGuideSoundFile("Solo", places));

    places.developmentDirectory = devDir;
    EXPECT_EQ(resolveGuideSoundFile("Solo", places), devDir / "Solo.wav");
    EXPECT_EQ(resolveGuideSoundFile("Solo 2", places), std::nullopt);
    EXPECT_EQ(resolveGuideSoundFile("Solo2", places), devDir / "Solo.wav");
    EXPECT_EQ(resolveGuideSoundFile("V", places), cues / "V.wav");
}

TEST_F(GuideSoundFiles, LabelsCannotReachOutsideTheFolders) {
    writeCue(bundleDir / "Secret.wav");
    writeCue(temp.path() / "guide-sounds" / "Secret.wav");
    places.developmentDirectory = devDir;
    EXPECT_FALSE(resolveGuideSoundFile("../Secret", places));
    EXPECT_FALSE(resolveGuideSoundFile("../../" + bundleDir.filename().string() + "/Secret", places));
    EXPECT_FALSE(resolveGuideSoundFile((bundleDir / "Secret").string(), places));
    EXPECT_FALSE(loadGuideSound("../Secret", places));
}

TEST_F(GuideSoundFiles, StereoAt44100IsMixedDownAndResampled) {
    // Left at 0.8 and right at 0.2 in phase: the average has a peak of 0.5.
    testfiles::writeWav(cues / "Inst.wav", 44100, 2, 44100, [](std::int64_t i, int channel) {
        const float s = static_cast<float>(std::sin(2.0 * std::numbers::pi * 441.0 * static_cast<double>(i) / 44100.0));
        return (channel == 0 ? 0.8f : 0.2f) * s;
    });
    const PcmBufferPtr cue = loadGuideSound("Inst", places);
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->format(), (AudioFormat{48000, 1}));
    EXPECT_EQ(cue->frameCapacity(), 49024u);
    EXPECT_NEAR(cue->frameLength(), 48000.0, 2.0);

    float peak = 0.0f;
    int crossings = 0;
    for (std::uint32_t i = 1000; i < 47000; ++i) {
        peak = std::max(peak, std::fabs(cue->sample(0, i)));
        if ((cue->sample(0, i - 1) < 0.0f) != (cue->sample(0, i) < 0.0f)) ++crossings;
    }
    EXPECT_NEAR(peak, 0.5f, 0.01f);
    // 441 Hz over 46000 frames at 48 kHz: 845 crossings; an unconverted rate would give 920.
    EXPECT_NEAR(crossings, 2.0 * 441.0 * 46000.0 / 48000.0, 3.0);
}

TEST_F(GuideSoundFiles, LabelsSharingAFileShareOneConversion) {
    writeCue(cues / "V.wav", 2400);
    const std::size_t before = guideSoundCache().size();
    const PcmBufferPtr first = loadGuideSound("V1", places);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->frameLength(), 2400u);
    EXPECT_EQ(guideSoundCache().size(), before + 1);

    // The file is not read again: even spoilt on disk, the first conversion stays.
    testfiles::writeText(cues / "V.wav", "spoilt");
    const PcmBufferPtr second = loadGuideSound("V2", places);
    EXPECT_EQ(second, first);
    EXPECT_EQ(loadGuideSound(" V ", places), first);
    EXPECT_EQ(guideSoundCache().size(), before + 1);
    EXPECT_EQ(guideSoundCache().find((cues / "V.wav").string()), first);
}

TEST_F(GuideSoundFiles, AnUnreadableFileIsNotCached) {
    testfiles::writeText(cues / "Tag.wav", "RIFF\x10\0\0\0WAVEjunkjunkjunk");
    const std::size_t before = guideSoundCache().size();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(loadGuideSound("Tag", places));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // not openable as audio: no message
    EXPECT_EQ(guideSoundCache().size(), before);

    // Mended on disk, the next request reads it.
    writeCue(cues / "Tag.wav", 1200);
    const PcmBufferPtr cue = loadGuideSound("Tag", places);
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->frameLength(), 1200u);
}

TEST_F(GuideSoundFiles, AnEmptyFileGivesAnEmptyCue) {
    writeCue(cues / "Drop.wav", 0);
    const PcmBufferPtr cue = readGuideSoundFile(cues / "Drop.wav");
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->frameLength(), 0u);
    EXPECT_FALSE(readGuideSoundFile(cues / "Missing.wav"));
}

TEST(BundledGuideSounds, CountsSectionsAndEndAreSpokenWithinABeat) {
    for (const char* label : {"1", "2", "3", "4", "5", "6", "7", "End", "In", "V", "V2", "Pre", "Ch", "Br", "Out",
                              "Intro", "Verse", "Chorus", "Bridge", "Outro", "Solo", "Inst", "Tag"}) {
        const PcmBufferPtr cue = loadGuideSound(label);
        ASSERT_TRUE(cue) << label;
        EXPECT_GT(cue->frameLength(), 4800u) << label;   // a word, not a blip
        EXPECT_LE(cue->frameLength(), 24000u) << label;  // within one beat at 120 bpm
        float loudest = 0.0f;
        for (std::uint32_t i = 0; i < cue->frameLength(); ++i) {
            loudest = std::max(loudest, std::fabs(cue->sample(0, i)));
        }
        EXPECT_GT(loudest, 0.5f) << label;
    }
    EXPECT_FALSE(resolveGuideSoundFile("8"));
}

TEST(MonoPlacement, CopiesOntoValidListedChannels) {
    auto mono = PcmBuffer::make({48000, 1}, 100);
    ASSERT_TRUE(mono);
    mono->setFrameLength(100);
    float* samples = mono->writableChannel(0);
    ASSERT_TRUE(samples);
    for (int i = 0; i < 100; ++i) samples[i] = static_cast<float>(i) / 100.0f;

    const auto placed = placeMonoOnChannels(*mono, {1, 5, -1, 3}, {48000, 4});
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->frameLength(), 100u);
    for (std::uint32_t i = 0; i < 100; ++i) {
        ASSERT_EQ(placed->sample(1, i), samples[i]);
        ASSERT_EQ(placed->sample(3, i), samples[i]);
    }
    EXPECT_NE(placed->channelData(1), mono->channelData(0));  // a copy, not the cached samples
    EXPECT_EQ(placed->channelData(0), nullptr);
    EXPECT_EQ(placed->channelData(2), nullptr);
    EXPECT_EQ(placed->bytesHeld(), 100u * sizeof(float));

    const auto nowhere = placeMonoOnChannels(*mono, {2, 3}, {48000, 2});
    ASSERT_TRUE(nowhere);
    EXPECT_EQ(nowhere->frameLength(), 100u);
    EXPECT_EQ(nowhere->bytesHeld(), 0u);
}

int zeroCrossings(const PcmBuffer& b, std::uint32_t from, std::uint32_t to) {
    int n = 0;
    for (std::uint32_t i = from + 1; i < to; ++i) n += (b.sample(0, i - 1) < 0.0f) != (b.sample(0, i) < 0.0f);
    return n;
}

TEST(FallbackCue, PitchFollowsTheLabel) {
    const AudioFormat format{48000, 1};
    // h("V") = 86, 86 mod 9 = 5: 595 Hz. The empty label is 320 Hz. "É" hashes its
    // scalar U+00C9 (201 mod 9 = 3: 485 Hz), not its two UTF-8 bytes (760 Hz).
    // h("End") = 69819, mod 9 = 6: 650 Hz.
    for (const auto& [label, frequency] : {std::pair<const char*, double>{"V", 595.0}, {"", 320.0},
                                           {"\u00C9", 485.0}, {"End", 650.0}}) {
        SCOPED_TRACE(label);
        const auto cue = makeFallbackCue(label, format, {0});
        ASSERT_TRUE(cue);
        EXPECT_EQ(cue->frameLength(), 11520u);
        EXPECT_NEAR(zeroCrossings(*cue, 480, 11520), 2.0 * frequency * 11040.0 / 48000.0, 2.0);
        EXPECT_NEAR(cue->sample(0, 480), 0.5 * std::sin(2.0 * std::numbers::pi * frequency * 0.01), 1e-5);
    }
}

TEST(FallbackCue, RisesForTenMillisecondsThenDecays) {
    const auto cue = makeFallbackCue("V", {48000, 1}, {0});
    ASSERT_TRUE(cue);
    const auto envelopeBound = [](std::uint32_t i) {
        const double t = i / 48000.0;
        return i < 480 ? i / 960.0 : 0.5 * std::pow(0.002, (t - 0.01) / 0.23);
    };
    float peak = 0.0f;
    for (std::uint32_t i = 0; i < 11520; ++i) {
        ASSERT_LE(std::fabs(cue->sample(0, i)), envelopeBound(i) + 1e-6) << "frame " << i;
        if (i >= 440 && i < 520) peak = std::max(peak, std::fabs(cue->sample(0, i)));
    }
    EXPECT_GT(peak, 0.48f);  // the envelope reaches 0.5 at frame 480
    float tail = 0.0f;
    for (std::uint32_t i = 11440; i < 11520; ++i) tail = std::max(tail, std::fabs(cue->sample(0, i)));
    EXPECT_NEAR(tail, 0.001f, 0.0002f);
    EXPECT_EQ(cue->sample(0, 0), 0.0f);
}

TEST(FallbackCue, OnlyOnValidListedChannels) {
    const auto cue = makeFallbackCue("Bridge", {48000, 3}, {0, 2, 9});
    ASSERT_TRUE(cue);
    EXPECT_EQ(cue->channelData(0), cue->channelData(2));
    EXPECT_NE(cue->channelData(0), nullptr);
    EXPECT_EQ(cue->channelData(1), nullptr);

    const auto silent = makeFallbackCue("Bridge", {48000, 3}, {});
    ASSERT_TRUE(silent);
    EXPECT_EQ(silent->frameLength(), 11520u);
    EXPECT_EQ(silent->bytesHeld(), 0u);
}

} // namespace
