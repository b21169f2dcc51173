// Builds the web host exactly as the program does (same environment, same
// bridge, same window) and drives the loaded page from outside.
//
//   host_probe --verdict [--scenario file.js]... [--timeout seconds] [--load-timeout seconds]
//   host_probe --run-for seconds [--resize WxH] [--load-timeout seconds]
//
// Each finished page load prints "host_probe: finished <address>".
// --verdict waits for the page to set window.__probeResult to an object,
// prints it, and ends with status 0 when its `ok` is true, 1 when it is not,
// 2 on a time-out or when the window goes. Scenario files run as one script
// in the page once the first load has finished. --run-for lets the host run
// that long, prints whether its window is still open (and "still loading"
// when a load is under way), and ends with status 0, or 2 when the window
// went before. --load-timeout replaces the 60 s limit of
// an address load.
#include "CadenzoPlayer/bridge/WebHost.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

struct Probe {
    std::string scenario;
    bool verdict = false;
    double runFor = 0;
    int resizeWidth = 0;
    int resizeHeight = 0;
    double timeoutSeconds = 60;
    bool started = false;
    int status = 2;
};

Probe probe;

void quitWith(int status) {
    probe.status = status;
    gtk_main_quit();
}

void onPoll(GObject* source, GAsyncResult* result, gpointer);

gboolean poll(gpointer) {
    const char* script =
        "window.__probeResult === undefined ? '' : ((window.__probeResult && window.__probeResult.ok === true ? "
        "'PASS ' : 'FAIL ') + JSON.stringify(window.__probeResult))";
    webkit_web_view_evaluate_javascript(cadenzo::hostState().webView, script, -1, nullptr, nullptr, nullptr, onPoll,
                                        nullptr);
    return G_SOURCE_REMOVE;
}

void onPoll(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    std::string text;
    if (value) {
        char* s = jsc_value_to_string(value);
        text = s ? s : "";
        g_free(s);
        g_object_unref(value);
    }
    g_clear_error(&error);
    if (text.empty()) {
        g_timeout_add(100, poll, nullptr);
        return;
    }
    std::cout << text << std::endl;
    quitWith(text.rfind("PASS ", 0) == 0 ? 0 : 1);
}

void onScenarioStarted(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (!value) {
        std::cout << "FAIL scenario did not run: " << (error ? error->message : "?") << std::endl;
        g_clear_error(&error);
        quitWith(1);
        return;
    }
    g_object_unref(value);
    poll(nullptr);
}

void startScenario() {
    const std::string script = probe.scenario + "\n;void 0;";
    webkit_web_view_evaluate_javascript(cadenzo::hostState().webView, script.c_str(), -1, nullptr, "scenario.js",
                                        nullptr, onScenarioStarted, nullptr);
}

gboolean onTimeout(gpointer) {
    std::cout << "host_probe: timed out" << std::endl;
    quitWith(2);
    return G_SOURCE_REMOVE;
}

gboolean resize(gpointer) {
    gtk_window_resize(GTK_WINDOW(cadenzo::hostState().window), probe.resizeWidth, probe.resizeHeight);
    return G_SOURCE_REMOVE;
}

gboolean onRunOver(gpointer) {
    const cadenzo::HostState& host = cadenzo::hostState();
    const bool open = host.webView && gtk_widget_get_visible(host.window);
    std::cout << "host_probe: window " << (open ? "open" : "gone") << std::endl;
    if (!open) {
        quitWith(2);
        return G_SOURCE_REMOVE;
    }
    if (webkit_web_view_is_loading(host.webView)) std::cout << "host_probe: still loading" << std::endl;
    GtkWindow* window = GTK_WINDOW(host.window);
    int width = 0, height = 0, x = 0, y = 0;
    gtk_window_get_size(window, &width, &height);
    gtk_window_get_position(window, &x, &y);
    std::cout << "host_probe: window \"" << gtk_window_get_title(window) << "\" " << width << "x" << height << " at "
              << x << "," << y << (gtk_window_get_resizable(window) ? ", resizable" : "")
              << "\nhost_probe: web view " << gtk_widget_get_allocated_width(GTK_WIDGET(host.webView)) << "x"
              << gtk_widget_get_allocated_height(GTK_WIDGET(host.webView)) << std::endl;
    quitWith(0);
    return G_SOURCE_REMOVE;
}

int usage() {
    std::cerr << "usage: host_probe --verdict [--scenario file.js]... [--timeout seconds] [--load-timeout seconds]\n"
                 "       host_probe --run-for seconds [--resize WxH] [--load-timeout seconds]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    cadenzo::WebHostOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verdict") {
            probe.verdict = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        if (arg == "--scenario") {
            std::ifstream in(value, std::ios::binary);
            if (!in) return usage();
            std::ostringstream text;
            text << in.rdbuf();
            probe.scenario += text.str() + "\n;\n";
            probe.verdict = true;
        } else if (arg == "--run-for") {
            probe.runFor = std::atof(value);
        } else if (arg == "--resize") {
            if (std::sscanf(value, "%dx%d", &probe.resizeWidth, &probe.resizeHeight) != 2) return usage();
        } else if (arg == "--load-timeout") {
            options.loadTimeoutSeconds = std::atof(value);
        } else if (arg == "--timeout") {
            probe.timeoutSeconds = std::atof(value);
        } else {
            return usage();
        }
    }
    if (probe.verdict == (probe.runFor > 0)) return usage();

    cadenzo::HostState& host = cadenzo::createWebHost(cadenzo::readWebHostSettings(), options);
    // The host's own reaction to a finished load stays in place; the probe's comes after it.
    host.navigationLogger->onFinish = [hostOnFinish = host.navigationLogger->onFinish] {
        if (hostOnFinish) hostOnFinish();
        const char* uri = webkit_web_view_get_uri(cadenzo::hostState().webView);
        std::cout << "host_probe: finished " << (uri ? uri : "?") << std::endl;
        if (probe.verdict && !probe.started) {
            probe.started = true;
            if (probe.scenario.empty())
                poll(nullptr);
            else
                startScenario();
        }
    };
    if (probe.runFor > 0) {
        g_timeout_add(static_cast<guint>(probe.runFor * 1000), onRunOver, nullptr);
        const double resizeAt = std::max(probe.runFor - 1, 0.0);
        if (probe.resizeWidth > 0) g_timeout_add(static_cast<guint>(resizeAt * 1000), resize, nullptr);
    } else {
        g_timeout_add(static_cast<guint>(probe.timeoutSeconds * 1000), onTimeout, nullptr);
    }
    gtk_main();
    return probe.status;
}
