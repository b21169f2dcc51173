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
    void renderDevice(float* const*, std::uint32_t, std::uint32_t, std::int64_t) noexcept override {}
} nullCallback;

} // namespace

TEST(CompositeBackend, ListsApisInOrderWithOneDefaultAndOpensThroughTheOwner) {
    using Devices = std::vector<BackendDevice>;
    // Each api's backend refuses in the api's name, so that the refusal tells who was asked.
    const auto api = [](const char* name, Devices list) { return std::make_shared<RefusingBackend>(list, name, name); };
    CompositeDeviceBackend composite({api("jack", {{"jack:system", "system", 8, true}}),
                                      api("alsa", {{"alsa:A", "A", 2, true}, {"alsa:B", "B", 4, false}})});
    EXPECT_EQ(composite.devices(),
              (Devices{{"jack:system", "system", 8, true}, {"alsa:A", "A", 2, false}, {"alsa:B", "B", 4, false}}));
    for (const auto& [uid, why] : {std::pair{"alsa:B", "alsa"}, {"jack:system", "jack"}, {"pulse:A", "no such device"}})
        EXPECT_EQ(errorText([&, uid = uid] { composite.openStream(uid, 48000, nullCallback); }),
                  std::string("AudioEngine 4: Could not open output device ") + uid + ": " + why);
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
