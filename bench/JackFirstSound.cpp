// Listens to a JACK server's monitor ports (what its device was given) and
// prints the wall time, in seconds since the epoch, of the first non-zero
// sample: "ready" once connected, then the time, then it exits.
//
// Monitor ports carry in one cycle what the device was given in the one
// before, which is the cycle in which the device plays it; the time is that
// cycle's start, as this client sees it, plus the sample's place in it.
// A playback port that nothing feeds leaves its monitor port holding the last
// sound it was given, so this client feeds every playback port silence and
// listens only once a whole cycle has come back silent.
//
//   cadenzo_jack_first_sound [SECONDS]   gives up (status 1) after SECONDS, 60 by default

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Listener {
    std::vector<jack_port_t*> ports;
    std::vector<jack_port_t*> silence;
    double sampleRate = 48000.0;
    std::atomic<bool> connected{false};
    std::atomic<bool> listening{false};
    std::atomic<bool> heard{false};
    std::atomic<std::int64_t> heardAtNs{0};
};

std::int64_t wallClockNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int process(jack_nframes_t frames, void* argument) {
    auto& listener = *static_cast<Listener*>(argument);
    for (jack_port_t* port : listener.silence) {
        std::fill_n(static_cast<float*>(jack_port_get_buffer(port, frames)), frames, 0.0f);
    }
    if (listener.heard.load(std::memory_order_relaxed) || !listener.connected.load(std::memory_order_acquire)) return 0;
    const std::int64_t cycleStart = wallClockNs();
    jack_nframes_t first = frames;
    for (jack_port_t* port : listener.ports) {
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(port, frames));
        for (jack_nframes_t i = 0; i < first; ++i) {
            if (samples[i] != 0.0f) {
                first = i;
                break;
            }
        }
    }
    if (!listener.listening.load(std::memory_order_relaxed)) {
        if (first == frames) listener.listening.store(true, std::memory_order_release);
        return 0;
    }
    if (first == frames) return 0;
    listener.heardAtNs = cycleStart + static_cast<std::int64_t>(first * 1e9 / listener.sampleRate);
    listener.heard.store(true, std::memory_order_release);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const double limit = argc > 1 ? std::atof(argv[1]) : 60.0;
    jack_client_t* client = jack_client_open("cadenzo-bench-ear", JackNoStartServer, nullptr);
    if (!client) {
        std::fprintf(stderr, "cadenzo_jack_first_sound: no JACK server\n");
        return 1;
    }
    Listener listener;
    listener.sampleRate = jack_get_sample_rate(client);
    const char** monitors = jack_get_ports(client, "^system:monitor_", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    const char** playbacks = jack_get_ports(client, "^system:playback_", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput);
    for (int i = 0; monitors && monitors[i]; ++i) {
        const std::string name = "in_" + std::to_string(i + 1);
        listener.ports.push_back(
            jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    }
    for (int i = 0; playbacks && playbacks[i]; ++i) {
        const std::string name = "silence_" + std::to_string(i + 1);
        listener.silence.push_back(
            jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    }
    if (listener.ports.empty()) {
        std::fprintf(stderr, "cadenzo_jack_first_sound: the server has no monitor ports\n");
        return 1;
    }
    jack_set_process_callback(client, process, &listener);
    if (jack_activate(client) != 0) return 1;
    for (std::size_t i = 0; i < listener.ports.size(); ++i) {
        if (jack_connect(client, monitors[i], jack_port_name(listener.ports[i])) != 0) return 1;
    }
    for (std::size_t i = 0; i < listener.silence.size(); ++i) {
        if (jack_connect(client, jack_port_name(listener.silence[i]), playbacks[i]) != 0) return 1;
    }
    jack_free(monitors);
    jack_free(playbacks);
    listener.connected.store(true, std::memory_order_release);
    const auto connectedBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!listener.listening.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < connectedBy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!listener.listening) {
        std::fprintf(stderr, "cadenzo_jack_first_sound: the device never fell silent\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    while (!listener.heard.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    jack_client_close(client);
    if (!listener.heard) return 1;
    const std::int64_t at = listener.heardAtNs;
    std::printf("%lld.%09lld\n", static_cast<long long>(at / 1'000'000'000), static_cast<long long>(at % 1'000'000'000));
    return 0;
}
