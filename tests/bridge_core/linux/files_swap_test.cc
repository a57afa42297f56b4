// A private folder swapped for a link at each system call of the check that makes it private.
// renameat2's exchange of two names in one step and ptrace's system-call stops are Linux's, so
// these tests run only there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bridge_core/files.h"
#include "support/file_mode.h"
#include "support/temporary_directory.h"
#include "syscall_stops.h"

namespace quenra {
namespace {

using testing::ChildProcess;
using testing::modeOf;
using testing::TemporaryDirectory;

// The folder, wide open, trades names with a link to another wide-open folder at one stop of
// ensurePrivateDirectory, for every stop in turn: the folder may be narrowed or the link
// refused, but the link's target is never narrowed.
TEST(EnsurePrivateDirectory, NarrowsOnlyTheFolderItChecked) {
    TemporaryDirectory temporary;
    const std::string path = temporary.join("private");
    const std::string other = temporary.join("other");
    const std::string target = temporary.join("target");
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(target.c_str(), other.c_str()), 0);
    const auto exchange = [&] {
        return ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) == 0;
    };

    int narrowed = 0;
    int refused = 0;
    for (int swapAt = 1;; ++swapAt) {
        SCOPED_TRACE("swapped at stop " + std::to_string(swapAt));
        ChildProcess child = testing::startTraced([] {},
                                                  [&] {
                                                      try {
                                                          Files::ensurePrivateDirectory(path);
                                                          return 0;
                                                      } catch (const FileFailure&) {
                                                          return 1;
                                                      }
                                                  });
        bool finished = false;
        for (int stop = 0; stop < swapAt && !finished; ++stop) {
            finished = !testing::resumeToNextSyscallStop(child);
        }
        const bool swapped = !finished && exchange();
        while (!finished) {
            finished = !testing::resumeToNextSyscallStop(child);
        }
        const int status = child.wait();
        ASSERT_TRUE(status == 0 || status == 1) << status;
        (status == 0 ? narrowed : refused) += 1;
        EXPECT_EQ(modeOf(target), 0755u);
        if (swapped) {
            ASSERT_TRUE(exchange());
        } else {
            break;  // the check ended before this stop: every stop has had its swap
        }
        ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
        ASSERT_EQ(::chmod(target.c_str(), 0755), 0);
    }
    EXPECT_GT(narrowed, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace quenra
