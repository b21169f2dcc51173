#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace cadenzo {

// Watches the web view's page loads: calls `onFinish` once per load when its
// page is ready, and writes "Navigation failed: ..." on standard error when a
// load fails after its page has started to arrive (after commit). A failure
// before that (an unreachable address, a refused connection) goes unreported,
// and WebKit's own error page is never shown. Main thread only.
class NavigationLogger {
public:
    NavigationLogger() = default;
    ~NavigationLogger();
    NavigationLogger(const NavigationLogger&) = delete;
    NavigationLogger& operator=(const NavigationLogger&) = delete;

    // Called with nothing once per load that does not fail, as soon as its
    // page's own document has been read in whole (DOMContentLoaded), or when
    // WebKit finishes the whole load if that comes first. Images and other
    // sub-resources still on their way do not hold it back.
    std::function<void()> onFinish;

    // Follows the view's loads from now on. The view must outlive the logger,
    // or the logger must not be used once the view is gone.
    void attach(WebKitWebView* webView);

    // Gives up the next load to start if its page's own request (the main
    // document) has not arrived whole within `seconds` of WebKit starting the
    // load: one that has not committed yet ends unreported, one whose page has
    // begun to arrive is reported as having timed out. Sub-resources are not
    // timed. WebKit has no time-out per request, so this stands in for one.
    void limitLoadTime(double seconds);

    // The view's load events; attach() routes them here.
    void loadStarted();
    void loadCommitted();
    void documentArrived();  // the main document's request has finished
    void documentParsed();   // its DOMContentLoaded
    void loadFinished();
    void loadFailed(const GError* error, const char* uri);

    // "<message> (domain <domain>, code <code>, address <uri>)".
    static std::string describeFailure(const GError* error, const char* uri);

private:
    static gboolean timeOut(gpointer logger);
    void disarm();
    void finish();
    void stopWatchingDocument();

    WebKitWebView* webView_ = nullptr;
    bool committed_ = false;
    bool failed_ = false;
    bool finished_ = false;
    // The limit waits for the next load to start, then times it.
    bool limitPending_ = false;
    guint timer_ = 0;
    bool timedOut_ = false;
    double limitSeconds_ = 0;
    // The current load's main document, and the wait for it to be parsed.
    WebKitWebResource* document_ = nullptr;
    GCancellable* parseWait_ = nullptr;
};

} // namespace cadenzo
