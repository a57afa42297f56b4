// The one way both programs reach the file system (the platform layer below it, which finds
// where things are, aside): an owned descriptor, writing every byte, bounded whole-file reads,
// directories (private or not), exclusive creation with a flush or a copy, renames that never
// replace, replacement by rename, removal, listing, an item's status, links and resolved paths.
// Every descriptor is close-on-exec, nothing follows a symbolic link in the last component of
// what it creates, reads or checks (unless the caller asks statusOf to), and every failure is a
// FileFailure that names the step and its errno.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bridge_core/bytes.h"

namespace quenra {

// The failed step ("mkdir", "chmod", "not-a-private-directory", "open", "write", "fsync", "close",
// "rename", "read", "pipe"...) and the errno it failed with (1 for "not-a-private-directory"),
// plus the path it worked on when one is known. A std::system_error, so callers that report
// system errors report these too.
class FileFailure : public std::system_error {
  public:
    FileFailure(std::string operation, std::int32_t errorNumber, std::string path = {});

    const std::string& operation() const { return operation_; }
    std::int32_t errorNumber() const { return code().value(); }
    // Empty when the step had no path (a write to a descriptor).
    const std::string& path() const { return path_; }
    // "<operation> failed (errno <code>)", e.g. "open failed (errno 17)"; the path is left out.
    std::string description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    // The step and the errno; the path does not take part.
    bool operator==(const FileFailure& other) const {
        return operation_ == other.operation_ && errorNumber() == other.errorNumber();
    }

  private:
    std::string operation_;
    std::string path_;
    std::string description_;
};

// What sat at a path where a regular file was needed.
enum class FileKind { directory, namedPipe, characterDevice, blockDevice, socket, other };

// A path that had to be a regular file and was something else: ("read", EISDIR) for a
// directory, ("read", EINVAL) for anything else, with what was found there.
class NotARegularFile : public FileFailure {
  public:
    NotARegularFile(std::string path, FileKind found);

    FileKind found() const { return found_; }

  private:
    FileKind found_;
};

// One open descriptor and the duty to close it: closed when the owner goes, moved but never
// copied. For a lock file, closing is what gives the lock up.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    // -1 when none is held.
    int get() const { return descriptor_; }
    bool isOpen() const { return descriptor_ >= 0; }
    // Closes the one held, if any (its close(2) result is of no use then), and holds descriptor.
    void reset(int descriptor = -1);
    // Closes now and reports whether close(2) succeeded (errno set when not): after a write, the
    // last chance to hear that it was lost.
    bool close();

  private:
    int descriptor_ = -1;
};

namespace Files {

// Writes every byte, repeating EINTR. Any other failure throws ("write", errno); a write that
// makes no progress on a non-empty request throws ("write", EIO) rather than loop for ever.
// Nothing to write succeeds at once.
void writeAll(int descriptor, ByteView bytes);

// Creates the directory with mode 0700 if missing, opens it without following a link, then
// requires through that descriptor a real directory owned by the current user and narrows a
// mode with group or other bits to 0700. Throws ("mkdir", errno), ("not-a-private-directory", 1)
// for a link, a file or another user's directory, ("open", errno) and ("chmod", errno).
void ensurePrivateDirectory(const std::string& path);

// ensurePrivateDirectory, keeping the descriptor it checked for use, so a folder swapped for a
// link later cannot redirect what is done in it.
Descriptor openPrivateDirectory(const std::string& path);

// Whether a read may update the file's access time. leave opens our own files so that it does
// not, where the system allows.
enum class AccessTime { update, leave };

// path opened as a real directory (not a link) owned by the current user, or nothing open.
Descriptor openOwnDirectory(const std::string& path, AccessTime access = AccessTime::update);

// How a new file is made: its exact mode (whatever the umask), and whether its bytes are
// flushed to disk before it is closed and, after a rename, the directory too.
struct NewFile {
    unsigned mode = 0600;
    bool flushed = true;
};

// Creates path exclusively (no-follow), writes all bytes and flushes them unless told not to. An
// existing name of any kind fails with ("open", EEXIST). A partly written file is left for the
// caller to clean up.
void writeNew(const std::string& path, ByteView bytes, NewFile how = {});

// Replaces name in directory (a descriptor, or the directory's path for the path form) with
// bytes in one step: a new file temporaryName beside it, written whole, then renamed over it.
// Readers see the old file or the new one, never part of either. On failure the old file stays
// and the temporary is removed (unless the failure was that the temporary's name was taken).
void replace(const std::string& path, ByteView bytes, const std::string& temporaryName,
             NewFile how = {});
void replaceAt(int directory, const std::string& name, ByteView bytes,
               const std::string& temporaryName, NewFile how = {});

// A replacement written beside the file it replaces and still open, not yet flushed: several
// of them are flushed, then put in place, together (one wait for the disk where one replace
// each would wait once per file). Destroying it removes the temporary unless it was put in place.
class Staged {
  public:
    Staged(Staged&& other) noexcept = default;
    Staged& operator=(Staged&& other) noexcept;
    Staged(const Staged&) = delete;
    Staged& operator=(const Staged&) = delete;
    ~Staged();

    // Removes the temporary now, unless it was put in place. Safe to repeat.
    void discard() noexcept;

  private:
    friend Staged stage(const std::string&, ByteView, const std::string&, unsigned);
    friend void flush(Staged&);
    friend void putInPlace(Staged&);
    Staged() = default;

    Descriptor directory_;
    Descriptor file_;
    std::string name_;
    std::string temporaryName_;
};

// A new file at path (exclusive, no-follow, exact mode 0600) opened for writing. Throws
// ("open" or "chmod", errno).
Descriptor createForWriting(const std::string& path);
// Flushes what was written through descriptor to disk. Throws ("fsync", errno).
void flush(const Descriptor& descriptor);
// Sets the item's modification time to now; failures are ignored.
void touch(const Descriptor& descriptor);
// The bytes an unprivileged process may still write on the volume holding path; nothing when
// the system cannot say.
std::optional<std::int64_t> freeBytes(const std::string& path);

// Writes bytes to a new file temporaryName (exact mode) beside path, keeping it open. On failure
// nothing is left and the step's FileFailure is thrown.
Staged stage(const std::string& path, ByteView bytes, const std::string& temporaryName,
             unsigned mode = 0600);
// Flushes the staged bytes to disk. Throws ("fsync", errno); the temporary stays staged.
void flush(Staged& staged);
// Renames the flushed temporary over its file, which readers then see whole. Throws ("rename",
// errno) and removes the temporary. The directory is not flushed: flushDirectory does that once
// for every rename made in it.
void putInPlace(Staged& staged);

// A regular file opened for reading, with its size and permission bits when it was opened.
struct OpenFile {
    Descriptor descriptor;
    std::int64_t size = 0;
    unsigned mode = 0;
};

// The regular file at path (relative to the open directory for the At form) opened for reading
// without following a link and without waiting: a FIFO or a device under the name is opened
// only to be refused, never read or waited on. Throws ("open", errno) when it cannot be opened
// (a symbolic link included), NotARegularFile for anything but a regular file, and
// ("read", errno) when its status cannot be read.
OpenFile openRegularFile(const std::string& path);
OpenFile openRegularFileAt(int directory, const std::string& path,
                           AccessTime access = AccessTime::update);

// The whole regular file at path (relative to the open directory for the At form) when it is at
// most maxBytes long. Throws as openRegularFileAt, ("read", EFBIG) when it is too large, and
// ("read", errno) when reading fails or ends early. Bytes appended after the size was read are
// not read.
ByteBuffer readBounded(const std::string& path, std::int64_t maxBytes);
ByteBuffer readBoundedAt(int directory, const std::string& path, std::int64_t maxBytes,
                         AccessTime access = AccessTime::update);
// The same, with every problem read as nothing.
std::optional<ByteBuffer> readSmall(const std::string& path, std::int64_t maxBytes);
std::optional<ByteBuffer> readSmallAt(int directory, const std::string& path, std::int64_t maxBytes,
                                      AccessTime access = AccessTime::update);
// The same read into buffer, for a file of at most buffer's size: the bytes read, at its start.
// Opened as openRegularFileAt opens, it allocates nothing and throws nothing, so that a poll can
// read every few milliseconds.
std::optional<ByteView> readSmallAt(int directory, const char* name, std::span<std::uint8_t> buffer,
                                    AccessTime access = AccessTime::update) noexcept;

// Renames from to to, failing with ("rename", EEXIST) instead of replacing anything.
void renameExclusive(const std::string& from, const std::string& to);

// Removes path and everything below it without following symbolic links; errors are ignored.
void removeTree(const std::string& path);

// Removes the file or link at path. False when nothing was there; throws ("remove", errno) on
// any other failure.
bool removeFile(const std::string& path);

// Creates the directory with mode 0700 exactly, whatever the umask. False when something of any
// kind already has that name; throws ("mkdir", errno) on any other failure, and ("chmod", errno)
// when the new directory's mode cannot be set (it is removed again).
bool createDirectory(const std::string& path);
// Creates the directory and each missing parent with exactly mode; a directory already there
// (or a link to one) is no failure. Throws ("mkdir", errno) or ("chmod", errno) naming path
// itself.
void createDirectories(const std::string& path, unsigned mode);

// Creates path exclusively (no-follow) with exactly mode, copies into it everything that
// can be read from input through a fixed buffer, and flushes it. Throws ("create", errno) or
// ("write", errno) naming path, or ("read", errno) naming inputPath; the new file is then removed.
void copyToNew(int input, const std::string& inputPath, const std::string& path, unsigned mode);

// What is under a name, as the programs judge it: its kind, whether the current user owns it,
// its identity and size, and its times in whole seconds since the epoch.
struct Status {
    enum class Kind { regularFile, directory, symbolicLink, other };
    Kind kind = Kind::other;
    bool ownedByUser = false;
    std::int64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;  // of the item's status, not only its contents
};

// Whether statusOf follows a symbolic link in the last component.
enum class LastLink { notFollowed, followed };

// The status of path (of name in the open directory for the At form, never followed); nothing
// when it cannot be examined, usually because nothing is there.
std::optional<Status> statusOf(const std::string& path, LastLink link = LastLink::notFollowed);
std::optional<Status> statusAt(int directory, const std::string& name);

// Whether path is a regular file, not a link, that the current user may run.
bool isExecutableFile(const std::string& path);

// The target of the symbolic link at path, as the link spells it; nothing when path is not a link
// or cannot be examined. Throws ("readlink", errno) for a link that cannot be read.
std::optional<std::string> linkTarget(const std::string& path);

// path with the links of the part that exists resolved; the part that does not exist yet is kept
// as written. Nothing when the existing part cannot be resolved.
std::optional<std::string> resolvedPath(const std::string& path);

// The names in an open directory, hidden ones included, unsorted; the descriptor stays open, and
// the names are those of the directory that was opened, not of whatever its path names by now.
// Nothing when it cannot be read whole (no descriptor or memory left, say): never a listing that
// looks emptier than the directory is.
std::optional<std::vector<std::string>> namesAt(int directory);

// Opens a lock file read-write, no-follow, close-on-exec and non-blocking (a FIFO planted under
// its name cannot hang the open); creates it when create is true. A lock file of the user's with
// another mode is given 0600, whatever the umask made it; when create is true that includes one
// that could not be opened for writing. Nothing open, with errno set, on failure.
Descriptor openLockFile(const std::string& path, bool create);
Descriptor openLockFileAt(int directory, const std::string& name, bool create);

// An exclusive flock on the descriptor: at once or not at all, or waiting for it.
bool tryLockExclusive(const Descriptor& lock);
bool waitForLockExclusive(const Descriptor& lock);

// Opens directory and fsyncs it, so a rename inside it survives a crash; failures are ignored.
void flushDirectory(const std::string& directory);

// A pipe whose ends are close-on-exec. Throws ("pipe", errno).
struct Pipe {
    Descriptor reading;
    Descriptor writing;
};
Pipe openPipe();

}  // namespace Files

}  // namespace quenra
