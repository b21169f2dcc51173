#include "CadenzoPlayer/sources/GuideSounds.hpp"

#include "tests/unit/TempFiles.hpp"
#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace cadenzo;
namespace fs = std::filesystem;

namespace {

TEST(GuideSoundNames, CountsTrimmingAndTrailingNumerals) {
    // Numeric beyond ASCII too: Arabic-Indic three, Roman numerals, one half. No-break and
    // ideographic spaces are trimmed; line breaks stay.
    using Names = std::vector<std::pair<std::string, std::string>>;
    for (const auto& [label, name] : Names{{"12", "count-12"}, {"", "count-"}, {"V2", "V2"}, {"2a", "2a"}, {" 2", " 2"},
                                           {"\u0663\u2163\u00BD", "count-\u0663\u2163\u00BD"}, {"\xff", "\xff"}}) {
        EXPECT_EQ(guideSoundFileName(label), name) << label;
    }
    for (const auto& [label, trimmed] : Names{{"\u00A0Out\u3000", "Out"}, {"\nCh\n", "\nCh\n"}, {" \t ", ""}}) {
        EXPECT_EQ(trimGuideLabel(label), trimmed) << label;
    }
    for (const auto& [label, stripped] :
         Names{{" V12\t", "V"}, {"Verse \u2161", "Verse "}, {"2V", "2V"}, {"42", ""}, {"Caf\u00E9", "Caf\u00E9"}}) {
        EXPECT_EQ(stripTrailingNumerals(label), stripped) << label;
    }
}

struct GuideSoundFiles : ::testing::Test {
    testfiles::TempDir temp;
    fs::path bundleDir = temp.path() / resourceBundleDirectoryName;
    fs::path cues = bundleDir / "GuideSounds";
    fs::path devDir = temp.path() / "guide-sounds" / "female";
    GuideSoundPlaces places{ResourceBundle(bundleDir), std::nullopt};

    // A 48 kHz mono tone of 440 Hz.
    static void writeCue(const fs::path& file, std::int64_t frames = 4800) {
        testfiles::writeWav(file, 48000, 1, frames, [](std::int64_t i, int) {
            return 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
        });
    }
};

TEST_F(GuideSoundFiles, ALabelFindsItsOwnFileThenItsNameWithoutNumbers) {
    for (const std::string name : {"V", "Ch", "Br2", "Br", "2", "count-", "count-2"}) writeCue(cues / (name + ".wav"));
    for (const std::string name : {"female/Solo", "female/V", "Secret"}) writeCue(devDir / ".." / (name + ".wav"));
    writeCue(bundleDir / "Secret.wav");
    EXPECT_FALSE(resolveGuideSoundFile("Solo", places));
    places.developmentDirectory = devDir;  // looked in after the bundle
    const std::vector<std::pair<std::string, std::optional<fs::path>>> cases = {
        {"V2", cues / "V.wav"}, {"Br2", cues / "Br2.wav"}, {"  Ch\t", cues / "Ch.wav"}, {" 2 ", cues / "count-2.wav"},
        {"Solo2", devDir / "Solo.wav"}, {"V", cues / "V.wav"},
        // A space before the numbers stays; counts only use count files; nothing outside the folders.
        {"Solo 2", {}}, {"3", {}}, {"Bridge", {}}, {"../Secret", {}}, {(bundleDir / "Secret").string(), {}},
        {"../../" + bundleDir.filename().string() + "/Secret", {}}};
    for (const auto& [label, file] : cases) EXPECT_EQ(resolveGuideSoundFile(label, places), file) << label;
    EXPECT_FALSE(loadGuideSound("../Secret", places));
}

TEST_F(GuideSoundFiles, StereoAt44100IsMixedDownAndResampled) {
    // Left at 0.8 and right at 0.2 in phase: the average is 0.5 x a 441 Hz sine, to be had at 48 kHz.
    testfiles::writeWav(cues / "Inst.wav", 44100, 2, 44100, [](std::int64_t i, int channel) {
        return (channel == 0 ? 0.8f : 0.2f) * static_cast<float>(std::sin(2.0 * std::numbers::pi * i / 100.0));
    });
    const PcmBufferPtr cue = loadGuideSound("Inst", places);
    ASSERT_EQ(cue->format(), (AudioFormat{48000, 1}));
    EXPECT_EQ(cue->frameCapacity(), 49024u);
    ASSERT_EQ(cue->frameLength(), 48000u);
    for (std::uint32_t i = 100; i < 47900; ++i) {
        ASSERT_NEAR(cue->sample(0, i), 0.5 * std::sin(2.0 * std::numbers::pi * 441.0 * i / 48000.0), 1e-4) << i;
    }
}

TEST_F(GuideSoundFiles, EachFileIsConvertedOnceButAFailureIsNotKept) {
    writeCue(cues / "V.wav", 2400);
    testfiles::writeText(cues / "Tag.wav", "RIFF\x10\0\0\0WAVEjunkjunkjunk");
    const std::size_t before = guideSoundCache().size();
    const PcmBufferPtr first = loadGuideSound("V1", places);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->frameLength(), 2400u);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(loadGuideSound("Tag", places));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");  // not openable as audio: no message
    EXPECT_EQ(guideSoundCache().size(), before + 1);
    // Spoilt on disk, V stays as first converted; mended, Tag is read.
    testfiles::writeText(cues / "V.wav", "spoilt");
    writeCue(cues / "Tag.wav", 1200);
    EXPECT_EQ(loadGuideSound(" V2 ", places), first);
    EXPECT_EQ(guideSoundCache().find((cues / "V.wav").string()), first);
    EXPECT_EQ(loadGuideSound("Tag", places)->frameLength(), 1200u);
    writeCue(cues / "Drop.wav", 0);
    const PcmBufferPtr empty = readGuideSoundFile(cues / "Drop.wav");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->frameLength(), 0u);
}

TEST(GuideSounds, BundledCountsSectionsAndEndAreSpokenWithinABeat) {
    for (const char* label : {"1", "2", "3", "4", "5", "6", "7", "End", "In", "V", "V2", "Pre", "Ch", "Br", "Out",
                              "Intro", "Verse", "Chorus", "Bridge", "Outro", "Solo", "Inst", "Tag"}) {
        const PcmBufferPtr cue = loadGuideSound(label);
        ASSERT_TRUE(cue) << label;
        EXPECT_GT(cue->frameLength(), 4800u) << label;   // a word, not a blip
        EXPECT_LE(cue->frameLength(), 24000u) << label;  // within one beat at 120 bpm
        EXPECT_GT(peak({cue->channelData(0), cue->channelData(0) + cue->frameLength()}), 0.5f) << label;
    }
    EXPECT_FALSE(resolveGuideSoundFile("8"));
}

TEST(GuideSounds, AMissingCueIsABeepPitchedByItsLabel) {
    // h("V") = 86, 86 mod 9 = 5: 595 Hz. The empty label is 320 Hz. "É" hashes its
    // scalar U+00C9 (201 mod 9 = 3: 485 Hz), not its two UTF-8 bytes (760 Hz).
    // h("End") = 69819, mod 9 = 6: 650 Hz.
    for (const auto& [label, frequency] : {std::pair<const char*, double>{"V", 595.0}, {"", 320.0},
                                           {"\u00C9", 485.0}, {"End", 650.0}}) {
        const auto cue = makeFallbackCue(label, {48000, 3}, {0, 2, 9});
        ASSERT_EQ(cue->frameLength(), 11520u);
        EXPECT_EQ(channelSharing(*cue), (std::vector<int>{0, -1, 0}));
        // Rises to 0.5 over 10 ms, then decays to 0.001 at 240 ms.
        for (std::uint32_t i = 0; i < 11520; ++i) {
            const double t = i / 48000.0;
            const double envelope = i < 480 ? i / 960.0 : 0.5 * std::pow(0.002, (t - 0.01) / 0.23);
            ASSERT_NEAR(cue->sample(2, i), envelope * std::sin(2.0 * std::numbers::pi * frequency * t), 1e-6) << label;
        }
    }
    EXPECT_EQ(makeFallbackCue("Bridge", {48000, 3}, {})->bytesHeld(), 0u);
}

} // namespace
