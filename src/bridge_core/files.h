// Small, careful file-system operations the clip cache builds on: private directories,
// exclusive creation with a flush, bounded whole-file reads, renames that never replace,
// atomic replacement, tree removal and listing. Every descriptor is close-on-exec and nothing
// follows a symbolic link in the last component of what it creates, reads or checks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quenra {

// The failed step ("mkdir", "chmod", "not-a-private-directory", "open", "write", "fsync",
// "rename") and the errno it failed with (1 for "not-a-private-directory").
class FileFailure : public std::runtime_error {
  public:
    FileFailure(std::string operation, std::int32_t code);

    const std::string& operation() const { return operation_; }
    std::int32_t code() const { return code_; }
    // "<operation> failed (errno <code>)", e.g. "open failed (errno 17)".
    std::string description() const { return what(); }

    bool operator==(const FileFailure& other) const {
        return operation_ == other.operation_ && code_ == other.code_;
    }

  private:
    std::string operation_;
    std::int32_t code_;
};

namespace Files {

using Bytes = std::span<const std::uint8_t>;

inline Bytes bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Creates the directory with mode 0700 if missing, then requires a real directory (not a
// link) owned by the current user, and narrows a mode with group or other bits to 0700.
void ensurePrivateDirectory(const std::string& path);

// Creates path exclusively (mode 0600, no-follow), writes all bytes and flushes them. An
// existing name of any kind fails with ("open", EEXIST). A partly written file is left for the
// caller to clean up.
void writeNew(const std::string& path, Bytes bytes);

// Writes every byte, repeating EINTR. A write that makes no progress fails with ("write", EIO).
void writeAll(int descriptor, Bytes bytes);

// Whether a read may update the file's access time. leave opens our own files with O_NOATIME
// where the system has it: a read of the cache then queues no inode write that the next flush
// of a new entry would have to commit along with it.
enum class AccessTime { update, leave };

// The whole regular file at path when it is at most maxBytes long; nothing on any problem
// (missing, a link, not a regular file, too large, read error, short read).
std::optional<std::vector<std::uint8_t>> readSmall(const std::string& path, std::int64_t maxBytes);
// The same, for a path relative to an open directory descriptor (AT_FDCWD for none). With
// AccessTime::leave a file that is not ours is still read, with its access time updated.
std::optional<std::vector<std::uint8_t>> readSmallAt(int directory, const std::string& path,
                                                     std::int64_t maxBytes,
                                                     AccessTime access = AccessTime::update);

// Renames from to to, failing with ("rename", EEXIST) instead of replacing anything.
void renameExclusive(const std::string& from, const std::string& to);

// Atomically replaces path with bytes through the temporary temporaryName in the same
// directory, then flushes the directory. On failure the old file stays and no temporary does.
void replace(const std::string& path, Bytes bytes, const std::string& temporaryName);

// Removes path and everything below it without following symbolic links; errors are ignored.
void removeTree(const std::string& path);

// The names in directory, hidden ones included, unsorted; empty when it cannot be read.
std::vector<std::string> names(const std::string& directory);

// The same, read through an open directory descriptor, which stays open: the names are those
// of the directory that was checked, not of whatever its path names by now.
std::vector<std::string> namesAt(int directory);

// Opens a lock file read-write, no-follow, close-on-exec; creates it with mode 0600 when
// create is true. The descriptor, or -1 with errno set.
int openLockFile(const std::string& path, bool create);

// Opens directory and fsyncs it, so a rename inside it survives a crash; failures are ignored.
void flushDirectory(const std::string& directory);

}  // namespace Files

}  // namespace quenra
