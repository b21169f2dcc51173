// Builds the web host exactly as the program does (same environment, same
// bridge, same window) and drives the loaded page from outside.
//
//   host_probe [--scenario file.js]... [--timeout seconds] [--load-timeout seconds]
//   host_probe --loads N [--resize WxH] [--load-timeout seconds]
//
// Each finished page load prints "host_probe: finished <address>". The first
// form runs the scenario files as one script once the first load has finished
// and ends as probe_verdict.hpp says. The second waits for N loads to end
// (finished or failed), describes the window and ends with status 0; with --resize it then resizes the
// window and describes it again once the web view has followed. Status 2 on a
// time-out (default 60 s) or when the window went. --load-timeout replaces the
// 60 s limit of an address load.
#include "CadenzoPlayer/bridge/WebHost.hpp"
#include "probe_verdict.hpp"

#include <cstdio>
#include <cstdlib>

namespace {

std::string scenario;
int loads = 0, resizeWidth = 0, resizeHeight = 0;
bool countingLoads = false, started = false;
using probe::quitWith;

bool prefersDark() {
    gboolean dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    return dark;
}

// False when the window has gone.
bool describeWindow() {
    const cadenzo::HostState& host = cadenzo::hostState();
    if (!host.webView || !gtk_widget_get_visible(host.window)) {
        std::cout << "host_probe: window gone" << std::endl;
        return false;
    }
    GtkWindow* window = GTK_WINDOW(host.window);
    int width = 0, height = 0, x = 0, y = 0;
    gtk_window_get_size(window, &width, &height);
    gtk_window_get_position(window, &x, &y);
    std::cout << "host_probe: window \"" << gtk_window_get_title(window) << "\" " << width << "x" << height << " at "
              << x << "," << y << (gtk_window_get_resizable(window) ? ", resizable" : "") << (prefersDark() ? ", dark" : "")
              << "\nhost_probe: web view "
              << gtk_widget_get_allocated_width(GTK_WIDGET(host.webView)) << "x"
              << gtk_widget_get_allocated_height(GTK_WIDGET(host.webView)) << std::endl;
    return true;
}

void onResized(GtkWidget*, GdkRectangle* area, gpointer) {
    if (area->width == resizeWidth && area->height == resizeHeight) quitWith(describeWindow() ? 0 : 2);
}

// After the host's own handlers: a failed load has been reported by then.
void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED || loads == 0 || --loads > 0) return;
    if (!describeWindow()) return quitWith(2);
    if (resizeWidth == 0) return quitWith(0);
    g_signal_connect_after(view, "size-allocate", G_CALLBACK(onResized), nullptr);
    gtk_window_resize(GTK_WINDOW(cadenzo::hostState().window), resizeWidth, resizeHeight);
}

} // namespace

int main(int argc, char** argv) {
    cadenzo::WebHostOptions options;
    double timeoutSeconds = 60;
    if (argc % 2 == 0) return 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const char* value = argv[i + 1];
        if (arg == "--scenario" && probe::readFile(value, scenario)) continue;
        if (arg == "--loads") countingLoads = (loads = std::atoi(value)) > 0;
        else if (arg == "--resize" && std::sscanf(value, "%dx%d", &resizeWidth, &resizeHeight) == 2) continue;
        else if (arg == "--load-timeout") options.loadTimeoutSeconds = std::atof(value);
        else if (arg == "--timeout") timeoutSeconds = std::atof(value);
        else return 2;
    }

    cadenzo::HostState& host = cadenzo::createWebHost(cadenzo::readWebHostSettings(), options);
    g_signal_connect_after(host.webView, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
    // The host's own reaction to a finished load stays in place; the probe's comes after it.
    host.navigationLogger->onFinish = [hostOnFinish = host.navigationLogger->onFinish] {
        if (hostOnFinish) hostOnFinish();
        const char* uri = webkit_web_view_get_uri(cadenzo::hostState().webView);
        std::cout << "host_probe: finished " << (uri ? uri : "?") << std::endl;
        if (countingLoads || started) return;
        started = true;
        probe::runScenario(cadenzo::hostState().webView, scenario);
    };
    g_timeout_add(static_cast<guint>(timeoutSeconds * 1000), [](gpointer) {
        std::cout << "host_probe: timed out" << std::endl;
        quitWith(2);
        return G_SOURCE_REMOVE;
    }, nullptr);
    gtk_main();
    return probe::status;
}
