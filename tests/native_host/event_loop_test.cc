#include "native_host/event_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace quenra {
namespace {

using std::chrono::milliseconds;

TEST(EventLoopTest, HandOffsRunOnTheLoopThreadInOrderAndReturnAfterRunning) {
    EventLoop loop;
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
        loop.stop();
    });
    loop.run();
    other.join();
    EXPECT_EQ(loopThread, std::this_thread::get_id());
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(seenOnReturn, (std::vector<int>{1, 2, 3}));
}

TEST(EventLoopTest, TimersFireInDeadlineOrder) {
    EventLoop loop;
    std::vector<char> fired;
    loop.addRepeatingTimer(milliseconds(200), [&] {
        fired.push_back('b');
        loop.stop();
    });
    EventLoop::TimerId early =
        loop.addRepeatingTimer(milliseconds(1), [&] { fired.push_back('a'); });
    loop.run();
    ASSERT_GE(fired.size(), 2u);
    EXPECT_EQ(fired.front(), 'a');
    EXPECT_EQ(fired.back(), 'b');
    loop.cancelTimer(early);
    EXPECT_EQ(loop.timerCount(), 1u);
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
    loop.addRepeatingTimer(milliseconds(30), [&] { loop.stop(); });
    loop.run();
    EXPECT_EQ(firings, 1);
    EXPECT_EQ(loop.timerCount(), 1u);
}

TEST(EventLoopTest, ATimerAddedDuringAHandOffWakesTheLoop) {
    EventLoop loop;
    bool fired = false;
    std::thread other([&] {
        loop.runAndWait([&] {
            loop.addRepeatingTimer(milliseconds(1), [&] {
                fired = true;
                loop.stop();
            });
        });
    });
    loop.run();
    other.join();
    EXPECT_TRUE(fired);
}

TEST(EventLoopTest, StopFromAnotherThreadEndsAnIdleRun) {
    EventLoop loop;
    loop.addRepeatingTimer(std::chrono::hours(1), [] {});
    std::thread other([&] { loop.stop(); });
    loop.run();
    other.join();
    EXPECT_EQ(loop.timerCount(), 1u);
}

}  // namespace
}  // namespace quenra
