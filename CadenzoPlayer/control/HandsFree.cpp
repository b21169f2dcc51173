#include "CadenzoPlayer/control/HandsFree.hpp"

#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/dispatch/DelayedTask.hpp"

#include <RtMidi.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <lo/lo.h>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace cadenzo {

namespace {

using Clock = std::chrono::steady_clock;

const std::string noMidiSystem = "No MIDI system on this computer: MIDI control is off";
constexpr std::size_t maxSubscribers = 16;
constexpr auto positionInterval = std::chrono::milliseconds(20);

void ignoreJackMessage(const char*) {}
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// Before the first JACK or ALSA call: never start a server, and keep both
// libraries off the console.
void quietMidiLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 0);
        jack_set_error_function(ignoreJackMessage);
        jack_set_info_function(ignoreJackMessage);
        snd_lib_error_set_handler(ignoreAlsaMessage);
    });
}

// RtMidi writes to stderr when its system is missing before an error callback
// can be set, so the ALSA sequencer is knocked on first (JACK by the watch client).
bool sequencerAnswers() {
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return false;
    snd_seq_close(sequencer);
    return true;
}

} // namespace

struct HandsFree::Peer {
    sockaddr_storage address{};
    socklen_t length = 0;
    bool operator==(const Peer& other) const {
        return length == other.length && std::memcmp(&address, &other.address, length) == 0;
    }
};

struct HandsFree::Midi {
    ~Midi() {
        // libjack crashes closing a client whose server has gone: those are left as they are.
        if (serverGone) {
            (void)port.release();
            (void)hardware.release();
        } else if (watch) {
            jack_client_close(watch);
        }
    }
    // On JACK, a client of our own that hears of the server's going, which RtMidi does not tell; false
    // when no server answers.
    bool watchServer() {
        jack_status_t status{};
        watch = jack_client_open("CadenzoPlayer-watch", JackNoStartServer, &status);
        if (watch) jack_on_shutdown(watch, [](void* self) { static_cast<Midi*>(self)->serverGone = true; }, this);
        return watch != nullptr;
    }

    RtMidi::Api api;
    std::atomic<bool> failed{false};     // RtMidi reported an error
    std::atomic<bool> serverGone{false};
    jack_client_t* watch = nullptr;
    std::unique_ptr<RtMidiIn> port;      // the virtual port
    // Lists the inputs and holds the chosen one; made only for that, as every client of a JACK server
    // runs in each of its cycles.
    std::unique_ptr<RtMidiIn> hardware;
    std::optional<std::string> input;

    RtMidiIn& make(std::unique_ptr<RtMidiIn>& in, const char* client, HandsFree* owner) {
        in = std::make_unique<RtMidiIn>(api, client);
        in->setErrorCallback(
            [](RtMidiError::Type, const std::string&, void* midi) { static_cast<Midi*>(midi)->failed = true; }, this);
        in->setCallback(&HandsFree::midiCallback, owner);
        return *in;
    }
    RtMidiIn& lister(HandsFree* owner) { return hardware ? *hardware : make(hardware, "CadenzoPlayer-input", owner); }
    void dropIdleLister() {
        if (!input) hardware.reset();
    }
};

struct HandsFree::Osc {
    Osc(int socket, int port, RateLimit limit) : socket(socket), port(port), limit(limit) {}
    ~Osc() { close(socket); }

    const int socket;
    const int port;
    RateLimit limit;
    Clock::time_point start = Clock::now();
    std::vector<Peer> subscribers;  // oldest first
    std::optional<PlayPosition> sent;
};

HandsFree::Settings HandsFree::settingsFromEnvironment(const EnvironmentReader& env) {
    Settings settings;
    if (auto port = env("CONTROL_OSC_PORT"); port && !port->empty()) settings.oscPort = *port;
    if (auto bind = env("CONTROL_OSC_BIND"); bind && !bind->empty()) settings.oscBind = *bind;
    return settings;
}

HandsFree::HandsFree(Settings settings, std::function<void(const ControlEvent&)> onEvent,
                     std::function<PlayPosition()> position)
    : settings_(std::move(settings)), onEvent_(std::move(onEvent)), position_(std::move(position)) {
    if (settings_.midi) openMidi();
    openOsc();
}

HandsFree::~HandsFree() {
    stopping_ = true;
    if (oscThread_.joinable()) oscThread_.join();
    {
        // Closing the ports ends RtMidi's threads.
        std::lock_guard lock(midiMutex_);
        midi_.reset();
    }
    cancelLearn();
}

void HandsFree::openMidi() {
    quietMidiLibraries();
    for (const auto api : {RtMidi::UNIX_JACK, RtMidi::LINUX_ALSA}) {
        auto midi = std::make_unique<Midi>();
        midi->api = api;
        if (api == RtMidi::UNIX_JACK ? !midi->watchServer() : !sequencerAnswers()) continue;
        try {
            midi->make(midi->port, clientName, this).openVirtualPort(portName);
        } catch (const RtMidiError&) {
            continue;
        }
        if (midi->failed) continue;
        midi_ = std::move(midi);
        return;
    }
}

void HandsFree::midiCallback(double, std::vector<unsigned char>* bytes, void* owner) {
    if (const auto press = pressOf(*bytes)) static_cast<HandsFree*>(owner)->press(*press);
}

void HandsFree::press(const MidiPress& press) {
    std::function<void(std::optional<MidiPress>)> learnt;
    std::optional<ControlEvent> event;
    {
        std::lock_guard lock(mutex_);
        learnt = std::exchange(learning_, nullptr);
        if (!learnt) event = mappedEvent(mappings_, press);
    }
    if (learnt) learnt(press);
    if (event) onEvent_(*event);
}

nlohmann::json HandsFree::status() {
    using nlohmann::json;
    json midi;
    {
        std::lock_guard lock(midiMutex_);
        // A JACK server that went (or none at the start) may be there now: the port is opened afresh.
        if (settings_.midi && (!midi_ || midi_->serverGone)) {
            midi_.reset();
            openMidi();
        }
        json inputs = json::array();
        if (midi_) {
            RtMidiIn& lister = midi_->lister(this);
            for (unsigned i = 0, count = lister.getPortCount(); i < count; ++i) inputs.push_back(lister.getPortName(i));
            midi_->dropIdleLister();
        }
        const char* system = !midi_ ? nullptr : midi_->api == RtMidi::UNIX_JACK ? "JACK" : "ALSA";
        const std::string message = !settings_.midi ? "MIDI control is off"
                                    : system        ? "MIDI control: \"" + std::string(portName) + "\" on " + system
                                                    : noMidiSystem;
        midi = {{"available", midi_ != nullptr}, {"port", portName}, {"system", system ? json(system) : json()},
                {"inputs", inputs}, {"input", midi_ && midi_->input ? json(*midi_->input) : json()}, {"message", message}};
    }
    json osc{{"port", osc_ ? json(osc_->port) : json()}, {"bind", settings_.oscBind}, {"message", oscMessage_},
             {"received", received_.load()}, {"dropped", dropped_.load()}};
    std::lock_guard lock(mutex_);
    return {{"midi", midi}, {"osc", osc}, {"mappings", toJson(mappings_)}};
}

void HandsFree::setMappings(std::vector<MidiMapping> mappings) {
    std::lock_guard lock(mutex_);
    mappings_ = std::move(mappings);
}

void HandsFree::learn(std::function<void(std::optional<MidiPress>)> done) {
    if (!midi_) throw Error("Control", ControlError::noMidiSystem, noMidiSystem);
    std::unique_lock lock(mutex_);
    auto older = std::exchange(learning_, std::move(done));
    lock.unlock();
    if (older) older(std::nullopt);
}

void HandsFree::cancelLearn() {
    std::unique_lock lock(mutex_);
    auto pending = std::exchange(learning_, nullptr);
    lock.unlock();
    if (pending) pending(std::nullopt);
}

void HandsFree::connectInput(const std::optional<std::string>& name) {
    std::lock_guard lock(midiMutex_);
    if (midi_) {
        midi_->input.reset();
        midi_->dropIdleLister();
    }
    if (!name) return;
    if (midi_) {
        RtMidiIn& lister = midi_->lister(this);
        for (unsigned i = 0, count = lister.getPortCount(); i < count; ++i) {
            if (lister.getPortName(i) != *name) continue;
            lister.openPort(i, "CadenzoPlayer input");
            if (lister.isPortOpen()) midi_->input = name;
            break;
        }
        midi_->dropIdleLister();
    }
    if (!midi_ || !midi_->input) throw Error("Control", ControlError::noMidiInput, "No MIDI input named \"" + *name + "\"");
}

std::optional<int> HandsFree::oscPort() const { return osc_ ? std::optional(osc_->port) : std::nullopt; }

// liblo 0.31 binds every address, so the socket is our own and liblo reads and writes the messages.
void HandsFree::openOsc() {
    if (!settings_.oscPort) {
        oscMessage_ = "OSC control is off (set CONTROL_OSC_PORT)";
        return;
    }
    const std::string& text = *settings_.oscPort;
    const auto fail = [&](const std::string& reason) {
        oscMessage_ = "OSC port " + text + " cannot be opened: " + reason;
        std::cerr << oscMessage_ << std::endl;
    };
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        return fail("not a port number from 1 to 65535");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int status = getaddrinfo(settings_.oscBind.c_str(), std::to_string(port).c_str(), &hints, &found))
        return fail(gai_strerror(status));
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    const int socket = ::socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket < 0 || ::bind(socket, found->ai_addr, found->ai_addrlen) != 0) {
        const std::string reason = std::strerror(errno);
        if (socket >= 0) close(socket);
        return fail(reason);
    }
    osc_ = std::make_unique<Osc>(socket, port, RateLimit(settings_.oscActionsPerSecond, settings_.oscBurst));
    oscMessage_ = "OSC control: udp " + settings_.oscBind + ":" + std::to_string(port);
    oscThread_ = std::thread([this] {
        detail::nameCurrentThread(std::string(applicationIdentifier) + ".osc");
        oscLoop();
    });
}

void HandsFree::oscLoop() {
    std::vector<unsigned char> buffer(65536);
    auto tick = Clock::now();
    while (!stopping_) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(tick - Clock::now()).count();
        pollfd ready{osc_->socket, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(std::clamp<long long>(wait, 0, positionInterval.count()))) > 0) {
            // Not all of a flood at once: the position must still go out.
            for (int i = 0; i < 64 && !stopping_; ++i) {
                Peer from;
                from.length = sizeof from.address;
                const auto size = recvfrom(osc_->socket, buffer.data(), buffer.size(), 0,
                                           reinterpret_cast<sockaddr*>(&from.address), &from.length);
                if (size < 0) break;
                receive(buffer.data(), static_cast<std::size_t>(size), from);
            }
        }
        if (Clock::now() >= tick) {
            if (!osc_->subscribers.empty()) sendPosition(nullptr);
            tick = Clock::now() + positionInterval;
        }
    }
}

void HandsFree::receive(const unsigned char* data, std::size_t size, const Peer& from, int depth) {
    if (size >= 16 && std::memcmp(data, "#bundle", 8) == 0 && depth < 4) {
        // The elements in order, their times ignored: a switch acts when it arrives.
        std::size_t at = 16;
        while (at + 4 <= size) {
            const std::size_t length = std::size_t{data[at]} << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
            if (length > size - at - 4) break;
            receive(data + at + 4, length, from, depth + 1);
            at += 4 + length;
        }
        if (at == size) return;
        size = 0;  // cut short: counted as one malformed message
    }
    ++received_;
    int result = 0;
    const std::unique_ptr<std::remove_pointer_t<lo_message>, decltype(&lo_message_free)> message(
        size ? lo_message_deserialise(const_cast<unsigned char*>(data), size, &result) : nullptr, lo_message_free);
    if (!message) {
        ++dropped_;
        return;
    }
    const char* types = lo_message_get_types(message.get());
    lo_arg** values = lo_message_get_argv(message.get());
    std::vector<std::optional<double>> arguments;
    for (int i = 0; i < lo_message_get_argc(message.get()); ++i) {
        const bool number = std::strchr("ifhd", types[i]) != nullptr;
        arguments.push_back(number ? std::optional(static_cast<double>(lo_hires_val(lo_type(types[i]), values[i])))
                                   : std::nullopt);
    }
    const auto command = oscCommand(reinterpret_cast<const char*>(data), arguments);
    using Kind = OscCommand::Kind;
    if (command.kind == Kind::release) return;
    const double now = std::chrono::duration<double>(Clock::now() - osc_->start).count();
    if (command.kind == Kind::invalid || !osc_->limit.allow(now)) {
        ++dropped_;
        return;
    }
    if (command.kind == Kind::action) return onEvent_(command.event);
    auto& subscribers = osc_->subscribers;
    std::erase(subscribers, from);
    if (command.kind == Kind::subscribe) {
        subscribers.push_back(from);
        if (subscribers.size() > maxSubscribers) subscribers.erase(subscribers.begin());
        sendPosition(&subscribers.back());
    }
}

// To every subscriber when the position changed, else only to one that just came.
void HandsFree::sendPosition(const Peer* newcomer) {
    const PlayPosition position = position_();
    const bool changed = position != osc_->sent;
    if (!changed && !newcomer) return;
    osc_->sent = position;
    lo_message message = lo_message_new();
    lo_message_add_string(message, position.playing ? "playing" : "stopped");
    lo_message_add_string(message, position.song.c_str());
    lo_message_add_int32(message, static_cast<std::int32_t>(position.section));
    lo_message_add_string(message, position.sectionName.c_str());
    lo_message_add_int32(message, static_cast<std::int32_t>(position.bar));
    lo_message_add_int32(message, static_cast<std::int32_t>(position.beat));
    std::size_t length = 0;
    void* bytes = lo_message_serialise(message, "/cadenzo/state", nullptr, &length);
    for (const Peer& peer : osc_->subscribers) {
        if (changed || &peer == newcomer)
            sendto(osc_->socket, bytes, length, 0, reinterpret_cast<const sockaddr*>(&peer.address), peer.length);
    }
    std::free(bytes);
    lo_message_free(message);
}

} // namespace cadenzo
