#pragma once

#include "CadenzoPlayer/bridge/NativeAudioBridge.hpp"
#include "CadenzoPlayer/bridge/NavigationLogger.hpp"
#include "CadenzoPlayer/bridge/WebView.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cadenzo {

inline constexpr std::string_view webHostWindowTitle = "CadenzoPlayer (bridge prototype)";
inline constexpr int webHostWindowWidth = 900;
inline constexpr int webHostWindowHeight = 700;
inline constexpr std::string_view bridgeMessageName = "nativeAudio";
inline constexpr double addressLoadTimeoutSeconds = 60.0;

// The address the window opens by default, fixed when the program is built;
// empty when that is the bundled control page.
std::string_view defaultWebAddress();

// What the web host keeps for the life of the process; made once, never torn down.
struct HostState {
    std::shared_ptr<NativeAudioBridge> bridge;
    std::unique_ptr<NavigationLogger> navigationLogger;
    WebKitUserContentManager* contentController = nullptr;
    GtkWidget* window = nullptr;
    // Null once the view has been destroyed (the window was closed).
    WebKitWebView* webView = nullptr;
    // How the bridge reaches the view; it holds it weakly.
    std::shared_ptr<WebViewScriptTarget> scriptTarget;
    std::optional<std::string> loadAddress;
    bool selfTestEnabled = false;
};

struct WebHostOptions {
    double loadTimeoutSeconds = addressLoadTimeoutSeconds;
};

// Builds the window, the web view and the bridge, and starts the first load
// as `settings` say. Called once, on the main thread; a second call returns
// the host already made. Ends the process when the bridge test page is asked
// for and missing.
HostState& createWebHost(const WebHostSettings& settings, const WebHostOptions& options = {});

// The host made by createWebHost. Only valid after it.
HostState& hostState();

// The web host mode: builds the host from the environment and runs the main
// loop until the window is closed or the self-test ends it.
void runWebHost();

// Ends the main loop that runWebHost runs; the process then ends with status 0.
void terminateWebHost();

// An absolute address (with a scheme) that GLib accepts, without spaces or
// control characters.
bool isValidAddress(std::string_view text);

// Which address the window loads: LOAD_URL when it is a valid address, else the
// default one (empty: the bundled control page).
std::string chooseLoadAddress(const std::optional<std::string>& loadAddress);

} // namespace cadenzo
