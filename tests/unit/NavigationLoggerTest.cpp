#include "CadenzoPlayer/bridge/NavigationLogger.hpp"
#include "CadenzoPlayer/bridge/WebHost.hpp"

#include <gtest/gtest.h>

using namespace cadenzo;

namespace {

// Plays load events on a fresh logger: L limits the next load to 1 ms; s, c and f start, commit and finish a
// load; a and p say that its page's document has arrived and has been parsed; x fails it as cancelled; w runs the main context until a timer armed now has fired. Gives the number of
// finishes reported and what was written on standard error.
std::string play(std::string_view events) {
    NavigationLogger logger;
    int finishes = 0;
    logger.onFinish = [&] { ++finishes; };
    g_autoptr(GError) cancelled = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CANCELLED, "Load request cancelled");
    testing::internal::CaptureStderr();
    for (const char event : events) {
        if (event == 'L') logger.limitLoadTime(0.001);
        if (event == 's') logger.loadStarted();
        if (event == 'c') logger.loadCommitted();
        if (event == 'a') logger.documentArrived();
        if (event == 'p') logger.documentParsed();
        if (event == 'f') logger.loadFinished();
        if (event == 'x') logger.loadFailed(cancelled, "http://127.0.0.1:8/a");
        bool fired = event != 'w';
        // A one-shot timer armed after the logger's, so due no earlier.
        if (!fired) g_timeout_add(1, [](gpointer flag) -> gboolean { return *static_cast<bool*>(flag) = true, FALSE; }, &fired);
        while (!fired) g_main_context_iteration(nullptr, TRUE);
    }
    return std::to_string(finishes) + " " + testing::internal::GetCapturedStderr();
}

} // namespace

TEST(NavigationLogger, FailuresAfterCommitAreOneLineAndLoadsOverTheirTimeLimitTimeOut) {
    const std::string cancelled = "Navigation failed: Load request cancelled (domain g-io-error-quark, code " +
                                  std::to_string(G_IO_ERROR_CANCELLED) + ", address http://127.0.0.1:8/a)\n";
    const std::string timedOut = "Navigation failed: The page did not finish loading within 0.001 seconds "
                                 "(domain g-io-error-quark, code 24, address http://127.0.0.1:8/a)\n";
    const std::pair<const char*, std::string> cases[] = {
        // WebKit reports a failed load as finished too; the next load is judged on its own.
        {"scfscf", "2 "}, {"scxfscf", "1 " + cancelled}, {"sxf", "0 "} /* before commit: unreported */,
        // A parsed page counts once, without waiting for the rest of its load.
        {"scpscpf", "2 "},
        // The limit counts from the load's start, not from being set.
        {"Lscwxscx", "0 " + timedOut + cancelled}, {"Lwscwx", "0 " + timedOut},
        // It ends with the page's own document, or with its load: finished in time, or replaced by another.
        {"Lscawx", "0 " + cancelled}, {"Lscfwscx", "1 " + cancelled}, {"Lsscwx", "0 " + cancelled}};
    for (const auto& [events, expected] : cases) EXPECT_EQ(play(events), expected) << events;
}

TEST(WebHostAddress, LoadUrlIsUsedOnlyWhenItIsAValidAbsoluteAddress) {
    const std::string fallback(defaultWebAddress());
    EXPECT_EQ(fallback, "") << "the bundled page is the default";
    for (const char* invalid : {"", "app.example.org/player", "http://exa mple.org/", "https://example.org/\n",
                                " https://example.org/", "https://example.org/\x7F", "https://example.org/%zz"})
        EXPECT_EQ(chooseLoadAddress(invalid), fallback) << invalid;
    for (const char* valid : {"https://example.org/set?list=1", "file:///tmp/page.html"})
        EXPECT_EQ(chooseLoadAddress(valid), valid);
}
