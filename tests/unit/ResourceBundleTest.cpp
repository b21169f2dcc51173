#include "CadenzoPlayer/resource_bundle_accessor.hpp"

#include "tests/unit/TempFiles.hpp"

#include <gtest/gtest.h>

using namespace cadenzo;
namespace fs = std::filesystem;

TEST(ResourceBundle, TheFirstPlaceHoldingTheBundleWinsAndFindsOnlyFilesInsideIt) {
    const testfiles::TempDir temp;
    const fs::path share = temp.path() / "share", bin = temp.path() / "bin";
    // A file with the bundle's name is no bundle; unknown places and places that do not exist are skipped.
    testfiles::writeText(share / resourceBundleDirectoryName, "not a directory");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(requireResourceBundle({share, bin}), testing::ExitedWithCode(EXIT_FAILURE),
                "^unable to find bundle named CadenzoPlayer_CadenzoPlayer\n$");
    for (const char* file : {"bridge-test.html", "GuideSounds/V.wav", "GuideSounds/README", "../Secret.wav"})
        testfiles::writeText(bin / resourceBundleDirectoryName / file, "RIFF");
    fs::create_directories(bin / resourceBundleDirectoryName / "GuideSounds" / "Ch.wav");
    const ResourceBundle bundle = *findResourceBundle({std::nullopt, temp.path() / "nowhere", share, bin});
    EXPECT_EQ(bundle.directory(), bin / resourceBundleDirectoryName);
    fs::remove(share / resourceBundleDirectoryName);
    fs::create_directories(share / resourceBundleDirectoryName);
    EXPECT_EQ(findResourceBundle({share, bin})->directory(), share / resourceBundleDirectoryName);

    // Names that would reach outside the bundle, directories and files elsewhere find nothing.
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"bridge-test", "html", "", "bridge-test.html"}, {"V", "wav", "GuideSounds", "GuideSounds/V.wav"},
        {"README", "", "GuideSounds", "GuideSounds/README"}, {"V", "wav", "", nullptr}, {"Out", "wav", "GuideSounds", nullptr},
        {"Ch", "wav", "GuideSounds", nullptr}, {"", "html", "", nullptr}, {"../Secret", "wav", "", nullptr},
        {"../../bin/Secret", "wav", "GuideSounds", nullptr}, {"Secret", "wav", "..", nullptr},
        {"Secret", "wav", bin.c_str(), nullptr}, {"GuideSounds/V", "wav", "", nullptr}};
    for (const auto& [name, extension, folder, found] : cases)
        EXPECT_EQ(bundle.path(name, extension, folder), found ? std::optional(bundle.directory() / found) : std::nullopt) << name;

    // The process looks in its installed resources, then beside the file holding its code (here the executable itself),
    // then beside the executable, where the build puts the bundle.
    const fs::path programs = fs::read_symlink("/proc/self/exe").parent_path();
    auto candidates = resourceBundleCandidates();
    candidates.at(1) = candidates.at(1).value_or(programs);  // unknown when the program was started by a relative name
    const fs::path installed = (programs / ".." / "share" / "cadenzo-player").lexically_normal();
    EXPECT_EQ(candidates, (std::vector<std::optional<fs::path>>{installed, programs, programs}));
    EXPECT_EQ(resourceBundle().directory(), programs / resourceBundleDirectoryName);
    EXPECT_TRUE(resourceBundle().path("V", "wav", "GuideSounds"));
}
