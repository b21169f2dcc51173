#pragma once

#include "CadenzoPlayer/control/Control.hpp"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace cadenzo {

// Where the playing song is, as tablets are told it.
struct PlayPosition {
    bool playing = false;
    std::string song;
    std::int64_t section = 0;      // from 1; 0 in the count-in
    std::string sectionName;       // "Count-in" in the count-in, "" when stopped
    std::int64_t bar = 0;          // from 1, within the section or the count-in
    std::int64_t beat = 0;         // from 1
    friend bool operator==(const PlayPosition&, const PlayPosition&) = default;
};

// The live inputs: a virtual MIDI port (JACK, else ALSA, else none), one
// chosen hardware MIDI input, and an OSC port. Each action goes to `onEvent`
// on the input's own thread (RtMidi's, or the OSC thread); the owner posts it
// on. OSC subscribers are sent the position whenever it changes, from the OSC
// thread, which asks `position` every 20 ms while anyone subscribes.
class HandsFree {
public:
    struct Settings {
        bool midi = true;
        std::optional<std::string> oscPort;  // 1-65535; unset: no OSC
        std::string oscBind = "127.0.0.1";
        double oscActionsPerSecond = 20;
        double oscBurst = 10;
    };
    using EnvironmentReader = std::function<std::optional<std::string>(std::string_view name)>;
    // CONTROL_OSC_PORT and CONTROL_OSC_BIND; empty is unset.
    static Settings settingsFromEnvironment(const EnvironmentReader& env);

    // Not the audio client's name: JACK would rename whichever of the two came second.
    static constexpr const char* clientName = "CadenzoPlayer-control";
    static constexpr const char* portName = "CadenzoPlayer control";

    // An OSC port that cannot be opened leaves OSC off and says why on stderr, once.
    HandsFree(Settings settings, std::function<void(const ControlEvent&)> onEvent,
              std::function<PlayPosition()> position);
    // Stops the threads and closes the ports; no callback runs after it returns.
    ~HandsFree();
    HandsFree(const HandsFree&) = delete;
    HandsFree& operator=(const HandsFree&) = delete;

    // {"midi":{...},"osc":{...},"mappings":[...]}
    nlohmann::json status();
    void setMappings(std::vector<MidiMapping> mappings);
    // The next press goes to `done` instead of acting; nullopt when cancelled
    // (by cancelLearn, a newer learn or the destructor). Throws without MIDI.
    void learn(std::function<void(std::optional<MidiPress>)> done);
    void cancelLearn();
    // A hardware input by its listed name; nullopt disconnects. Throws for a name not listed.
    void connectInput(const std::optional<std::string>& name);
    std::optional<int> oscPort() const;

private:
    struct Midi;
    struct Osc;
    struct Peer;

    void openMidi();
    static void midiCallback(double seconds, std::vector<unsigned char>* bytes, void* owner);
    void press(const MidiPress& press);
    void openOsc();
    void oscLoop();
    void receive(const unsigned char* data, std::size_t size, const Peer& from, int depth = 0);
    void sendPosition(const Peer* newcomer);

    const Settings settings_;
    const std::function<void(const ControlEvent&)> onEvent_;
    const std::function<PlayPosition()> position_;

    std::mutex mutex_;  // mappings_ and learning_, shared with the MIDI thread
    std::vector<MidiMapping> mappings_ = defaultMidiMappings();
    std::function<void(std::optional<MidiPress>)> learning_;

    std::mutex midiMutex_;  // the ports
    std::unique_ptr<Midi> midi_;
    std::unique_ptr<Osc> osc_;
    std::string oscMessage_;
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<bool> stopping_{false};
    std::thread oscThread_;
};

} // namespace cadenzo
