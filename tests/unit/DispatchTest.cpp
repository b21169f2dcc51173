#include "CadenzoPlayer/Error.hpp"
#include "CadenzoPlayer/dispatch/ConcurrentPool.hpp"
#include "CadenzoPlayer/dispatch/GLibMainThread.hpp"
#include "CadenzoPlayer/dispatch/MainThread.hpp"
#include "CadenzoPlayer/dispatch/SerialQueue.hpp"
#include "ErrorText.hpp"

#include <gtest/gtest.h>

#include <glib.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace cadenzo;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// Generous: only a broken implementation should ever wait this long.
constexpr auto patience = 10s;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool arrives(std::future<void> future) {
    return future.wait_for(patience) == std::future_status::ready;
}

// Blocks its callers until `count` of them have arrived; false if that never happens.
class Rendezvous {
public:
    explicit Rendezvous(int count) : count_(count) {}

    bool arriveAndWait() {
        std::unique_lock lock(mutex_);
        if (++arrived_ == count_) changed_.notify_all();
        return changed_.wait_for(lock, patience, [this] { return arrived_ >= count_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_;
    int arrived_ = 0;
};

} // namespace

TEST(SerialQueue, RunsTasksOneAtATimeInPostingOrderOnItsOwnNamedThread) {
    const std::string label = std::string(applicationIdentifier) + ".player.songplayer";
    SerialQueue queue(label);
    EXPECT_EQ(queue.label(), label);
    EXPECT_FALSE(queue.isCurrent());

    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            mostAtOnce = std::max(mostAtOnce.load(), ++running);
            if (i % 50 == 0) std::this_thread::sleep_for(2ms);
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            --running;
        });
    }
    const auto [seen, name, current] = queue.sync([&] {
        char buffer[16] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        return std::tuple(order, std::string(buffer), queue.isCurrent());
    });

    std::vector<int> posted(200);
    std::iota(posted.begin(), posted.end(), 0);
    EXPECT_EQ(seen, posted);
    EXPECT_EQ(mostAtOnce.load(), 1);
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    EXPECT_EQ(std::count(threads.begin(), threads.end(), threads.front()), 200);
    EXPECT_EQ(name, "songplayer");
    EXPECT_TRUE(current);
}

TEST(SerialQueue, SyncReturnsTheValueOrRethrows) {
    SerialQueue queue("test.sync");
    EXPECT_EQ(queue.sync([] { return std::string("played"); }), "played");
    bool ran = false;
    queue.sync([&] { ran = true; });
    EXPECT_TRUE(ran);

    const auto failing = []() -> double { throw Error("SongPlayer", 2, "Couldn't select device"); };
    EXPECT_EQ(errorText([&] { queue.sync(failing); }), "SongPlayer 2: Couldn't select device");
    EXPECT_EQ(queue.sync([] { return 5; }), 5);
}

TEST(SerialQueue, SyncOnTheQueuesOwnThreadRunsInline) {
    auto queue = std::make_unique<SerialQueue>("test.reentrant");
    std::promise<bool> result;
    queue->async([&] {
        const auto outer = std::this_thread::get_id();
        result.set_value(queue->sync([&] { return std::this_thread::get_id() == outer && queue->isCurrent(); }));
    });
    auto answer = result.get_future();
    if (answer.wait_for(patience) != std::future_status::ready) {
        queue.release(); // deadlocked: joining its thread would hang the run
        FAIL() << "sync from the queue's own thread deadlocked";
    }
    EXPECT_TRUE(answer.get());
}

TEST(SerialQueue, DelayedTasksRunInDeadlineOrderWithDeadlinesTakenWhenPosted) {
    SerialQueue queue("test.deadlines");
    std::vector<std::string> order;
    double xAfter = -1;
    std::promise<void> allPosted;
    std::promise<void> done;

    // The queue is busy for half a second after X is posted. X's deadline has
    // passed by then, so X runs before Y, which is posted at the end of the busy
    // spell, due 0.1 s later. A deadline taken once the queue got free would
    // put X after Y.
    queue.async([&, posted = allPosted.get_future().share()] {
        posted.wait();
        std::this_thread::sleep_for(500ms);
        queue.after(0.1, [&] {
            order.push_back("Y");
            done.set_value();
        });
    });
    const auto start = Clock::now();
    queue.after(0.2, [&] {
        xAfter = secondsSince(start);
        order.push_back("X");
    });
    queue.after(0.3, [&] { order.push_back("A"); });
    queue.after(0.25, [&] { order.push_back("B"); });
    allPosted.set_value();

    ASSERT_TRUE(arrives(done.get_future()));
    EXPECT_EQ(queue.sync([&] { return order; }), (std::vector<std::string>{"X", "B", "A", "Y"}));
    EXPECT_GE(xAfter, 0.5);

    std::promise<double> fired;
    const auto posted = Clock::now();
    queue.after(0.2, [&] { fired.set_value(secondsSince(posted)); });
    auto elapsed = fired.get_future();
    ASSERT_EQ(elapsed.wait_for(patience), std::future_status::ready);
    EXPECT_GE(elapsed.get(), 0.2);
}

// Delayed tasks behave alike on a serial queue and on the pool.
template <class Queue>
class DelayedTasks : public ::testing::Test {};
using QueueKinds = ::testing::Types<SerialQueue, ConcurrentPool>;
TYPED_TEST_SUITE(DelayedTasks, QueueKinds);

TYPED_TEST(DelayedTasks, RunOffTheCallersThreadNoEarlierThanTheirDeadlineUnlessCancelled) {
    TypeParam queue("test.delayed");
    auto held = std::make_shared<int>(0);
    std::atomic<bool> cancelledRan{false};
    DelayedTask cancelled = queue.after(0.1, [&cancelledRan, held] { cancelledRan = true; });
    EXPECT_EQ(held.use_count(), 2);
    EXPECT_TRUE(cancelled.cancel());
    EXPECT_EQ(held.use_count(), 1) << "a cancelled task still holds what it captured";
    EXPECT_FALSE(cancelled.cancel());

    std::promise<std::pair<double, std::thread::id>> fired;
    const auto start = Clock::now();
    DelayedTask done = queue.after(0.15, [&] { fired.set_value({secondsSince(start), std::this_thread::get_id()}); });
    auto result = fired.get_future();
    ASSERT_EQ(result.wait_for(patience), std::future_status::ready);
    const auto [elapsed, thread] = result.get();
    EXPECT_GE(elapsed, 0.15);
    EXPECT_NE(thread, std::this_thread::get_id());
    // Cancelling a task that already ran, or no task at all, is harmless and says so.
    EXPECT_FALSE(done.cancel());
    EXPECT_FALSE(DelayedTask().cancel());
    EXPECT_FALSE(cancelledRan);
}

// A guide node's volume, muted by a delayed task that holds the node weakly.
TYPED_TEST(DelayedTasks, WeaklyHeldTargetsAreNotKeptAliveAndGoneOnesAreSkipped) {
    TypeParam queue("test.weak");
    auto kept = std::make_shared<std::atomic<float>>(1.0f);
    auto dropped = std::make_shared<std::atomic<float>>(1.0f);
    std::weak_ptr<std::atomic<float>> droppedWatch = dropped;
    std::atomic<int> calls{0};
    std::promise<void> keptMuted;
    afterWeak(queue, 0.05, std::weak_ptr(dropped), [&](std::atomic<float>&) { ++calls; });
    afterWeak(queue, 0.1, std::weak_ptr(kept), [&](std::atomic<float>& volume) {
        volume = 0.0f;
        ++calls;
        keptMuted.set_value();
    });
    EXPECT_EQ(kept.use_count(), 1);
    dropped.reset();
    EXPECT_TRUE(droppedWatch.expired());

    ASSERT_TRUE(arrives(keptMuted.get_future()));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(kept->load(), 0.0f);
}

TYPED_TEST(DelayedTasks, PendingOnesAreDroppedAndReleasedWithTheirQueue) {
    auto held = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    {
        TypeParam queue("test.gone");
        queue.after(0.05, [&ran, held] { ran = true; });
    }
    EXPECT_EQ(held.use_count(), 1) << "dropped tasks were not released";
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(ran);
}

TEST(SerialQueue, DestructionFinishesTheRunningTaskAndDropsTheRest) {
    auto marker = std::make_shared<int>(0);
    std::atomic<int> droppedRan{0};
    std::atomic<bool> runningFinished{false};
    std::promise<void> started;
    {
        SerialQueue queue("test.destroy");
        queue.async([&] {
            started.set_value();
            std::this_thread::sleep_for(100ms);
            runningFinished = true;
        });
        queue.async([&droppedRan, marker] { ++droppedRan; });
        started.get_future().wait();
    }
    EXPECT_TRUE(runningFinished);
    EXPECT_EQ(marker.use_count(), 1) << "dropped tasks were not released";
    EXPECT_EQ(droppedRan.load(), 0);
}

TEST(SerialQueue, QueueDestroyedByItsOwnTaskEndsCleanly) {
    struct Owner {
        SerialQueue queue{"test.owner"};
    };
    auto owner = std::make_shared<Owner>();
    std::weak_ptr<Owner> watch = owner;
    std::promise<void> destroyed;
    std::atomic<bool> laterRan{false};

    owner->queue.async([keep = owner, &destroyed]() mutable {
        keep.reset(); // the last reference: the queue goes on its own thread
        destroyed.set_value();
    });
    owner->queue.after(0.05, [&] { laterRan = true; });
    owner.reset();

    ASSERT_TRUE(arrives(destroyed.get_future()));
    EXPECT_TRUE(watch.expired());
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(laterRan);
}

TEST(ConcurrentPool, JobsBlockedOnEachOtherAllRunAtOnceAndIdleThreadsRetire) {
    ConcurrentPool pool("test.pool", 64, 0.05);
    constexpr int jobs = 6;
    Rendezvous rendezvous(jobs);
    std::atomic<int> metEveryone{0};
    std::atomic<int> finished{0};
    std::promise<void> allDone;
    for (int i = 0; i < jobs; ++i) {
        pool.async([&] {
            if (rendezvous.arriveAndWait()) ++metEveryone;
            if (++finished == jobs) allDone.set_value();
        });
    }
    ASSERT_TRUE(arrives(allDone.get_future()));
    EXPECT_EQ(metEveryone.load(), jobs);

    const auto start = Clock::now();
    while (pool.threadCount() > 0 && Clock::now() - start < patience) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(pool.threadCount(), 0u);
    std::promise<void> again;
    pool.async([&] { again.set_value(); });
    EXPECT_TRUE(arrives(again.get_future()));
}

TEST(ConcurrentPool, AnIdleThreadTakesOnlyOneOfTheTasksPostedTogether) {
    // The fault this guards against depends on timing, hence several rounds.
    for (int round = 0; round < 5; ++round) {
        ConcurrentPool pool("test.idle");
        std::promise<void> warmedUp;
        pool.async([&] { warmedUp.set_value(); });
        warmedUp.get_future().wait();
        std::this_thread::sleep_for(20ms); // let the thread go idle
        ASSERT_EQ(pool.threadCount(), 1u);

        // Each of the two needs the other running: one idle thread is not enough.
        Rendezvous rendezvous(2);
        std::atomic<int> metEachOther{0};
        std::atomic<int> finished{0};
        for (int i = 0; i < 2; ++i) {
            pool.async([&] {
                if (rendezvous.arriveAndWait()) ++metEachOther;
                ++finished;
            });
        }
        const auto start = Clock::now();
        while (finished < 2 && Clock::now() - start < 2 * patience) std::this_thread::sleep_for(5ms);
        ASSERT_EQ(metEachOther.load(), 2) << "round " << round;
        EXPECT_EQ(pool.threadCount(), 2u);
    }
}

TEST(ConcurrentPool, BeyondTheThreadCapTasksWaitTheirTurnAndAllRun) {
    ConcurrentPool pool("test.cap", 2);
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::atomic<int> done{0};
    std::promise<void> allDone;
    for (int i = 0; i < 10; ++i) {
        pool.async([&] {
            mostAtOnce = std::max(mostAtOnce.load(), ++running);
            std::this_thread::sleep_for(20ms);
            --running;
            if (++done == 10) allDone.set_value();
        });
    }
    ASSERT_TRUE(arrives(allDone.get_future()));
    EXPECT_LE(mostAtOnce.load(), 2);
    EXPECT_LE(pool.threadCount(), 2u);
}

TEST(ConcurrentPool, ADelayedTaskThatBlocksHoldsUpNoOther) {
    ConcurrentPool pool("test.pooltimer");
    std::promise<void> unblock;
    std::promise<void> second;
    pool.after(0, [blocked = unblock.get_future().share()] { blocked.wait_for(patience); });
    pool.after(0.02, [&] { second.set_value(); });
    EXPECT_TRUE(arrives(second.get_future()));
    unblock.set_value();
}

namespace {

// Installs an executor for one test and puts the previous one back.
class InstalledExecutor {
public:
    explicit InstalledExecutor(std::shared_ptr<MainExecutor> executor)
        : executor_(executor), previous_(MainThread::install(std::move(executor))) {}
    ~InstalledExecutor() { EXPECT_EQ(MainThread::install(previous_), executor_); }

private:
    std::shared_ptr<MainExecutor> executor_;
    std::shared_ptr<MainExecutor> previous_;
};

} // namespace

TEST(MainThread, PostsFromOtherThreadsRunInOrderOnTheThreadRunningTheLoop) {
    auto loop = std::make_shared<MainLoop>();
    InstalledExecutor installed(loop);
    ConcurrentPool pool("test.replies");

    std::vector<int> order; // touched only by the loop's thread
    std::vector<std::thread::id> ranOn;
    double delayedAfter = -1;
    const auto start = Clock::now();
    pool.async([&] {
        MainThread::postAfter(0.1, [&] {
            delayedAfter = secondsSince(start);
            ranOn.push_back(std::this_thread::get_id());
            loop->quit();
        });
        for (int i = 0; i < 5; ++i) {
            MainThread::post([&, i] {
                order.push_back(i);
                ranOn.push_back(std::this_thread::get_id());
            });
        }
    });
    ASSERT_TRUE(loop->runFor(10.0)) << "the loop was never told to quit";

    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_GE(delayedAfter, 0.1);
    EXPECT_EQ(ranOn, std::vector<std::thread::id>(6, std::this_thread::get_id()));
}

TEST(MainThread, PostingNeverRunsInlineAndAQuitBeforeRunStillEndsIt) {
    MainLoop loop;
    std::vector<std::string> order;
    loop.post([&] {
        loop.post([&] { order.push_back("inner"); });
        order.push_back("outer");
    });
    loop.quit(); // before run(): what was posted so far runs, then the loop ends
    EXPECT_TRUE(loop.runFor(10.0));
    EXPECT_EQ(order, (std::vector<std::string>{"outer"}));

    loop.quit();
    EXPECT_TRUE(loop.runFor(10.0));
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner"}));
    EXPECT_FALSE(loop.runFor(0.05));
}

TEST(GLibMainThread, PostsRunInOrderOnTheThreadIteratingTheContext) {
    GMainContext* context = g_main_context_new();
    GLibMainThread executor(context);

    std::vector<std::string> order;
    std::vector<std::thread::id> ranOn;
    double delayedAfter = -1;
    bool done = false;
    const auto start = Clock::now();
    {
        ConcurrentPool pool("test.glib");
        pool.async([&] {
            executor.postAfter(0.1, [&] {
                delayedAfter = secondsSince(start);
                ranOn.push_back(std::this_thread::get_id());
                done = true;
            });
        });
        executor.post([&] {
            ranOn.push_back(std::this_thread::get_id());
            order.push_back("outer begins");
            executor.post([&] { order.push_back("inner"); });
            order.push_back("outer ends");
        });
        while (!done && Clock::now() - start < patience) {
            if (!g_main_context_iteration(context, FALSE)) std::this_thread::sleep_for(1ms);
        }
    }

    EXPECT_EQ(order, (std::vector<std::string>{"outer begins", "outer ends", "inner"}));
    EXPECT_GE(delayedAfter, 0.1 - 0.001); // GLib keeps time in microseconds
    EXPECT_EQ(ranOn, std::vector<std::thread::id>(2, std::this_thread::get_id()));
    g_main_context_unref(context);
}
