// Shared by the probes that drive a page in a web view: runs a scenario script
// in the page, waits for it to set window.__probeResult to an object, prints
// that as one line after PASS (its `ok` is true) or FAIL, and ends the main
// loop with status 0 or 1.
#pragma once

#include <webkit2/webkit2.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace probe {

// What the probe exits with; 2 (a time-out or a usage error) until something else ends it.
inline int status = 2;

inline void quitWith(int code) {
    status = code;
    gtk_main_quit();
}

// Files read one after another run as one script.
inline bool readFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    text += std::string(std::istreambuf_iterator<char>(in), {}) + "\n;\n";
    return bool(in);
}

inline constexpr const char* pollScript =
    "window.__probeResult === undefined ? '' : ((window.__probeResult && window.__probeResult.ok === true ? "
    "'PASS ' : 'FAIL ') + JSON.stringify(window.__probeResult))";

// The scenario's value and every poll's: '' until the verdict is there.
inline void onEvaluated(GObject* view, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    char* text = value ? jsc_value_to_string(value) : nullptr;
    const std::string line = error ? std::string("FAIL the script did not run: ") + error->message : text ? text : "";
    g_free(text);
    g_clear_error(&error);
    if (value) g_object_unref(value);
    if (line.empty()) {
        g_timeout_add(100, [](gpointer view) {
            webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), pollScript, -1, nullptr, nullptr, nullptr,
                                                onEvaluated, nullptr);
            return G_SOURCE_REMOVE;
        }, view);
        return;
    }
    std::cout << line << std::endl;
    quitWith(line.rfind("PASS ", 0) == 0 ? 0 : 1);
}

inline void runScenario(WebKitWebView* view, const std::string& scenario) {
    const std::string script = scenario + "\n'';";
    webkit_web_view_evaluate_javascript(view, script.c_str(), -1, nullptr, "scenario.js", nullptr, onEvaluated, nullptr);
}

} // namespace probe
