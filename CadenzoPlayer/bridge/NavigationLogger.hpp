#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace cadenzo {

// Watches the web view's page loads: calls `onFinish` each time a load
// finishes, and writes "Navigation failed: ..." on standard error when a
// load fails after its page has started to arrive (after commit). A failure
// before that (an unreachable address, a refused connection) goes unreported,
// and WebKit's own error page is never shown. Main thread only.
class NavigationLogger {
public:
    NavigationLogger() = default;
    ~NavigationLogger();
    NavigationLogger(const NavigationLogger&) = delete;
    NavigationLogger& operator=(const NavigationLogger&) = delete;

    // Called with nothing each time a load finishes without failing.
    std::function<void()> onFinish;

    // Follows the view's loads from now on. The view must outlive the logger,
    // or the logger must not be used once the view is gone.
    void attach(WebKitWebView* webView);

    // Gives up the next load to start if it has not finished within
    // `seconds`: one that has not committed yet ends unreported, one whose
    // page has begun to arrive is reported as having timed out. WebKit has no
    // time-out per request, so this stands in for one.
    void limitLoadTime(double seconds);

    // The view's load events; attach() routes them here.
    void loadStarted();
    void loadCommitted();
    void loadFinished();
    void loadFailed(const GError* error, const char* uri);

    // "<message> (domain <domain>, code <code>, address <uri>)".
    static std::string describeFailure(const GError* error, const char* uri);

private:
    static gboolean timeOut(gpointer logger);
    void disarm();

    WebKitWebView* webView_ = nullptr;
    bool committed_ = false;
    bool failed_ = false;
    // The time limit watches the first load that starts after it is set.
    guint timer_ = 0;
    int startsSinceArmed_ = 0;
    bool timedOut_ = false;
    double limitSeconds_ = 0;
};

} // namespace cadenzo
