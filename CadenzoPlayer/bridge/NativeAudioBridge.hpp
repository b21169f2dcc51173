#pragma once

#include "CadenzoPlayer/bridge/Protocol.hpp"
#include "CadenzoPlayer/control/HandsFree.hpp"
#include "CadenzoPlayer/dispatch/SerialQueue.hpp"
#include "CadenzoPlayer/playback/Device.hpp"
#include "CadenzoPlayer/playback/SongPlayer.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cadenzo {

// Runs script text in the hosted page: the web view, or a stand-in in tests.
class ScriptTarget {
public:
    virtual ~ScriptTarget() = default;
    // Fire and forget: the script's value and errors are not wanted.
    virtual void evaluateScript(const std::string& script) = 0;
};

// The native end of the page's `nativeAudio` channel. Every request it can
// identify gets exactly one result, always delivered on the main thread.
// Device listing, stop and mute are answered before handleMessage returns;
// the test tone, starting a song and changing its levels run on the shared
// pool and answer when they are done; the library and saved files are read
// and written one request at a time, in order, on a queue of their own. The
// only results nobody asked for are "deviceLost", when the playing song's device
// goes away, and "control", an action from a foot switch or an OSC client.
// Main thread only, except for the work it hands off.
class NativeAudioBridge : public std::enable_shared_from_this<NativeAudioBridge> {
public:
    // How the tone's thread waits while the tone sounds; by default it sleeps.
    using ToneWait = std::function<void(double seconds)>;

    // Where the library and the files the page saves go.
    struct Folders {
        std::filesystem::path library;
        std::filesystem::path documents;
        std::filesystem::path music;
        // The library's folder under $XDG_DATA_HOME, files in the user's documents folder, exported songs
        // in the music folder.
        static Folders fromEnvironment();
    };

    // Background work holds the bridge, so it always lives in a shared_ptr.
    static std::shared_ptr<NativeAudioBridge> make(ToneWait toneWait = {},
                                                   Folders folders = Folders::fromEnvironment());

    // Results go to this page from now on. Held weakly: the bridge never
    // keeps the page alive, and drops results once it is gone.
    void setWebView(std::weak_ptr<ScriptTarget> webView);

    // One posted value, as a JSON value or as the JSON text of it (text that
    // is not JSON, such as an empty text for `undefined`, is malformed).
    void handleMessage(const nlohmann::json& body);
    void handleMessageText(std::string_view bodyJson);

    // The device a request names, from a fresh enumeration: by uid first,
    // then by name fragment.
    std::optional<CoreAudioDevices::Device> resolveDevice(const BridgeProtocol::DeviceSelection& selection) const;

    // Delivers one result to the page, or drops it silently when the page is
    // gone or the result has no JSON form.
    void sendResult(nlohmann::json result, const std::optional<nlohmann::json>& requestId);

    const std::shared_ptr<SongPlayer>& player() const { return player_; }

    // Takes MIDI and OSC control from now on: each action reaches the page as
    // an unsolicited "control" result, and OSC clients follow the song player.
    // Without it the control requests fail with handsFreeOffText.
    void startHandsFree(const HandsFree::Settings& settings);
    // Closes the MIDI and OSC ports; control requests fail from now on.
    void stopHandsFree() { handsFree_.reset(); }

private:
    NativeAudioBridge(ToneWait toneWait, Folders folders);

    void dispatch(const BridgeProtocol::ParsedMessage& parsed);
    void listDevices(const std::optional<nlohmann::json>& requestId);
    void testTone(const BridgeProtocol::TestToneRequest& request, std::optional<nlohmann::json> requestId);
    void playSong(const BridgeProtocol::PlaySongRequest& request, std::optional<nlohmann::json> requestId);
    // Runs `action` on the song player from the pool (its queue may be busy
    // starting a song) and answers with its success or its failure.
    void onPlayer(std::string_view type, std::function<void(SongPlayer&)> action,
                  std::optional<nlohmann::json> requestId);
    void libraryRequest(const BridgeProtocol::Request& request);
    void controlRequest(const BridgeProtocol::Request& request);
    // Runs `work` on the shared pool, or on `queue`, and sends the result it
    // gives, or the failure of a `type` request it throws, on the main thread.
    void answerLater(std::string_view type, std::function<nlohmann::json()> work,
                     std::optional<nlohmann::json> requestId, SerialQueue* queue = nullptr);

    std::weak_ptr<ScriptTarget> webView_;
    const std::shared_ptr<SongPlayer> player_;
    const ToneWait toneWait_;
    const Folders folders_;
    const std::unique_ptr<SerialQueue> files_;
    std::shared_ptr<HandsFree> handsFree_;
};

} // namespace cadenzo
