#include "CadenzoPlayer/bridge/SelfTest.hpp"

#include "CadenzoPlayer/bridge/WebHost.hpp"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace cadenzo {

namespace {

gboolean readBackLater(gpointer) {
    readBackSelfTestResult();
    return G_SOURCE_REMOVE;
}

void onReadBack(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    // The error itself is not examined: any failure reads as no reply.
    g_clear_error(&error);
    std::optional<std::string> reply;
    if (value && jsc_value_is_string(value)) {
        char* text = jsc_value_to_string(value);
        if (text) reply = text;
        g_free(text);
    }
    if (value) g_object_unref(value);
    reportSelfTestResult(reply);
}

} // namespace

void selfTestOnFinish() {
    HostState& host = hostState();
    if (!host.selfTestEnabled || !host.webView) return;
    evaluateScript(host.webView, std::string(selfTestScript));
    g_timeout_add(static_cast<guint>(std::lround(selfTestWaitSeconds * 1000)), readBackLater, nullptr);
}

void readBackSelfTestResult() {
    HostState& host = hostState();
    if (!host.webView) {
        reportSelfTestResult(std::nullopt);
        return;
    }
    const std::string script(selfTestReadBackScript);
    webkit_web_view_evaluate_javascript(host.webView, script.data(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, onReadBack, nullptr);
}

void reportSelfTestResult(const std::optional<std::string>& reply) {
    static bool reported = false;
    if (reported) return;
    reported = true;
    HostState& host = hostState();
    const char* uri = host.webView ? webkit_web_view_get_uri(host.webView) : nullptr;
    std::cout << "Loaded page: " << (uri ? uri : "?") << "\n"
              << "Bridge reply: " << (reply ? *reply : "(none)") << std::endl;
    terminateWebHost();
}

} // namespace cadenzo
