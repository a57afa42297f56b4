#include "bridge_core/thread_checker.h"

#include <gtest/gtest.h>

#include "support/on_another_thread.h"

namespace quenra {
namespace {

using testing::onAnotherThread;

// The two kinds of failure: an owned object used from another thread, and a call that waits
// for the owning thread made on it. Each ends the process with a line naming the method.
TEST(ThreadCheckerDeathTest, EndsTheProcessNamingTheMethodOnTheWrongThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ThreadChecker checker{"Checked"};
    checker.check();
    onAnotherThread([&] { checker.checkElsewhere(); });
    EXPECT_DEATH(
        onAnotherThread([&] { checker.check(); }),
        "^quenra-native-host: thread-check-failed: Checked::operator\\(\\) called on a thread that "
        "does not own it\n$");
    EXPECT_DEATH(
        checker.checkElsewhere(),
        "^quenra-native-host: thread-check-failed: Checked::TestBody called on the thread it "
        "waits for\n$");
}

}  // namespace
}  // namespace quenra
