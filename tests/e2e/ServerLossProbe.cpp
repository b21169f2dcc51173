// Plays on jack:system while the audio server is taken away, then checks that
// stopping returns promptly and that the next start fails with a clear error.
// Prints one line per step; exit status 0 when all went as expected.

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/AudioEngine.hpp"
#include "CadenzoPlayer/audio/DeviceLayer.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace cadenzo;

int main(int argc, char** argv) {
    const double playSeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    DeviceLayer& layer = DeviceLayer::shared();
    std::uint32_t id = 0;
    for (const auto& device : layer.devices()) {
        if (device.uid == "jack:system") id = device.id;
    }
    if (id == 0) {
        std::printf("no jack:system device\n");
        return 1;
    }

    AudioEngine engine;
    engine.selectDevice(id);
    engine.setFormat({48000, 2});
    auto node = std::make_shared<AudioPlayerNode>();
    engine.attach(node);
    auto tone = PcmBuffer::make({48000, 2}, 48000 * 10);
    tone->setFrameLength(48000 * 10);
    float* samples = tone->writableChannel(0);
    for (int i = 0; i < 48000 * 10; ++i) {
        samples[i] = static_cast<float>(0.25 * std::sin(2 * M_PI * 440.0 * i / 48000.0));
    }
    engine.start();
    node->scheduleBuffer(tone);
    node->play();
    std::printf("playing\n");
    std::fflush(stdout);

    std::this_thread::sleep_for(std::chrono::duration<double>(playSeconds));
    const auto before = std::chrono::steady_clock::now();
    engine.stop();
    const double stopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    std::printf("stopped in %.3f s\n", stopSeconds);

    bool listed = false;
    for (const auto& device : layer.devices()) listed = listed || device.uid == "jack:system";
    std::printf("jack:system %s\n", listed ? "still listed" : "no longer listed");

    try {
        engine.start();
        std::printf("restarted without a server\n");
        return 1;
    } catch (const Error& error) {
        std::printf("start failed: %s\n", error.description().c_str());
    }
    return listed ? 1 : 0;
}
