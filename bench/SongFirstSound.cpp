// The wait a player hears: from calling play on a song of MINUTES minutes to
// the first non-zero sample the device takes, on a virtual device that plays
// in real time in blocks of 256 frames (5.3 ms). Then the song plays on for a
// few seconds, so that the pad is fed as it is in playback, and the process's
// peak resident memory is read: one song length per process.
//
//   cadenzo_first_sound MINUTES
// prints: play_to_sound_ms play_returned_ms peak_rss_kib

#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/audio/VirtualDeviceBackend.hpp"
#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

using namespace cadenzo;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t channelCount = 4;

// 120 bpm in 4/4, eight-bar sections, a chord change every bar, the pad on one channel.
SongSettings songOf(std::int64_t minutes) {
    SongSettings song;
    song.clickChannels = {0};
    song.guideChannels = {1};
    song.padChannels = {2};
    song.totalChannels = channelCount;
    song.tempo = 120;
    song.padKey = "C";
    const char* labels[] = {"V", "Ch"};
    for (std::int64_t bars = 0; bars < minutes * 30; bars += 8) {
        song.entries.push_back({labels[song.entries.size() % 2], std::min<std::int64_t>(8, minutes * 30 - bars)});
    }
    const char* chords[] = {"1", "4", "5", "6-", "2-7", "57", "4maj7", "1/3"};
    song.padChords.emplace();
    for (std::int64_t bar = 0; bar < minutes * 30; ++bar) song.padChords->push_back(chords[bar % 8]);
    return song;
}

bool anySound(const std::vector<std::vector<float>>& recording, std::size_t from) {
    for (const auto& channel : recording) {
        if (std::any_of(channel.begin() + static_cast<std::ptrdiff_t>(std::min(from, channel.size())), channel.end(),
                        [](float sample) { return sample != 0.0f; })) {
            return true;
        }
    }
    return false;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::int64_t minutes = argc > 1 ? std::atoll(argv[1]) : 0;
    if (minutes < 1) {
        std::fprintf(stderr, "usage: cadenzo_first_sound MINUTES\n");
        return 2;
    }
    auto backend = std::make_shared<VirtualDeviceBackend>(VirtualDeviceBackend::Mode::realTime, 256);
    backend->addDevice("Stage", channelCount);
    auto previous = setDeviceBackendForTesting(backend);
    const CoreAudioDevices::Device device{DeviceLayer::shared().idForUid(VirtualDeviceBackend::uidFor("Stage")),
                                          "virtual:Stage", "Stage", channelCount};
    const SongSettings song = songOf(minutes);
    std::ostringstream log;
    auto player = SongPlayer::make(log);

    const Clock::time_point start = Clock::now();
    try {
        player->play(device, song);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "play failed: %s\n", error.what());
        return 1;
    }
    const double returned = millisecondsSince(start);
    double sounded = -1.0;
    std::size_t checked = 0;
    while (sounded < 0.0 && millisecondsSince(start) < 10'000.0) {
        const std::size_t frames = backend->recordedFrames("Stage");
        if (frames > checked) {
            if (anySound(backend->recording("Stage"), checked)) sounded = millisecondsSince(start);
            checked = frames;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // Playing on, with the recording kept short so that it does not count as the player's memory.
    for (int i = 0; i < 30; ++i) {
        backend->clearRecording("Stage");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    player->stop();
    player->state();
    player.reset();
    setDeviceBackendForTesting(previous);
    if (sounded < 0.0) {
        std::fprintf(stderr, "no sound within 10 s\n");
        return 1;
    }
    std::printf("%.2f %.2f %ld\n", sounded, returned, usage.ru_maxrss);
    return 0;
}
