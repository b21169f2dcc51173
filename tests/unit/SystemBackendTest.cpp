#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/SystemDeviceBackends.hpp"
#include "VirtualDeviceFixture.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <unistd.h>

using namespace cadenzo;

namespace {

struct NullCallback final : DeviceRenderCallback {
    void renderDevice(float* const*, std::uint32_t, std::uint32_t) noexcept override {}
} nullCallback;

} // namespace

TEST(CompositeBackend, ListsApisInOrderWithOneDefaultAndOpensThroughTheOwner) {
    auto jack = std::make_shared<RefusingBackend>(std::vector<BackendDevice>{{"jack:system", "system", 8, true}},
                                                  "fake", "jack");
    auto alsa = std::make_shared<RefusingBackend>(
        std::vector<BackendDevice>{{"alsa:hw:A,0", "hw:A,0", 2, true}, {"alsa:hw:B,0", "hw:B,0", 4, false}}, "fake",
        "alsa");
    CompositeDeviceBackend composite({jack, alsa});
    EXPECT_EQ(composite.devices(), (std::vector<BackendDevice>{{"jack:system", "system", 8, true},
                                                               {"alsa:hw:A,0", "hw:A,0", 2, false},
                                                               {"alsa:hw:B,0", "hw:B,0", 4, false}}));
    const auto open = [&](const char* uid) {
        return errorText([&] { composite.openStream(uid, 48000, nullCallback); });
    };
    EXPECT_EQ(open("alsa:hw:B,0"), "AudioEngine 4: Could not open output device alsa:hw:B,0: fake");
    EXPECT_EQ(alsa->opened, std::vector<std::string>{"alsa:hw:B,0"});
    EXPECT_TRUE(jack->opened.empty());
    EXPECT_EQ(open("pulse:Sink"), "AudioEngine 4: Could not open output device pulse:Sink: no such device");
}

TEST(SystemBackend, WithoutAJackServerListsNoJackDevicesStartsNoneAndStaysQuiet) {
    const char* previous = std::getenv("JACK_DEFAULT_SERVER");
    const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    const std::string absent = "cadenzo-unit-absent-" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);

    // Captured at the descriptors, so whatever the audio libraries print shows too.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto backend = DeviceLayer::makeSystemBackend();
    const auto devices = backend->devices();
    const auto failure = errorText([&] { backend->openStream("jack:system", 48000, nullCallback); });
    backend.reset();
    const std::string console = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    saved ? setenv("JACK_DEFAULT_SERVER", saved->c_str(), 1) : unsetenv("JACK_DEFAULT_SERVER");

    for (const auto& device : devices) EXPECT_NE(uidApi(device.uid), "jack") << device.uid;
    EXPECT_EQ(failure, "AudioEngine 4: Could not open output device jack:system: the JACK server is not running");
    EXPECT_EQ(console, "");
    EXPECT_STREQ(std::getenv("JACK_NO_START_SERVER"), "1");  // so no server was started either
}
