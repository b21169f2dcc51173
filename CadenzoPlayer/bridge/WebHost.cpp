#include "CadenzoPlayer/bridge/WebHost.hpp"

#include "CadenzoPlayer/bridge/SelfTest.hpp"
#include "CadenzoPlayer/dispatch/GLibMainThread.hpp"
#include "CadenzoPlayer/dispatch/MainThread.hpp"
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

void onWindowDestroyed(GtkWidget*, gpointer) {
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
    gtk_init(nullptr, nullptr);
    host = new HostState;

    host->bridge = NativeAudioBridge::make();
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
    g_signal_connect(window, "destroy", G_CALLBACK(onWindowDestroyed), nullptr);

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
