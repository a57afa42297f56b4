// The permission bits a test expects a file or folder to have been given.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

namespace quenra::testing {

// The permission bits of path itself (a link is not followed); a path that cannot be read
// fails the test that asked.
inline mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

}  // namespace quenra::testing
