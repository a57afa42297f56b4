#include "bridge_core/arm_lease.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "bridge_core/files.h"
#include "support/child_process.h"
#include "support/temporary_directory.h"

namespace quenra {
namespace {

using testing::ChildProcess;
using testing::ProcessSignal;
using testing::TemporaryDirectory;

TEST(ArmLease, ASecondOpenOfTheLockFileIsRefusedUntilTheFirstIsReleased) {
    TemporaryDirectory folder;
    const std::string path = folder.join("arm.lock");
    std::optional<ArmLease> first = ArmLease::acquire(path);
    ASSERT_TRUE(first.has_value());
    EXPECT_GE(first->descriptor(), 0);
    EXPECT_FALSE(ArmLease::acquire(path).has_value());

    // Moving the lease keeps the lock; only closing the descriptor gives it up.
    ArmLease moved = std::move(*first);
    first.reset();
    EXPECT_FALSE(ArmLease::acquire(path).has_value());
    moved.release();
    EXPECT_EQ(moved.descriptor(), -1);
    moved.release();
    EXPECT_TRUE(ArmLease::acquire(path).has_value());  // destroyed at once, lock gone with it
    EXPECT_TRUE(ArmLease::acquire(path).has_value());
}

TEST(ArmLease, CreatesAPrivateCloseOnExecLockFile) {
    TemporaryDirectory folder;
    const std::string path = folder.join("arm.lock");
    std::optional<ArmLease> lease = ArmLease::acquire(path);
    ASSERT_TRUE(lease.has_value());
    struct stat status {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(status.st_size, 0);
    EXPECT_NE(::fcntl(lease->descriptor(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST(ArmLease, ALockFileThatCannotBeOpenedThrows) {
    TemporaryDirectory folder;
    std::filesystem::create_symlink(folder.join("elsewhere"), folder.join("arm.lock"));
    struct Case {
        std::string path;
        int code;
    };
    for (const Case& item :
         {Case{folder.join("arm.lock"), ELOOP}, Case{folder.join("missing/arm.lock"), ENOENT}}) {
        SCOPED_TRACE(item.path);
        try {
            ArmLease::acquire(item.path);
            ADD_FAILURE() << "no failure";
        } catch (const FileFailure& failure) {
            EXPECT_EQ(failure, FileFailure("open-lock", item.code));
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder.join("elsewhere")));
}

TEST(ArmLease, AnotherProcessHoldingTheLockMakesItBusyUntilItEnds) {
    TemporaryDirectory folder;
    const std::string path = folder.join("arm.lock");
    ProcessSignal held;
    ProcessSignal finish;
    ChildProcess child = ChildProcess::start([&] {
        held.becomeNotifier();
        finish.becomeWaiter();
        std::optional<ArmLease> lease = ArmLease::acquire(path);
        if (!lease) {
            return 1;
        }
        held.notify();
        finish.wait();
        return 0;
    });
    held.becomeWaiter();
    finish.becomeNotifier();
    ASSERT_TRUE(held.wait());
    EXPECT_FALSE(ArmLease::acquire(path).has_value());
    finish.notify();
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(ArmLease::acquire(path).has_value());
}

}  // namespace
}  // namespace quenra
