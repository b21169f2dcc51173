// A foot switch and a tablet for the press-to-sound benchmark (bench/run) and the end-to-end tests:
//
//   control_probe midi STATUS DATA1 DATA2 [--listen SOURCE_PORT]
//       sends one MIDI message into the JACK port "CadenzoPlayer control" (waiting up to 10 s for it); with
//       --listen it then waits up to 10 s for sound on SOURCE_PORT and prints
//       "sound after N frames (X ms), period P" counted from the start of the cycle that carried the message.
//   control_probe osc PORT ADDRESS [i:N | f:X | s:TEXT]...    one OSC message to 127.0.0.1:PORT
//   control_probe garbage PORT                                 one UDP packet that is not OSC
//   control_probe flood PORT COUNT ADDRESS                     COUNT messages without arguments, back to back
//   control_probe watch PORT SECONDS                           subscribes and prints each /cadenzo/state
//                                                              received, one line each; status 1 if none came
#include <jack/jack.h>
#include <jack/midiport.h>
#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Midi {
    jack_client_t* client = nullptr;
    jack_port_t* out = nullptr;
    jack_port_t* in = nullptr;
    unsigned char message[3] = {};
    std::atomic<bool> pending{false}, sent{false}, heard{false};
    std::atomic<jack_nframes_t> sentFrame{0}, heardFrame{0};
} midi;

int process(jack_nframes_t frames, void*) {
    void* buffer = jack_port_get_buffer(midi.out, frames);
    jack_midi_clear_buffer(buffer);
    const jack_nframes_t cycle = jack_last_frame_time(midi.client);
    if (midi.pending.exchange(false)) {
        jack_midi_event_write(buffer, 0, midi.message, 3);
        midi.sentFrame = cycle;
        midi.sent = true;
    } else if (midi.in && midi.sent && !midi.heard) {
        const auto* samples = static_cast<const float*>(jack_port_get_buffer(midi.in, frames));
        for (jack_nframes_t i = 0; i < frames; ++i)
            if (std::fabs(samples[i]) > 0.01f) {
                midi.heardFrame = cycle + i;
                midi.heard = true;
                break;
            }
    }
    return 0;
}

template <class Condition>
bool await(Condition condition, double seconds) {
    for (const auto start = Clock::now(); Clock::now() - start < std::chrono::duration<double>(seconds);
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (condition()) return true;
    return false;
}

int sendMidi(int status, int data1, int data2, const char* listen) {
    midi.client = jack_client_open("control_probe", JackNoStartServer, nullptr);
    if (!midi.client) return std::fprintf(stderr, "control_probe: no JACK server\n"), 2;
    midi.out = jack_port_register(midi.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (listen) midi.in = jack_port_register(midi.client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(midi.client, process, nullptr);
    if (jack_activate(midi.client) != 0) return std::fprintf(stderr, "control_probe: cannot activate\n"), 2;
    std::string target;
    await([&] {
        const char** ports = jack_get_ports(midi.client, "CadenzoPlayer control", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
        if (ports && ports[0]) target = ports[0];
        jack_free(ports);
        return !target.empty();
    }, 10);
    if (target.empty()) return std::fprintf(stderr, "control_probe: no port \"CadenzoPlayer control\"\n"), 1;
    if (jack_connect(midi.client, jack_port_name(midi.out), target.c_str()) != 0 ||
        (listen && jack_connect(midi.client, listen, jack_port_name(midi.in)) != 0))
        return std::fprintf(stderr, "control_probe: cannot connect\n"), 1;
    // A connection is made between cycles; the message goes out in a cycle after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    midi.message[0] = static_cast<unsigned char>(status);
    midi.message[1] = static_cast<unsigned char>(data1);
    midi.message[2] = static_cast<unsigned char>(data2);
    midi.pending = true;
    int result = await([] { return midi.sent.load(); }, 5) ? 0 : 1;
    if (listen && result == 0) {
        if (await([] { return midi.heard.load(); }, 10)) {
            const jack_nframes_t frames = midi.heardFrame - midi.sentFrame;
            std::printf("sound after %u frames (%.1f ms), period %u\n", frames,
                        1000.0 * frames / jack_get_sample_rate(midi.client), jack_get_buffer_size(midi.client));
        } else {
            std::printf("no sound\n");
            result = 1;
        }
    }
    jack_client_close(midi.client);
    return result;
}

int sendOsc(const char* port, int argc, char** argv) {
    lo_address to = lo_address_new("127.0.0.1", port);
    lo_message message = lo_message_new();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("i:", 0) == 0) lo_message_add_int32(message, std::atoi(arg.c_str() + 2));
        else if (arg.rfind("f:", 0) == 0) lo_message_add_float(message, static_cast<float>(std::atof(arg.c_str() + 2)));
        else if (arg.rfind("s:", 0) == 0) lo_message_add_string(message, arg.c_str() + 2);
        else return 2;
    }
    const int sent = lo_send_message(to, argv[0], message);
    lo_message_free(message);
    lo_address_free(to);
    return sent < 0 ? 1 : 0;
}

int sendGarbage(const char* port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port)));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // An address without its terminating zero, then a type tag that promises more than the packet holds.
    const char packet[] = "/cadenzo/pla\x01\x02,iiii\0\0\0\x07";
    const auto sent = sendto(fd, packet, sizeof packet - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
    return sent < 0 ? 1 : 0;
}

int flood(const char* port, int count, const char* address) {
    lo_address to = lo_address_new("127.0.0.1", port);
    for (int i = 0; i < count; ++i) lo_send(to, address, "");
    lo_address_free(to);
    return 0;
}

std::atomic<int> states{0};

int onState(const char*, const char* types, lo_arg** argv, int argc, lo_message, void*) {
    if (argc != 6 || std::strcmp(types, "ssisii") != 0) {
        std::printf("state with types %s\n", types);
    } else {
        std::printf("state %s \"%s\" section %d \"%s\" bar %d beat %d\n", &argv[0]->s, &argv[1]->s, argv[2]->i,
                    &argv[3]->s, argv[4]->i, argv[5]->i);
    }
    std::fflush(stdout);
    ++states;
    return 0;
}

int watch(const char* port, double seconds) {
    lo_server_thread server = lo_server_thread_new(nullptr, nullptr);
    if (!server) return 2;
    lo_server_thread_add_method(server, "/cadenzo/state", nullptr, onState, nullptr);
    lo_server_thread_start(server);
    lo_address to = lo_address_new("127.0.0.1", port);
    lo_send_from(to, lo_server_thread_get_server(server), LO_TT_IMMEDIATE, "/cadenzo/subscribe", "");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    lo_server_thread_stop(server);
    lo_server_thread_free(server);
    lo_address_free(to);
    return states > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "midi" && (argc == 5 || (argc == 7 && std::strcmp(argv[5], "--listen") == 0)))
        return sendMidi(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argc == 7 ? argv[6] : nullptr);
    if (command == "osc" && argc >= 4) return sendOsc(argv[2], argc - 3, argv + 3);
    if (command == "garbage" && argc == 3) return sendGarbage(argv[2]);
    if (command == "flood" && argc == 5) return flood(argv[2], std::atoi(argv[3]), argv[4]);
    if (command == "watch" && argc == 4) return watch(argv[2], std::atof(argv[3]));
    std::fprintf(stderr, "usage: control_probe midi|osc|garbage|flood|watch ...\n");
    return 2;
}
