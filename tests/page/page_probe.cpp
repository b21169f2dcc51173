// Loads a page in a real web view (900 by 700), injects scripts before the
// page's own, runs a scenario once it has loaded and reports as
// probe_verdict.hpp says (status 2 on a time-out or a usage error).
//
//   page-probe [--inject file.js]... [--scenario file.js]... [--data-dir dir] [--timeout seconds] page.html
//
// Storage starts empty and is thrown away, unless --data-dir keeps it between
// runs. A scenario asks for a real key stroke, with the default actions the
// web view takes for it, by posting a key name ("space", "Return") to
// window.webkit.messageHandlers.probeKeys.
#include "../e2e/probe_verdict.hpp"

#include <cstdlib>
#include <vector>

namespace {

std::string scenario, page, dataDir;
std::vector<std::string> injected;
double timeoutSeconds = 30;
bool started = false;

void onKeyRequest(WebKitUserContentManager*, WebKitJavascriptResult* message, gpointer view) {
    char* name = jsc_value_to_string(webkit_javascript_result_get_js_value(message));
    const guint keyval = gdk_keyval_from_name(name);
    g_free(name);
    GtkWidget* widget = GTK_WIDGET(view);
    gtk_widget_grab_focus(widget);
    GdkDisplay* display = gtk_widget_get_display(widget);
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
        event->key.send_event = TRUE;
        event->key.time = GDK_CURRENT_TIME;
        event->key.keyval = keyval;
        event->key.hardware_keycode = count > 0 ? guint16(keys[0].keycode) : 0;
        gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
    g_free(keys);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string text;
        if (i + 1 == argc && page.empty()) page = arg;
        else if (i + 1 == argc) return 2;
        else if (arg == "--inject" && probe::readFile(argv[++i], text)) injected.push_back(text);
        else if (arg == "--scenario" && probe::readFile(argv[++i], scenario)) continue;
        else if (arg == "--data-dir") dataDir = argv[++i];
        else if (arg == "--timeout") timeoutSeconds = std::atof(argv[++i]);
        else return 2;
    }
    if (page.empty()) return 2;

    gtk_init(&argc, &argv);
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    for (const std::string& text : injected) {
        webkit_user_content_manager_add_script(
            content, webkit_user_script_new(text.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
    }
    const char* dir = dataDir.c_str();
    WebKitWebsiteDataManager* data = dataDir.empty() ? webkit_website_data_manager_new_ephemeral()
        : webkit_website_data_manager_new("base-data-directory", dir, "base-cache-directory", dir, nullptr);
    auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                                              webkit_web_context_new_with_website_data_manager(data),
                                              "user-content-manager", content, nullptr));
    g_signal_connect(content, "script-message-received::probeKeys", G_CALLBACK(onKeyRequest), view);
    webkit_user_content_manager_register_script_message_handler(content, "probeKeys");
    webkit_settings_set_enable_write_console_messages_to_stdout(webkit_web_view_get_settings(view), TRUE);
    // As the program's web view does for its bundled page: a file: page's module scripts are reads of other files.
    webkit_settings_set_allow_file_access_from_file_urls(webkit_web_view_get_settings(view), TRUE);
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, gpointer) {
                         if (event != WEBKIT_LOAD_FINISHED || started) return;
                         started = true;
                         probe::runScenario(view, scenario);
                     }), nullptr);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 900, 700);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(view, g_filename_to_uri(g_canonicalize_filename(page.c_str(), nullptr), nullptr, nullptr));
    g_timeout_add(guint(timeoutSeconds * 1000), +[](gpointer) {
        std::cerr << "page-probe: timed out " << (started ? "waiting for the scenario" : "loading the page") << "\n";
        probe::quitWith(2);
        return G_SOURCE_REMOVE;
    }, nullptr);
    gtk_main();
    return probe::status;
}
