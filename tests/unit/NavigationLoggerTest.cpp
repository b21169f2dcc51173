#include "CadenzoPlayer/bridge/NavigationLogger.hpp"
#include "CadenzoPlayer/bridge/WebHost.hpp"

#include <gtest/gtest.h>

#include <chrono>

using namespace cadenzo;

namespace {

class NavigationLoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger.onFinish = [this] { ++finishes; };
        testing::internal::CaptureStderr();
    }
    void TearDown() override {
        if (!stderrTaken) testing::internal::GetCapturedStderr();
    }

    std::string takeStderr() {
        stderrTaken = true;
        return testing::internal::GetCapturedStderr();
    }

    void fail(GQuark domain, int code, const char* message, const char* uri) {
        GError* error = g_error_new_literal(domain, code, message);
        logger.loadFailed(error, uri);
        g_error_free(error);
    }

    // Lets the default GLib context run its timers for a while.
    static void runGLibFor(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            g_usleep(2000);
        }
    }

    NavigationLogger logger;
    int finishes = 0;
    bool stderrTaken = false;
};

} // namespace

TEST_F(NavigationLoggerTest, EveryFinishedLoadCallsOnFinishAndNothingIsWritten) {
    for (int load = 0; load < 2; ++load) {
        logger.loadStarted();
        logger.loadCommitted();
        logger.loadFinished();
    }
    EXPECT_EQ(finishes, 2);
    EXPECT_EQ(takeStderr(), "");
}

TEST_F(NavigationLoggerTest, AFailureAfterCommitIsOneLineAndItsFinishDoesNotCount) {
    logger.loadStarted();
    logger.loadCommitted();
    fail(G_IO_ERROR, G_IO_ERROR_CONNECTION_CLOSED, "Connection terminated unexpectedly", "http://127.0.0.1:8/a");
    logger.loadFinished();  // WebKit reports the failed load as finished too
    EXPECT_EQ(finishes, 0);

    // The next load is judged on its own.
    logger.loadStarted();
    logger.loadCommitted();
    logger.loadFinished();
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(takeStderr(), "Navigation failed: Connection terminated unexpectedly (domain g-io-error-quark, code " +
                                std::to_string(G_IO_ERROR_CONNECTION_CLOSED) + ", address http://127.0.0.1:8/a)\n");
}

TEST_F(NavigationLoggerTest, AFailureBeforeCommitGoesUnreported) {
    logger.loadStarted();
    fail(G_RESOLVER_ERROR, G_RESOLVER_ERROR_NOT_FOUND, "Name not resolved", "https://nowhere.invalid/");
    logger.loadFinished();
    EXPECT_EQ(finishes, 0);
    EXPECT_EQ(takeStderr(), "");
}

TEST_F(NavigationLoggerTest, ALoadStoppedByItsTimeLimitAfterCommitIsReportedAsTimedOut) {
    logger.limitLoadTime(0.05);
    logger.loadStarted();
    logger.loadCommitted();
    runGLibFor(0.2);
    // Stopping a load makes WebKit report it as cancelled.
    fail(G_IO_ERROR, G_IO_ERROR_CANCELLED, "Load request cancelled", "http://127.0.0.1:8/slow");
    EXPECT_EQ(takeStderr(), "Navigation failed: The page did not finish loading within 0.05 seconds "
                            "(domain g-io-error-quark, code 24, address http://127.0.0.1:8/slow)\n");
}

TEST_F(NavigationLoggerTest, TheTimeLimitEndsWithItsLoad) {
    // Finished in time: a later failure is its own.
    logger.limitLoadTime(0.05);
    logger.loadStarted();
    logger.loadCommitted();
    logger.loadFinished();
    runGLibFor(0.15);
    logger.loadStarted();
    logger.loadCommitted();
    fail(G_IO_ERROR, G_IO_ERROR_CANCELLED, "Load request cancelled", "http://127.0.0.1:8/b");

    // Replaced by another load before the limit: that load is not timed.
    logger.limitLoadTime(0.05);
    logger.loadStarted();
    logger.loadStarted();
    logger.loadCommitted();
    runGLibFor(0.15);
    fail(G_IO_ERROR, G_IO_ERROR_CANCELLED, "Load request cancelled", "http://127.0.0.1:8/c");

    EXPECT_EQ(finishes, 1);
    const std::string cancelled = "(domain g-io-error-quark, code " + std::to_string(G_IO_ERROR_CANCELLED);
    const std::string line = "Navigation failed: Load request cancelled " + cancelled + ", address http://127.0.0.1:8/";
    EXPECT_EQ(takeStderr(), line + "b)\n" + line + "c)\n");
}

TEST(WebHostAddress, LoadUrlIsUsedOnlyWhenItIsAValidAbsoluteAddress) {
    const std::string fallback(defaultWebAddress());
    EXPECT_EQ(fallback.rfind("https://", 0), 0u);
    EXPECT_EQ(chooseLoadAddress(std::nullopt), fallback);
    EXPECT_EQ(chooseLoadAddress(""), fallback);
    EXPECT_EQ(chooseLoadAddress("app.example.org/player"), fallback);  // no scheme
    EXPECT_EQ(chooseLoadAddress("http://exa mple.org/"), fallback);
    EXPECT_EQ(chooseLoadAddress("https://example.org/\n"), fallback);
    EXPECT_EQ(chooseLoadAddress(" https://example.org/"), fallback);
    EXPECT_EQ(chooseLoadAddress("https://example.org/%zz"), fallback);
    EXPECT_EQ(chooseLoadAddress("https://example.org/set?list=1"), "https://example.org/set?list=1");
    EXPECT_EQ(chooseLoadAddress("file:///tmp/page.html"), "file:///tmp/page.html");
}
