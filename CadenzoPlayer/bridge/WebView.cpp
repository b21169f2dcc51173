#include "CadenzoPlayer/bridge/WebView.hpp"

namespace cadenzo {

WebViewScriptTarget::WebViewScriptTarget(WebKitWebView* webView) {
    g_weak_ref_init(&webView_, webView);
}

WebViewScriptTarget::~WebViewScriptTarget() {
    g_weak_ref_clear(&webView_);
}

void WebViewScriptTarget::evaluateScript(const std::string& script) {
    auto* webView = static_cast<WebKitWebView*>(g_weak_ref_get(&webView_));
    if (!webView) return;
    cadenzo::evaluateScript(webView, script);
    g_object_unref(webView);
}

void evaluateScript(WebKitWebView* webView, const std::string& script) {
    webkit_web_view_evaluate_javascript(webView, script.data(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
}

std::string messageBodyJson(JSCValue* value) {
    if (!value) return {};
    char* json = jsc_value_to_json(value, 0);
    if (!json) {
        // A cycle or a throwing toJSON leaves an exception behind in the page's context.
        if (JSCContext* context = jsc_value_get_context(value)) jsc_context_clear_exception(context);
        return {};
    }
    std::string text(json);
    g_free(json);
    return text;
}

} // namespace cadenzo
