#include "CadenzoPlayer/playback/PlayWait.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/audio/DeviceBackend.hpp"

#include <algorithm>
#include <cmath>

namespace cadenzo {

namespace {
// Short enough to notice a lost device within a second, long enough that
// waking to look costs next to nothing.
constexpr double stepSeconds = 0.2;
} // namespace

PlayProgress engineProgress(const AudioEngine& engine, const AudioPlayerNode& node) {
    return {node.playedFrames(), !engine.isRunning(), engine.deviceUid(), engine.hasLostDevice()};
}

std::string lostDeviceText(const std::string& uid) {
    return "Lost the output device " + uidName(uid) + " (" + uid +
           "): it was unplugged, or its audio server stopped";
}

void waitUntilPlayed(const std::function<PlayProgress()>& progress, double seconds,
                     const std::function<void(double seconds)>& wait, const std::string& domain, int lostCode) {
    // Whole frames, so that what is left is never less than one frame.
    const double target = seconds > 0 ? std::ceil(seconds * engineSampleRate) : 0.0;
    std::int64_t lastPlayed = -1;
    double step = 0, silentFor = 0;
    for (;;) {
        const PlayProgress now = progress();
        silentFor = now.playedFrames == lastPlayed ? silentFor + step : 0;
        if (now.deviceLost || silentFor >= silentDeviceSeconds) {
            throw Error(domain, lostCode, lostDeviceText(now.deviceUid));
        }
        if (now.ended || static_cast<double>(now.playedFrames) >= target) return;
        lastPlayed = now.playedFrames;
        step = std::min(stepSeconds, (target - static_cast<double>(now.playedFrames)) / engineSampleRate);
        wait(step);
    }
}

} // namespace cadenzo
