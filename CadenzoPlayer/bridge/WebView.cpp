#include "CadenzoPlayer/bridge/WebView.hpp"

#include <nlohmann/json.hpp>

#include <cstring>

namespace cadenzo {

namespace {

// A content filter pattern (a regular expression) for the addresses that begin with `prefix`.
std::string prefixPattern(std::string_view prefix) {
    std::string pattern = "^";
    for (const char c : prefix) {
        if (c != '\0' && std::strchr(".*+?^$()[]{}|\\", c)) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

} // namespace

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

std::optional<std::string> confineFileReads(WebKitWebView* webView, const std::filesystem::path& folder) {
    g_autofree char* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
    if (!uri) return "not an absolute path: " + folder.string();
    // The last rule that matches decides; the trailing slash keeps out folders whose names merely begin alike.
    const nlohmann::json rules = {
        {{"trigger", {{"url-filter", "^file:"}}}, {"action", {{"type", "block"}}}},
        {{"trigger", {{"url-filter", prefixPattern(std::string(uri) + "/")}, {"url-filter-is-case-sensitive", true}}},
         {"action", {{"type", "ignore-previous-rules"}}}}};
    const std::string text = rules.dump();
    g_autoptr(GBytes) source = g_bytes_new(text.data(), text.size());
    g_autofree char* storage = g_build_filename(g_get_user_cache_dir(), "cadenzo-player", "content-filters", nullptr);
    g_autoptr(WebKitUserContentFilterStore) store = webkit_user_content_filter_store_new(storage);
    struct Saved {
        WebKitUserContentFilter* filter = nullptr;
        GError* error = nullptr;
        bool done = false;
    } saved;
    const auto onSaved = [](GObject* store, GAsyncResult* result, gpointer data) {
        auto* saved = static_cast<Saved*>(data);
        saved->filter = webkit_user_content_filter_store_save_finish(WEBKIT_USER_CONTENT_FILTER_STORE(store), result,
                                                                     &saved->error);
        saved->done = true;
    };
    webkit_user_content_filter_store_save(store, "file-reads", source, nullptr, onSaved, &saved);
    // No page may load before the filter is in place.
    while (!saved.done) g_main_context_iteration(nullptr, TRUE);
    if (!saved.filter) {
        std::string error = saved.error ? saved.error->message : "no filter";
        g_clear_error(&saved.error);
        return error;
    }
    webkit_user_content_manager_add_filter(webkit_web_view_get_user_content_manager(webView), saved.filter);
    webkit_user_content_filter_unref(saved.filter);
    webkit_settings_set_allow_file_access_from_file_urls(webkit_web_view_get_settings(webView), TRUE);
    return std::nullopt;
}

} // namespace cadenzo
