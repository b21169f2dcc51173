// Loads a page in a real web view at a given window size. Optionally injects
// scripts before the page's own, answers `nativeAudio` messages through an
// injected mock of the native side, runs a scenario after the load, and writes
// a PNG of what the window shows.
//
//   page-probe [--size WxH] [--inject file.js]... [--mock file.js] [--scenario file.js]...
//              [--png out.png] [--data-dir dir] [--timeout seconds] page.html
//
// --mock injects the file like --inject and also registers the `nativeAudio`
// handler, whose messages go, as JSON, to window.__cadenzoMock.receive.
//
// A scenario ends by setting window.__probeResult to an object; the probe prints
// it and exits 0 when its `ok` is true, 1 when it is not, 2 on a time-out or a
// usage error.
#include <webkit2/webkit2.h>

#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Probe {
    std::string pagePath;
    std::vector<std::string> injectedScripts;
    bool bridge = false;
    std::string scenarioScript;
    std::string pngPath;
    std::string dataDir;
    int width = 900;
    int height = 700;
    double timeoutSeconds = 30.0;
    WebKitWebView* view = nullptr;
    bool loaded = false;
    int exitStatus = 2;
    std::string verdict;
};

bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

void finish(Probe* probe);

void onSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    GError* error = nullptr;
    cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (!surface) {
        std::cerr << "page-probe: snapshot failed: " << (error ? error->message : "?") << "\n";
        g_clear_error(&error);
        probe->exitStatus = 2;
    } else {
        if (cairo_surface_write_to_png(surface, probe->pngPath.c_str()) != CAIRO_STATUS_SUCCESS) {
            std::cerr << "page-probe: cannot write " << probe->pngPath << "\n";
            probe->exitStatus = 2;
        }
        cairo_surface_destroy(surface);
    }
    gtk_main_quit();
}

gboolean takeSnapshot(gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    webkit_web_view_get_snapshot(probe->view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
                                 onSnapshot, probe);
    return G_SOURCE_REMOVE;
}

void finish(Probe* probe) {
    if (!probe->verdict.empty()) std::cout << probe->verdict << std::endl;
    if (probe->pngPath.empty()) {
        gtk_main_quit();
        return;
    }
    // One more frame so that the last state change is painted.
    g_timeout_add(150, takeSnapshot, probe);
}

void onPoll(GObject* source, GAsyncResult* result, gpointer data);

gboolean poll(gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    const char* script =
        "window.__probeResult === undefined ? '' : ((window.__probeResult && window.__probeResult.ok === true ? "
        "'PASS ' : 'FAIL ') + JSON.stringify(window.__probeResult))";
    webkit_web_view_evaluate_javascript(probe->view, script, -1, nullptr, nullptr, nullptr, onPoll, probe);
    return G_SOURCE_REMOVE;
}

void onPoll(GObject* source, GAsyncResult* result, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    std::string text;
    if (value) {
        char* s = jsc_value_to_string(value);
        text = s ? s : "";
        g_free(s);
        g_object_unref(value);
    } else {
        g_clear_error(&error);
    }
    if (text.empty()) {
        g_timeout_add(100, poll, probe);
        return;
    }
    probe->verdict = text;
    probe->exitStatus = text.rfind("PASS ", 0) == 0 ? 0 : 1;
    finish(probe);
}

void onScenarioStarted(GObject* source, GAsyncResult* result, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (!value) {
        probe->verdict = std::string("FAIL scenario did not run: ") + (error ? error->message : "?");
        g_clear_error(&error);
        probe->exitStatus = 1;
        finish(probe);
        return;
    }
    g_object_unref(value);
    poll(probe);
}

gboolean startScenario(gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    if (probe->scenarioScript.empty()) {
        probe->exitStatus = 0;
        finish(probe);
    } else {
        const std::string script = probe->scenarioScript + "void 0;";
        webkit_web_view_evaluate_javascript(probe->view, script.c_str(), -1, nullptr, "scenario.js",
                                            nullptr, onScenarioStarted, probe);
    }
    return G_SOURCE_REMOVE;
}

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    if (event != WEBKIT_LOAD_FINISHED || probe->loaded) return;
    probe->loaded = true;
    // Let the page's start-up work (first requests, first paint) settle.
    g_timeout_add(400, startScenario, probe);
}

gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    std::cerr << "page-probe: cannot load " << uri << ": " << error->message << "\n";
    probe->exitStatus = 2;
    gtk_main_quit();
    return TRUE;
}

void onEvaluated(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (value) g_object_unref(value);
    if (error) {
        std::cerr << "page-probe: mock bridge failed: " << error->message << "\n";
        g_clear_error(&error);
    }
}

// Hands each posted message, as the native side would see it, to the injected mock.
void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* message, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    JSCValue* body = webkit_javascript_result_get_js_value(message);
    char* json = jsc_value_to_json(body, 0);
    std::string script = "window.__cadenzoMock.receive(" + std::string(json ? json : "undefined") + ")";
    g_free(json);
    webkit_web_view_evaluate_javascript(probe->view, script.c_str(), -1, nullptr, nullptr, nullptr, onEvaluated,
                                        probe);
}

// Real key strokes, as the keyboard would send them, so that the page's handling of default actions
// (a focused button pressed by Space, say) can be tested. The scenario asks with
// window.webkit.messageHandlers.probeKeys.postMessage("space").
void sendKey(Probe* probe, guint keyval) {
    GtkWidget* widget = GTK_WIDGET(probe->view);
    gtk_widget_grab_focus(widget);
    GdkDisplay* display = gtk_widget_get_display(widget);
    GdkDevice* keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
        event->key.send_event = TRUE;
        event->key.time = GDK_CURRENT_TIME;
        event->key.keyval = keyval;
        event->key.hardware_keycode = count > 0 ? static_cast<guint16>(keys[0].keycode) : 0;
        gdk_event_set_device(event, keyboard);
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    g_free(keys);
}

void onKeyRequest(WebKitUserContentManager*, WebKitJavascriptResult* message, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    char* name = jsc_value_to_string(webkit_javascript_result_get_js_value(message));
    const guint keyval = gdk_keyval_from_name(name);
    g_free(name);
    if (keyval != GDK_KEY_VoidSymbol && keyval != 0) sendKey(probe, keyval);
}

gboolean onTimeout(gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    std::cerr << "page-probe: timed out" << (probe->loaded ? " waiting for the scenario" : " loading the page")
              << "\n";
    probe->exitStatus = 2;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

int usage() {
    std::cerr << "usage: page-probe [--size WxH] [--inject file.js]... [--mock file.js] [--scenario file.js]... "
                 "[--png out.png] [--data-dir dir] [--timeout seconds] page.html\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Probe probe;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--size" && hasValue) {
            if (std::sscanf(argv[++i], "%dx%d", &probe.width, &probe.height) != 2) return usage();
        } else if ((arg == "--inject" || arg == "--mock") && hasValue) {
            std::string text;
            if (!readFile(argv[++i], text)) return usage();
            probe.injectedScripts.push_back(text);
            if (arg == "--mock") probe.bridge = true;
        } else if (arg == "--scenario" && hasValue) {
            std::string text;
            if (!readFile(argv[++i], text)) return usage();
            // Several files run as one script, in order; its own value (a promise, say) is not wanted.
            probe.scenarioScript += text + "\n;\n";
        } else if (arg == "--png" && hasValue) {
            probe.pngPath = argv[++i];
        } else if (arg == "--data-dir" && hasValue) {
            probe.dataDir = argv[++i];
        } else if (arg == "--timeout" && hasValue) {
            probe.timeoutSeconds = std::atof(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-' && probe.pagePath.empty()) {
            probe.pagePath = arg;
        } else {
            return usage();
        }
    }
    if (probe.pagePath.empty()) return usage();

    gtk_init(&argc, &argv);
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    for (const std::string& text : probe.injectedScripts) {
        WebKitUserScript* script =
            webkit_user_script_new(text.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                   WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);
    }
    g_signal_connect(content, "script-message-received::probeKeys", G_CALLBACK(onKeyRequest), &probe);
    webkit_user_content_manager_register_script_message_handler(content, "probeKeys");
    if (probe.bridge) {
        g_signal_connect(content, "script-message-received::nativeAudio", G_CALLBACK(onScriptMessage), &probe);
        webkit_user_content_manager_register_script_message_handler(content, "nativeAudio");
    }
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), probe.width, probe.height);
    // Storage starts empty and is thrown away, unless a directory is given to keep it between runs.
    WebKitWebsiteDataManager* data =
        probe.dataDir.empty()
            ? webkit_website_data_manager_new_ephemeral()
            : webkit_website_data_manager_new("base-data-directory", probe.dataDir.c_str(), "base-cache-directory",
                                              probe.dataDir.c_str(), nullptr);
    WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(data);
    probe.view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager", content, nullptr));
    WebKitSettings* settings = webkit_web_view_get_settings(probe.view);
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, TRUE);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(probe.view));
    g_signal_connect(probe.view, "load-changed", G_CALLBACK(onLoadChanged), &probe);
    g_signal_connect(probe.view, "load-failed", G_CALLBACK(onLoadFailed), &probe);
    gtk_widget_show_all(window);

    char* absolute = g_canonicalize_filename(probe.pagePath.c_str(), nullptr);
    char* uri = g_filename_to_uri(absolute, nullptr, nullptr);
    webkit_web_view_load_uri(probe.view, uri);
    g_free(uri);
    g_free(absolute);

    g_timeout_add(static_cast<guint>(probe.timeoutSeconds * 1000), onTimeout, &probe);
    gtk_main();
    return probe.exitStatus;
}
