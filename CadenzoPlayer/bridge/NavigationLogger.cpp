#include "CadenzoPlayer/bridge/NavigationLogger.hpp"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace cadenzo {

namespace {

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* logger = static_cast<NavigationLogger*>(data);
    switch (event) {
    case WEBKIT_LOAD_STARTED: logger->loadStarted(); break;
    case WEBKIT_LOAD_COMMITTED: logger->loadCommitted(); break;
    case WEBKIT_LOAD_FINISHED: logger->loadFinished(); break;
    case WEBKIT_LOAD_REDIRECTED: break;
    }
}

gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    static_cast<NavigationLogger*>(data)->loadFailed(error, uri);
    return TRUE;  // no error page of WebKit's own
}

void onDocumentArrived(WebKitWebResource*, gpointer data) {
    static_cast<NavigationLogger*>(data)->documentArrived();
}

// Run apart from the page's own scripts, which cannot get in its way.
constexpr const char* awaitParsedScript =
    "if (document.readyState === 'loading')\n"
    "    await new Promise((parsed) => document.addEventListener('DOMContentLoaded', parsed, {once: true}));";
constexpr const char* hostWorld = "cadenzo-host";

// `data` is the wait's cancellable; a wait not cancelled still has its logger.
void onParsed(GObject* view, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    if (JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view), result, &error))
        g_object_unref(value);
    auto* wait = G_CANCELLABLE(data);
    auto* logger = static_cast<NavigationLogger*>(g_object_get_data(G_OBJECT(wait), "logger"));
    // Any other error (the page went) leaves the load's own end to finish it.
    if (!error && !g_cancellable_is_cancelled(wait)) logger->documentParsed();
    g_clear_error(&error);
    g_object_unref(wait);
}

} // namespace

NavigationLogger::~NavigationLogger() {
    disarm();
    stopWatchingDocument();
    if (webView_) g_signal_handlers_disconnect_by_data(webView_, this);
}

void NavigationLogger::attach(WebKitWebView* webView) {
    webView_ = webView;
    g_signal_connect(webView, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(webView, "load-failed", G_CALLBACK(onLoadFailed), this);
}

void NavigationLogger::limitLoadTime(double seconds) {
    disarm();
    limitSeconds_ = seconds;
    limitPending_ = true;
}

gboolean NavigationLogger::timeOut(gpointer data) {
    auto* logger = static_cast<NavigationLogger*>(data);
    logger->timer_ = 0;
    logger->timedOut_ = true;
    if (logger->webView_) webkit_web_view_stop_loading(logger->webView_);
    return G_SOURCE_REMOVE;
}

void NavigationLogger::disarm() {
    if (timer_) g_source_remove(timer_);
    timer_ = 0;
}

void NavigationLogger::stopWatchingDocument() {
    if (document_) {
        g_signal_handlers_disconnect_by_data(document_, this);
        g_clear_object(&document_);
    }
    if (parseWait_) {
        g_cancellable_cancel(parseWait_);
        g_clear_object(&parseWait_);
    }
}

void NavigationLogger::loadStarted() {
    // Another load replaces the one being timed; the limit counts from here, not from the request.
    disarm();
    stopWatchingDocument();
    if (limitPending_) {
        limitPending_ = false;
        const double milliseconds = std::ceil(std::max(limitSeconds_, 0.0) * 1000.0);
        timer_ = g_timeout_add(static_cast<guint>(std::min(milliseconds, double(G_MAXUINT))), timeOut, this);
    }
    committed_ = false;
    failed_ = false;
    finished_ = false;
    timedOut_ = false;
}

void NavigationLogger::loadCommitted() {
    committed_ = true;
    if (!webView_) return;
    if ((document_ = webkit_web_view_get_main_resource(webView_))) {
        g_object_ref(document_);
        g_signal_connect(document_, "finished", G_CALLBACK(onDocumentArrived), this);
    }
    parseWait_ = g_cancellable_new();
    g_object_set_data(G_OBJECT(parseWait_), "logger", this);
    webkit_web_view_call_async_javascript_function(webView_, awaitParsedScript, -1, nullptr, hostWorld, nullptr,
                                                   parseWait_, onParsed, g_object_ref(parseWait_));
}

void NavigationLogger::documentArrived() {
    disarm();
}

void NavigationLogger::documentParsed() {
    finish();
}

void NavigationLogger::loadFinished() {
    disarm();
    stopWatchingDocument();
    // WebKit also reports a failed load as finished; that one does not count.
    if (!failed_) finish();
}

void NavigationLogger::finish() {
    if (finished_) return;
    finished_ = true;
    if (onFinish) onFinish();
}

void NavigationLogger::loadFailed(const GError* error, const char* uri) {
    disarm();
    stopWatchingDocument();
    failed_ = true;
    if (!committed_) return;
    std::string description;
    if (timedOut_) {
        GError* timeout = g_error_new(G_IO_ERROR, G_IO_ERROR_TIMED_OUT,
                                      "The page did not finish loading within %g seconds", limitSeconds_);
        description = describeFailure(timeout, uri);
        g_error_free(timeout);
    } else {
        description = describeFailure(error, uri);
    }
    std::cout.flush();
    std::cerr << "Navigation failed: " << description << std::endl;
}

std::string NavigationLogger::describeFailure(const GError* error, const char* uri) {
    std::string text;
    if (!error) {
        text = "Unknown error (domain none, code 0";
    } else {
        text = std::string(error->message ? error->message : "") + " (domain " + g_quark_to_string(error->domain) +
               ", code " + std::to_string(error->code);
    }
    if (uri && *uri) text += std::string(", address ") + uri;
    return text + ")";
}

} // namespace cadenzo
