#include "native_host/event_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/on_another_thread.h"

namespace quenra {
namespace {

using std::chrono::milliseconds;

// A timer that keeps the loop running until a hand-off cancels it.
EventLoop::TimerId keepRunning(EventLoop& loop) {
    return loop.addRepeatingTimer(std::chrono::hours(1), [] {});
}

TEST(EventLoopTest, HandOffsRunOnTheLoopThreadInOrderAndReturnAfterRunning) {
    EventLoop loop;
    const EventLoop::TimerId running = keepRunning(loop);
    std::thread::id loopThread;
    std::vector<int> ran;
    std::vector<int> seenOnReturn;
    std::thread other([&] {
        for (int value = 1; value <= 3; ++value) {
            loop.runAndWait([&, value] {
                loopThread = std::this_thread::get_id();
                ran.push_back(value);
            });
            seenOnReturn.push_back(static_cast<int>(ran.size()));
        }
        loop.runAndWait([&] { loop.cancelTimer(running); });
    });
    loop.run();
    other.join();
    EXPECT_EQ(loopThread, std::this_thread::get_id());
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(seenOnReturn, (std::vector<int>{1, 2, 3}));
}

// Several callers at once, with a timer firing between their hand-offs: each piece of work runs
// once, alone, and has finished when its caller returns. A wake-up lost between a caller and
// the loop would hang here; a hand-off touched after its caller returned, ASan reports.
TEST(EventLoopTest, ConcurrentCallersTakeTurnsWithATimerBetween) {
    EventLoop loop;
    constexpr int callers = 4;
    constexpr int handOffsEach = 500;
    std::atomic<int> callersLeft = callers;
    std::atomic<int> running = 0;
    int overlaps = 0;
    std::vector<int> ranPerCaller(callers, 0);
    std::atomic<int> unfinishedOnReturn = 0;
    // The timer ends the run, by going, once every caller is done, so it has fired between them.
    EventLoop::TimerId timer = 0;
    timer = loop.addRepeatingTimer(std::chrono::microseconds(50), [&] {
        if (running.fetch_add(1) != 0)
            ++overlaps;
        running.fetch_sub(1);
        if (callersLeft.load() == 0)
            loop.cancelTimer(timer);
    });

    std::vector<std::thread> threads;
    for (int caller = 0; caller < callers; ++caller) {
        threads.emplace_back([&, caller] {
            for (int index = 0; index < handOffsEach; ++index) {
                bool finished = false;
                loop.runAndWait([&] {
                    if (running.fetch_add(1) != 0)
                        ++overlaps;
                    ++ranPerCaller[static_cast<std::size_t>(caller)];
                    finished = true;
                    running.fetch_sub(1);
                });
                if (!finished)
                    unfinishedOnReturn.fetch_add(1);
            }
            callersLeft.fetch_sub(1);
        });
    }
    loop.run();
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(ranPerCaller, std::vector<int>(callers, handOffsEach));
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(unfinishedOnReturn.load(), 0);
}

TEST(EventLoopTest, TimersFireInDeadlineOrderAndTheRunEndsWithTheLastOne) {
    EventLoop loop;
    std::vector<char> fired;
    EventLoop::TimerId early = 0;
    EventLoop::TimerId late = 0;
    late = loop.addRepeatingTimer(milliseconds(200), [&] {
        fired.push_back('b');
        loop.cancelTimer(early);
        EXPECT_EQ(loop.timerCount(), 1u);
        loop.cancelTimer(late);
    });
    early = loop.addRepeatingTimer(milliseconds(1), [&] { fired.push_back('a'); });
    loop.run();
    ASSERT_GE(fired.size(), 2u);
    EXPECT_EQ(fired.front(), 'a');
    EXPECT_EQ(fired.back(), 'b');
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST(EventLoopTest, ATimerCancelledInsideItsFiringNeverFiresAgain) {
    EventLoop loop;
    int firings = 0;
    EventLoop::TimerId self = 0;
    self = loop.addRepeatingTimer(milliseconds(1), [&] {
        ++firings;
        loop.cancelTimer(self);
    });
    // A later timer ends the run; by then the cancelled one would have fired many times.
    EventLoop::TimerId later = 0;
    later = loop.addRepeatingTimer(milliseconds(30), [&] {
        EXPECT_EQ(loop.timerCount(), 1u);
        loop.cancelTimer(later);
    });
    loop.run();
    EXPECT_EQ(firings, 1);
}

TEST(EventLoopTest, ATimerAddedDuringAHandOffWakesTheLoop) {
    EventLoop loop;
    const EventLoop::TimerId running = keepRunning(loop);
    bool fired = false;
    EventLoop::TimerId added = 0;
    std::thread other([&] {
        loop.runAndWait([&] {
            added = loop.addRepeatingTimer(milliseconds(1), [&] {
                fired = true;
                loop.cancelTimer(added);
                loop.cancelTimer(running);
            });
        });
    });
    loop.run();
    other.join();
    EXPECT_TRUE(fired);
}

// The reader's end of input: handed over after the earlier hand-offs, and its caller goes on
// (its thread ends) without waiting for the work, which here waits for the caller in turn.
TEST(EventLoopTest, TheLastHandOffRunsAfterTheOthersWithoutItsCallerWaiting) {
    EventLoop loop;
    const EventLoop::TimerId running = keepRunning(loop);
    std::vector<int> ran;
    std::atomic<bool> callerReturned = false;
    bool returnedBeforeItRan = false;
    std::thread other([&] {
        loop.runAndWait([&] { ran.push_back(1); });
        loop.handOverLast([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!callerReturned && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            returnedBeforeItRan = callerReturned;
            ran.push_back(2);
            loop.cancelTimer(running);
        });
        callerReturned = true;
    });
    loop.run();
    other.join();
    EXPECT_TRUE(returnedBeforeItRan);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

// A hand-off from the loop's own thread would wait for ever for a loop that cannot run: it ends
// the process instead, from a timer as before the run. The loop's other calls belong to its
// thread.
TEST(EventLoopDeathTest, AHandOffFromTheLoopsOwnThreadEndsTheProcessInsteadOfWaiting) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EventLoop loop;
    EXPECT_DEATH(
        loop.runAndWait([] {}),
        "thread-check-failed: .*EventLoop::runAndWait.* called on the thread it waits for");
    EXPECT_DEATH(
        {
            loop.addRepeatingTimer(milliseconds(1), [&] { loop.runAndWait([] {}); });
            loop.run();
        },
        "thread-check-failed: .*EventLoop::runAndWait");
    EXPECT_DEATH(testing::onAnotherThread([&] { loop.addRepeatingTimer(milliseconds(1), [] {}); }),
                 "thread-check-failed: .*EventLoop::addRepeatingTimer.* called on a thread that "
                 "does not own");
}

}  // namespace
}  // namespace quenra
