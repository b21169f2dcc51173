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

} // namespace

NavigationLogger::~NavigationLogger() {
    disarm();
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
    startsSinceArmed_ = 0;
    const double milliseconds = std::ceil(std::max(seconds, 0.0) * 1000.0);
    timer_ = g_timeout_add(static_cast<guint>(std::min(milliseconds, double(G_MAXUINT))), timeOut, this);
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

void NavigationLogger::loadStarted() {
    // Another load replaces the one being timed.
    if (timer_ && ++startsSinceArmed_ > 1) disarm();
    committed_ = false;
    failed_ = false;
    timedOut_ = false;
}

void NavigationLogger::loadCommitted() {
    committed_ = true;
}

void NavigationLogger::loadFinished() {
    disarm();
    // WebKit also reports a failed load as finished; that one does not count.
    if (failed_) return;
    if (onFinish) onFinish();
}

void NavigationLogger::loadFailed(const GError* error, const char* uri) {
    disarm();
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
