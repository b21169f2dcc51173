#include "CadenzoPlayer/bridge/WebHost.hpp"

#include "CadenzoPlayer/audio/DeviceLayer.hpp"
#include "CadenzoPlayer/bridge/SelfTest.hpp"
#include "CadenzoPlayer/dispatch/GLibMainThread.hpp"
#include "CadenzoPlayer/dispatch/MainThread.hpp"
#include "CadenzoPlayer/launch/Environment.hpp"
#include "CadenzoPlayer/resource_bundle_accessor.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#ifndef CADENZO_DEFAULT_URL
#error "CADENZO_DEFAULT_URL names the address the window opens by default (empty: the bundled page)"
#endif

namespace cadenzo {

namespace {

// Never destroyed: pool threads may still post replies while the process ends.
HostState* host = nullptr;

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* message, gpointer data) {
    auto* bridge = static_cast<NativeAudioBridge*>(data);
    bridge->handleMessageText(messageBodyJson(webkit_javascript_result_get_js_value(message)));
}

void onWebViewDestroyed(GtkWidget*, gpointer data) {
    static_cast<HostState*>(data)->webView = nullptr;
}

// Where the window was, in its normal state, and whether it was maximised; kept
// in the user's configuration folder and written when the program ends.
struct Placement {
    int width = webHostWindowWidth, height = webHostWindowHeight, x = 0, y = 0;
    bool positioned = false, maximized = false, known = false;
} placement;

std::string placementFile() {
    char* path = g_build_filename(g_get_user_config_dir(), "cadenzo-player", "window.ini", nullptr);
    std::string file(path);
    g_free(path);
    return file;
}

void restorePlacement(GtkWindow* window) {
    GKeyFile* keys = g_key_file_new();
    if (g_key_file_load_from_file(keys, placementFile().c_str(), G_KEY_FILE_NONE, nullptr)) {
        const auto read = [&](const char* key, int low, int high) -> std::optional<int> {
            GError* error = nullptr;
            const int value = g_key_file_get_integer(keys, "window", key, &error);
            if (error) return g_error_free(error), std::nullopt;
            return value >= low && value <= high ? std::optional(value) : std::nullopt;
        };
        const auto width = read("width", 320, 16384), height = read("height", 240, 16384);
        const auto x = read("x", -16384, 16384), y = read("y", -16384, 16384);
        if (width && height) gtk_window_set_default_size(window, *width, *height);
        if (x && y) {
            gtk_window_set_position(window, GTK_WIN_POS_NONE);
            gtk_window_move(window, *x, *y);
        }
        if (read("maximized", 1, 1)) gtk_window_maximize(window);
    }
    g_key_file_free(keys);
}

void savePlacement() {
    if (!placement.known) return;
    GKeyFile* keys = g_key_file_new();
    g_key_file_set_integer(keys, "window", "width", placement.width);
    g_key_file_set_integer(keys, "window", "height", placement.height);
    if (placement.positioned) {
        g_key_file_set_integer(keys, "window", "x", placement.x);
        g_key_file_set_integer(keys, "window", "y", placement.y);
    }
    g_key_file_set_integer(keys, "window", "maximized", placement.maximized ? 1 : 0);
    const std::string file = placementFile();
    char* folder = g_path_get_dirname(file.c_str());
    g_mkdir_with_parents(folder, 0700);
    g_free(folder);
    g_key_file_save_to_file(keys, file.c_str(), nullptr);
    g_key_file_free(keys);
}

gboolean onConfigured(GtkWidget* widget, GdkEvent*, gpointer) {
    GdkWindow* surface = gtk_widget_get_window(widget);
    const auto state = surface ? gdk_window_get_state(surface) : GdkWindowState{};
    placement.maximized = state & GDK_WINDOW_STATE_MAXIMIZED;
    if (!(state & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN))) {
        gtk_window_get_size(GTK_WINDOW(widget), &placement.width, &placement.height);
        gtk_window_get_position(GTK_WINDOW(widget), &placement.x, &placement.y);
        placement.positioned = true;
    }
    placement.known = true;
    return FALSE;
}

// F11 is the stage view, whatever the page does with its keys.
gboolean onKeyPressed(GtkWidget* widget, GdkEventKey* event, gpointer) {
    if (event->keyval != GDK_KEY_F11) return FALSE;
    GdkWindow* surface = gtk_widget_get_window(widget);
    if (surface && (gdk_window_get_state(surface) & GDK_WINDOW_STATE_FULLSCREEN))
        gtk_window_unfullscreen(GTK_WINDOW(widget));
    else
        gtk_window_fullscreen(GTK_WINDOW(widget));
    return TRUE;
}

void onWindowDestroyed(GtkWidget*, gpointer) {
    savePlacement();
    terminateWebHost();
}

[[noreturn]] void fatal(const char* message) {
    std::cout.flush();
    std::cerr << message << std::endl;
    std::_Exit(EXIT_FAILURE);
}

void loadBridgeTestPage(WebKitWebView* webView) {
    const auto page = resourceBundle().path("bridge-test", "html");
    if (!page) fatal("bridge-test.html not found in bundle");
    // WebKit resolves dot segments in the address but not links: the folder is matched as written.
    const auto file = std::filesystem::absolute(*page).lexically_normal();
    // The page may read the files of its own folder (the bundle), and no other.
    if (const auto error = confineFileReads(webView, file.parent_path())) {
        std::cout.flush();
        std::cerr << "The page cannot read its bundle folder: " << *error << std::endl;
    }
    char* uri = g_filename_to_uri(file.c_str(), nullptr, nullptr);
    if (!uri) fatal("bridge-test.html not found in bundle");
    webkit_web_view_load_uri(webView, uri);
    g_free(uri);
}

} // namespace

std::string_view defaultWebAddress() {
    return CADENZO_DEFAULT_URL;
}

bool isValidAddress(std::string_view text) {
    // GLib lets spaces and control characters through; no address holds them.
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return false;
    }
    return g_uri_is_valid(std::string(text).c_str(), G_URI_FLAGS_NONE, nullptr);
}

std::string chooseLoadAddress(const std::optional<std::string>& loadAddress) {
    if (loadAddress && isValidAddress(*loadAddress)) return *loadAddress;
    return std::string(defaultWebAddress());
}

HostState& hostState() {
    return *host;
}

HostState& createWebHost(const WebHostSettings& settings, const WebHostOptions& options) {
    if (host) return *host;
    // One name whatever the program was started as: the desktop entry finds its window by it, and the web
    // view keeps its storage under it.
    g_set_prgname("cadenzo-player");
    gtk_init(nullptr, nullptr);
    // Native pop-ups (menus, file choosers) are not white on a dark stage.
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);
    host = new HostState;

    host->bridge = NativeAudioBridge::make();
    // A pedal's Play sounds from the next block: the device stays open between songs while the window is.
    DeviceLayer::shared().setKeepLastStreamOpen(true);
    // A self-test only lists devices; it takes no control from outside.
    if (!settings.selfTestEnabled) host->bridge->startHandsFree(HandsFree::settingsFromEnvironment(readEnvironment));
    host->navigationLogger = std::make_unique<NavigationLogger>();

    host->contentController = webkit_user_content_manager_new();
    const std::string messageName(bridgeMessageName);
    const std::string signal = "script-message-received::" + messageName;
    g_signal_connect(host->contentController, signal.c_str(), G_CALLBACK(onScriptMessage), host->bridge.get());
    webkit_user_content_manager_register_script_message_handler(host->contentController, messageName.c_str());

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    host->window = window;
    gtk_window_set_title(GTK_WINDOW(window), std::string(webHostWindowTitle).c_str());
    gtk_window_set_default_size(GTK_WINDOW(window), webHostWindowWidth, webHostWindowHeight);
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    restorePlacement(GTK_WINDOW(window));
    g_signal_connect(window, "destroy", G_CALLBACK(onWindowDestroyed), nullptr);
    g_signal_connect(window, "configure-event", G_CALLBACK(onConfigured), nullptr);
    g_signal_connect(window, "window-state-event", G_CALLBACK(onConfigured), nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKeyPressed), nullptr);
    // A self-test or a probe ends the main loop without closing the window.
    std::atexit(savePlacement);
    // The JACK clients leave the server before the process goes: a client that vanishes mid-cycle can hold
    // up the server's own shutdown past its time limit.
    std::atexit([] {
        host->bridge->stopHandsFree();
        DeviceLayer::shared().setKeepLastStreamOpen(false);
    });

    host->webView = WEBKIT_WEB_VIEW(webkit_web_view_new_with_user_content_manager(host->contentController));
    g_signal_connect(host->webView, "destroy", G_CALLBACK(onWebViewDestroyed), host);
    host->navigationLogger->attach(host->webView);
    host->scriptTarget = std::make_shared<WebViewScriptTarget>(host->webView);
    host->bridge->setWebView(host->scriptTarget);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(host->webView));

    // Replies from pool threads reach the page through the GTK main loop.
    MainThread::install(std::make_shared<GLibMainThread>());

    host->loadAddress = settings.loadAddress;
    host->selfTestEnabled = settings.selfTestEnabled;

    const std::string address = chooseLoadAddress(host->loadAddress);
    if (settings.bridgeTestPage || address.empty()) {
        loadBridgeTestPage(host->webView);
    } else {
        host->navigationLogger->limitLoadTime(options.loadTimeoutSeconds);
        webkit_web_view_load_uri(host->webView, address.c_str());
    }

    // Installed in every run; it acts only in a self-test.
    host->navigationLogger->onFinish = selfTestOnFinish;

    // A self-test run shows the window but leaves the focus where it is.
    if (host->selfTestEnabled) gtk_window_set_focus_on_map(GTK_WINDOW(window), FALSE);
    gtk_widget_show_all(window);
    if (!host->selfTestEnabled) gtk_window_present(GTK_WINDOW(window));
    return *host;
}

void runWebHost() {
    createWebHost(readWebHostSettings());
    gtk_main();
}

void terminateWebHost() {
    if (gtk_main_level() > 0) gtk_main_quit();
}

} // namespace cadenzo
