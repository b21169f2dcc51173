#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"
#include "CadenzoPlayer/dispatch/GLibMainThread.hpp"
#include "CadenzoPlayer/dispatch/MainThread.hpp"
#include "CadenzoPlayer/dispatch/ManualClock.hpp"
#include "CadenzoPlayer/dispatch/SerialQueue.hpp"
#include "ErrorText.hpp"

#include <gtest/gtest.h>

#include <glib.h>
#include <pthread.h>

#include <atomic>
#include <optional>

using namespace cadenzo;
using namespace std::chrono_literals;
using Names = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto patience = 10s;  // only a broken implementation waits this long

bool arrives(std::future<void> future) { return future.wait_for(patience) == std::future_status::ready; }

// Polls for what another thread does.
template <class Condition>
bool eventually(Condition condition) {
    const auto end = Clock::now() + patience;
    while (!condition() && Clock::now() < end) std::this_thread::sleep_for(1ms);
    return condition();
}

// What ran, in order; a name gains "!" when it ran on the thread that made the log.
struct Log {
    Task add(std::string name) {
        return [this, name] {
            std::lock_guard lock(mutex);
            names.push_back(std::this_thread::get_id() == owner ? name + "!" : name);
        };
    }
    Names take() {
        std::lock_guard lock(mutex);
        return std::exchange(names, {});
    }
    std::mutex mutex;
    Names names;
    const std::thread::id owner = std::this_thread::get_id();
};

} // namespace

TEST(SerialQueue, RunsTasksInOrderOnItsOwnNamedThreadAndSyncReturnsRethrowsOrRunsInline) {
    auto queue = std::make_unique<SerialQueue>(std::string(applicationIdentifier) + ".player.songplayer");
    Log log;
    Names posted;
    for (int i = 0; i < 50; ++i) queue->async(log.add(posted.emplace_back(std::to_string(i))));
    const auto name = queue->sync([] {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        return std::string(name);
    });
    EXPECT_EQ(std::tuple(log.take(), name, queue->isCurrent()), std::tuple(posted, "songplayer", false));
    EXPECT_EQ(errorText([&] { queue->sync([]() -> int { throw Error("SongPlayer", 2, "Couldn't select device"); }); }),
              "SongPlayer 2: Couldn't select device");

    std::promise<bool> inner;
    queue->async([&] { inner.set_value(queue->sync([&] { return queue->isCurrent(); })); });
    auto answer = inner.get_future();
    if (answer.wait_for(patience) != std::future_status::ready) {
        queue.release();  // deadlocked: joining its thread would hang the run
        FAIL() << "sync from the queue's own thread deadlocked";
    }
    EXPECT_TRUE(answer.get());
}

TEST(SerialQueue, AQueueDestroyedByItsOwnTaskFinishesItAndDropsAndReleasesTheRest) {
    struct Owner {
        SerialQueue queue{"test.owner"};
    };
    auto owner = std::make_shared<Owner>();
    const std::weak_ptr<Owner> watch = owner;
    auto held = std::make_shared<int>(0);
    std::promise<void> finished;
    std::atomic<int> laterRan{0};
    owner->queue.async([keep = owner, &finished]() mutable {
        eventually([&] { return keep.use_count() == 1; });
        keep.reset();  // the last reference: the queue goes on its own thread
        finished.set_value();
    });
    owner->queue.async([&laterRan, held] { ++laterRan; });
    owner->queue.after(0, [&laterRan, held] { ++laterRan; });
    owner.reset();
    ASSERT_TRUE(arrives(finished.get_future()));
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(eventually([&] { return held.use_count() == 1; })) << "dropped tasks were not released";
    EXPECT_EQ(laterRan.load(), 0);
}

// Delayed tasks behave alike on a serial queue and on the pool (one thread, so
// that it runs what it is handed in order).
template <class Queue>
class DelayedTasks : public ::testing::Test {
protected:
    static std::unique_ptr<Queue> make() {
        if constexpr (std::is_same_v<Queue, ConcurrentPool>) return std::make_unique<Queue>("test.delayed", 1);
        else return std::make_unique<Queue>("test.delayed");
    }
    // Moves time on and waits until what fell due has run: a task due at once,
    // handed over after those, reaches the queue behind them.
    void advance(double seconds) {
        clock->advance(seconds);
        std::promise<void> behind;
        queue->after(0, [&] { behind.set_value(); });
        clock->advance(0);
        ASSERT_TRUE(arrives(behind.get_future()));
    }
    // A task that holds `held` until it runs or goes.
    Task holding(const char* name) { return [task = log.add(name), held = held] { task(); }; }

    std::optional<ManualClock> clock{std::in_place};
    std::unique_ptr<Queue> queue = make();
    Log log;
    std::shared_ptr<int> held = std::make_shared<int>(0);
};
using QueueKinds = ::testing::Types<SerialQueue, ConcurrentPool>;
TYPED_TEST_SUITE(DelayedTasks, QueueKinds);

TYPED_TEST(DelayedTasks, RunOffTheCallersThreadInDeadlineOrderThenPostingOrderWhenTheClockGetsThere) {
    for (const auto& [delay, name] : {std::pair{0.8, "A"}, {0.1, "B"}, {0.3, "C"}, {0.1, "D"}, {-1.0, "E"}})
        this->queue->after(delay, this->log.add(name));
    std::vector<Names> steps;
    for (int step = 0; step < 8; ++step) {  // tenths, as a fade steps
        this->advance(0.1);
        steps.push_back(this->log.take());
    }
    EXPECT_EQ(steps, (std::vector<Names>{{"E", "B", "D"}, {}, {"C"}, {}, {}, {}, {}, {"A"}}));
    this->clock->advance(-1);  // time never goes back
    EXPECT_EQ(this->clock->now(), 0.8);
}

// Say, a guide node's volume muted by a delayed task that holds the node weakly.
TYPED_TEST(DelayedTasks, CancelledOnesGoneTargetsAndTheTasksOfAGoneQueueOrClockNeverRunNorHoldAnything) {
    auto kept = std::make_shared<std::atomic<float>>(1.0f);
    auto gone = std::make_shared<std::atomic<float>>(1.0f);
    DelayedTask cancelled = this->queue->after(0.1, this->holding("cancelled"));
    DelayedTask ran = this->queue->after(0.1, this->log.add("ran"));
    for (const auto& target : {gone, kept}) {
        afterWeak(*this->queue, 0.1, std::weak_ptr(target),
                  [task = this->log.add("muted")](std::atomic<float>& volume) { volume = 0.0f, task(); });
    }
    gone.reset();
    EXPECT_EQ(kept.use_count(), 1);
    EXPECT_TRUE(cancelled.cancel());
    EXPECT_EQ(this->held.use_count(), 1);
    EXPECT_FALSE(cancelled.cancel());
    this->advance(0.1);
    EXPECT_EQ(this->log.take(), (Names{"ran", "muted"}));
    EXPECT_EQ(kept->load(), 0.0f);
    EXPECT_FALSE(ran.cancel() || DelayedTask().cancel());  // it ran already; there is none

    this->queue->after(0.1, this->holding("dropped with the queue"));
    this->queue = this->make();
    EXPECT_EQ(this->held.use_count(), 1);
    this->queue->after(0.1, this->holding("dropped with the clock"));
    this->clock.reset();
    EXPECT_EQ(this->held.use_count(), 1);
    EXPECT_TRUE(this->log.take().empty());
}

TYPED_TEST(DelayedTasks, WithoutAManualClockTheSteadyClockRules) {
    this->clock.reset();
    std::promise<double> late;
    const auto start = Clock::now();
    this->queue->after(1e30, this->log.add("never"));  // far off, and no overflow into the past
    this->queue->after(0.03, [&, task = this->log.add("late")] {
        task(), late.set_value(std::chrono::duration<double>(Clock::now() - start).count());
    });
    this->queue->after(0.01, this->log.add("early"));
    auto elapsed = late.get_future();
    ASSERT_EQ(elapsed.wait_for(patience), std::future_status::ready);
    EXPECT_GE(elapsed.get(), 0.03);
    EXPECT_EQ(this->log.take(), (Names{"early", "late"}));
}

TEST(ConcurrentPool, JobsBlockedOnEachOtherAllRunUpToTheCapBeyondWhichTasksWaitAndIdleThreadsRetire) {
    ConcurrentPool pool("test.pool", 5, 0.05);
    const auto meet = [&pool](int jobs) {  // jobs that each wait for all the others
        std::atomic<int> arrived{0}, met{0};
        std::promise<void> allMet;
        for (int i = 0; i < jobs; ++i) {
            pool.async([&] {
                ++arrived;
                if (eventually([&] { return arrived == jobs; }) && ++met == jobs) allMet.set_value();
            });
        }
        return arrives(allMet.get_future());
    };
    EXPECT_TRUE(meet(4));
    EXPECT_TRUE(meet(5));  // four threads going idle, five jobs: none may count on an idle thread another job takes

    std::promise<void> open;
    const auto gate = open.get_future().share();
    std::atomic<int> done{0};
    for (int i = 0; i < 10; ++i) pool.async([&, gate] { gate.wait(), ++done; });
    EXPECT_EQ(pool.threadCount(), 5u);
    open.set_value();
    EXPECT_TRUE(eventually([&] { return done == 10 && pool.threadCount() == 0; }));
    EXPECT_TRUE(meet(2));
}

TEST(ConcurrentPool, ADelayedTaskThatBlocksHoldsUpNoOther) {
    ConcurrentPool pool("test.pooltimer");
    std::promise<void> unblock, second;
    pool.after(0, [blocked = unblock.get_future().share()] { blocked.wait_for(patience); });
    pool.after(0.001, [&] { second.set_value(); });
    EXPECT_TRUE(arrives(second.get_future()));
    unblock.set_value();
}

namespace {

// Posts from another thread a delayed task that calls `end`, a task that posts
// another, and a third. On the loop's thread they must run in the order of
// `scene`, the delayed one no earlier than its delay.
const Names scene{"outer!", "next!", "inner!", "delayed!"};
Clock::time_point postTheScene(MainExecutor& executor, Log& log, std::function<void()> end) {
    const auto start = Clock::now();
    std::thread([&] {
        executor.postAfter(0.02, [&log, end] { log.add("delayed")(), end(); });
        executor.post([&] { executor.post(log.add("inner")), log.add("outer")(); });
        executor.post(log.add("next"));
    }).join();
    return start + 20ms;
}

} // namespace

TEST(MainThread, PostsFromOtherThreadsRunInOrderOnTheLoopsThreadAndAQuitBeforeRunStillEndsIt) {
    auto loop = std::make_shared<MainLoop>();
    EXPECT_EQ(MainThread::install(MainThread::install(loop)), loop);
    Log log;
    const auto due = postTheScene(*loop, log, [&] { loop->quit(); });
    EXPECT_TRUE(loop->runFor(10.0)) << "the loop was never told to quit";
    EXPECT_GE(Clock::now(), due);
    EXPECT_EQ(log.take(), scene);

    // What was posted before the quit runs, then the loop ends.
    loop->post(log.add("before"));
    loop->quit();
    loop->post(log.add("after"));
    EXPECT_TRUE(loop->runFor(10.0));
    EXPECT_EQ(log.take(), Names{"before!"});
    EXPECT_FALSE(loop->runFor(0.01));
    EXPECT_EQ(log.take(), Names{"after!"});
}

TEST(GLibMainThread, PostsRunInOrderOnTheThreadIteratingTheContext) {
    GMainContext* context = g_main_context_new();
    GLibMainThread executor(context);
    g_main_context_unref(context);
    Log log;
    std::atomic<bool> done{false};
    const auto due = postTheScene(executor, log, [&] { done = true; });
    while (!done && Clock::now() < due + patience) {
        if (!g_main_context_iteration(context, FALSE)) std::this_thread::sleep_for(1ms);
    }
    EXPECT_GE(Clock::now(), due - 1ms);  // GLib keeps time in whole milliseconds
    EXPECT_EQ(log.take(), scene);
}
