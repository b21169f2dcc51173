#include "CadenzoPlayer/resource_bundle_accessor.hpp"

#include "tests/unit/TempFiles.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace cadenzo;
namespace fs = std::filesystem;

namespace {

struct Places : ::testing::Test {
    testfiles::TempDir temp;
    fs::path resources = temp.path() / "share" / "cadenzo-player";
    fs::path exeDir = temp.path() / "bin";

    fs::path makeBundle(const fs::path& where) {
        const fs::path bundle = where / resourceBundleDirectoryName;
        fs::create_directories(bundle);
        return bundle;
    }
};

TEST_F(Places, TheFirstPlaceHoldingTheBundleDirectoryWins) {
    // A file with the bundle's name is no bundle; unknown places and places
    // that do not exist are skipped.
    testfiles::writeText(resources / resourceBundleDirectoryName, "not a directory");
    EXPECT_FALSE(findResourceBundle({resources}));
    const fs::path beside = makeBundle(exeDir);
    EXPECT_EQ(findResourceBundle({std::nullopt, temp.path() / "nowhere", resources, std::nullopt, exeDir})
                  .value()
                  .directory(),
              beside);

    fs::remove(resources / resourceBundleDirectoryName);
    const fs::path installed = makeBundle(resources);
    EXPECT_EQ(findResourceBundle({resources, std::nullopt, exeDir}).value().directory(), installed);
}

TEST_F(Places, NoBundleAnywhereEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_FALSE(findResourceBundle({}));
    EXPECT_FALSE(findResourceBundle({std::nullopt, resources, exeDir}));
    EXPECT_EXIT(requireResourceBundle({resources, exeDir}), ::testing::ExitedWithCode(EXIT_FAILURE),
                "^unable to find bundle named CadenzoPlayer_CadenzoPlayer\n$");
}

TEST_F(Places, ResourcesAreFilesInsideTheBundle) {
    const ResourceBundle bundle(makeBundle(exeDir));
    testfiles::writeText(bundle.directory() / "bridge-test.html", "<html></html>");
    testfiles::writeText(bundle.directory() / "GuideSounds" / "V.wav", "RIFF");
    testfiles::writeText(bundle.directory() / "GuideSounds" / "README", "cues");
    testfiles::writeText(exeDir / "Secret.wav", "RIFF");
    fs::create_directories(bundle.directory() / "GuideSounds" / "Ch.wav");

    EXPECT_EQ(bundle.path("bridge-test", "html"), bundle.directory() / "bridge-test.html");
    EXPECT_EQ(bundle.path("V", "wav", "GuideSounds"), bundle.directory() / "GuideSounds" / "V.wav");
    EXPECT_EQ(bundle.path("README", "", "GuideSounds"), bundle.directory() / "GuideSounds" / "README");
    EXPECT_FALSE(bundle.path("V", "wav"));                  // not in that folder
    EXPECT_FALSE(bundle.path("Out", "wav", "GuideSounds")); // absent
    EXPECT_FALSE(bundle.path("Ch", "wav", "GuideSounds"));  // a directory, not a file
    EXPECT_FALSE(bundle.path("", "html"));

    // Names that would reach outside the bundle find nothing.
    EXPECT_FALSE(bundle.path("../Secret", "wav"));
    EXPECT_FALSE(bundle.path("../../bin/Secret", "wav", "GuideSounds"));
    EXPECT_FALSE(bundle.path("Secret", "wav", ".."));
    EXPECT_FALSE(bundle.path("Secret", "wav", exeDir.string()));
    EXPECT_FALSE(bundle.path("GuideSounds/V", "wav"));
}

TEST(ResourceBundleCandidates, InstalledResourcesThenCodeThenExecutable) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    const auto candidates = resourceBundleCandidates();
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0], (exe.parent_path() / ".." / "share" / "cadenzo-player").lexically_normal());
    // The core is linked into this test program, so its code lives in the executable.
    if (candidates[1]) {
        EXPECT_EQ(*candidates[1], exe.parent_path());
    }
    EXPECT_EQ(candidates[2], exe.parent_path());
}

TEST(ResourceBundle, OneBundleBesideTheProgramsForTheWholeProcess) {
    const ResourceBundle* seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = &resourceBundle(); });
    for (auto& t : threads) t.join();
    for (const ResourceBundle* bundle : seen) EXPECT_EQ(bundle, &resourceBundle());

    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(resourceBundle().directory(), exe.parent_path() / resourceBundleDirectoryName);
    EXPECT_TRUE(resourceBundle().path("V", "wav", "GuideSounds"));
}

} // namespace
