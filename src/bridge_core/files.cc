#include "bridge_core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <utility>

#include "platform/system_files.h"

namespace quenra {

FileFailure::FileFailure(std::string operation, std::int32_t errorNumber, std::string path)
    : std::system_error(errorNumber, std::generic_category()),
      operation_(std::move(operation)),
      path_(std::move(path)),
      description_(operation_ + " failed (errno " + std::to_string(errorNumber) + ")") {}

namespace {

int errorNumberFor(FileKind found) {
    return found == FileKind::directory ? EISDIR : EINVAL;
}

FileKind kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return FileKind::directory;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::namedPipe;
    }
    if (S_ISCHR(mode)) {
        return FileKind::characterDevice;
    }
    if (S_ISBLK(mode)) {
        return FileKind::blockDevice;
    }
    return S_ISSOCK(mode) ? FileKind::socket : FileKind::other;
}

}  // namespace

NotARegularFile::NotARegularFile(std::string path, FileKind found)
    : FileFailure("read", errorNumberFor(found), std::move(path)), found_(found) {}

Descriptor::Descriptor(Descriptor&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        reset(std::exchange(other.descriptor_, -1));
    }
    return *this;
}

void Descriptor::reset(int descriptor) {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
    descriptor_ = descriptor;
}

bool Descriptor::close() {
    const int result = ::close(std::exchange(descriptor_, -1));
    return result == 0;
}

namespace {

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int openRetrying(int directory, const char* path, int flags, mode_t mode = 0) noexcept {
    int opened;
    do {
        opened = ::openat(directory, path, flags, mode);
    } while (opened < 0 && errno == EINTR);
    return opened;
}

int openRetrying(int directory, const std::string& path, int flags, mode_t mode = 0) noexcept {
    return openRetrying(directory, path.c_str(), flags, mode);
}

// A file opened for reading as every read of the programs opens one, and its status; or the
// step that failed, with its errno.
struct ReadableFile {
    enum class Failed { nothing, open, status };

    Descriptor descriptor;
    struct stat status {};
    Failed failed = Failed::nothing;
    int error = 0;
};

// Opens path (relative to directory) for reading without following a link and without waiting:
// a FIFO or a device under the name is opened only to be refused by the caller, never read or
// waited on. Never a controlling terminal. Allocates nothing.
ReadableFile openReadable(int directory, const char* path, Files::AccessTime access) noexcept {
    // Non-blocking so a FIFO under the name cannot hang the open; reads of a regular file
    // ignore the flag.
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    const int quiet = access == Files::AccessTime::leave ? SystemFiles::leaveAccessTimeFlag : 0;
    ReadableFile file;
    file.descriptor.reset(openRetrying(directory, path, flags | quiet));
    if (!file.descriptor.isOpen() && errno == EPERM && quiet != 0) {
        // Not our file: read it the usual way.
        file.descriptor.reset(openRetrying(directory, path, flags));
    }
    if (!file.descriptor.isOpen()) {
        file.failed = ReadableFile::Failed::open;
        file.error = errno;
    } else if (::fstat(file.descriptor.get(), &file.status) != 0) {
        file.failed = ReadableFile::Failed::status;
        file.error = errno;
    }
    return file;
}

// Reads exactly size bytes from the descriptor into bytes, repeating EINTR: 0, or the errno of
// the failed read (EIO when the file ends first).
int readExactly(int descriptor, std::uint8_t* bytes, std::size_t size) noexcept {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t count = ::read(descriptor, bytes + filled, size - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return errno;
        }
        if (count == 0) {
            return EIO;
        }
        filled += static_cast<std::size_t>(count);
    }
    return 0;
}

// Creates name exclusively in directory with the exact mode and writes bytes, leaving the file
// open. A failure after the open leaves the partly written file for the caller.
Descriptor writeOpenAt(int directory, const std::string& name, ByteView bytes, unsigned mode) {
    Descriptor file(
        openRetrying(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.isOpen()) {
        throw FileFailure("open", errno, name);
    }
    // Set whatever the mode came to: a umask may have taken the owner's own bits away.
    if (::fchmod(file.get(), static_cast<mode_t>(mode)) != 0) {
        throw FileFailure("chmod", errno, name);
    }
    try {
        Files::writeAll(file.get(), bytes);
    } catch (const FileFailure& failure) {
        throw FileFailure("write", failure.errorNumber(), name);
    }
    return file;
}

// writeOpenAt, then flushes the bytes if asked and closes the file.
void writeNewAt(int directory, const std::string& name, ByteView bytes, Files::NewFile how) {
    Descriptor file = writeOpenAt(directory, name, bytes, how.mode);
    if (how.flushed && ::fsync(file.get()) != 0) {
        throw FileFailure("fsync", errno, name);
    }
    if (!file.close()) {
        throw FileFailure("close", errno, name);
    }
}

void flushDirectoryAt(int directory) {
    ::fsync(directory);
}

}  // namespace

void Files::writeAll(int descriptor, ByteView bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileFailure("write", errno);
        }
        if (count == 0) {
            throw FileFailure("write", EIO);
        }
        written += static_cast<std::size_t>(count);
    }
}

void Files::ensurePrivateDirectory(const std::string& path) {
    openPrivateDirectory(path);
}

Descriptor Files::openPrivateDirectory(const std::string& path) {
    const bool created = ::mkdir(path.c_str(), 0700) == 0;
    if (!created && errno != EEXIST) {
        throw FileFailure("mkdir", errno, path);
    }
    // Checked and narrowed through the descriptor, never by path again: a link swapped in after
    // the open changes neither what was checked nor whose mode is narrowed.
    Descriptor directory(
        openRetrying(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.isOpen()) {
        // A link (ELOOP) or a file (ENOTDIR) under the name; anything else is the open's own
        // failure.
        const int code = errno;
        if (code == ELOOP || code == ENOTDIR) {
            throw FileFailure("not-a-private-directory", 1, path);
        }
        throw FileFailure("open", code, path);
    }
    struct stat status {};
    if (::fstat(directory.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid()) {
        throw FileFailure("not-a-private-directory", 1, path);
    }
    // One made here gets exactly 0700, whatever the umask took from the owner's own bits; one
    // that was there keeps narrower owner bits and loses only what others could do.
    const mode_t mode = status.st_mode & 07777;
    if ((created ? mode != 0700 : (mode & 0077) != 0) && ::fchmod(directory.get(), 0700) != 0) {
        throw FileFailure("chmod", errno, path);
    }
    return directory;
}

Descriptor Files::openOwnDirectory(const std::string& path, AccessTime access) {
    const int quiet = access == AccessTime::leave ? SystemFiles::leaveAccessTimeFlag : 0;
    Descriptor directory(
        openRetrying(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | quiet));
    struct stat status {};
    if (directory.isOpen() && (::fstat(directory.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
                               status.st_uid != ::getuid())) {
        directory.reset();
    }
    return directory;
}

void Files::writeNew(const std::string& path, ByteView bytes, NewFile how) {
    writeNewAt(AT_FDCWD, path, bytes, how);
}

void Files::replace(const std::string& path, ByteView bytes, const std::string& temporaryName,
                    NewFile how) {
    const std::string directoryPath = parentOf(path);
    const Descriptor directory(
        openRetrying(AT_FDCWD, directoryPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.isOpen()) {
        throw FileFailure("open", errno, directoryPath);
    }
    replaceAt(directory.get(), nameOf(path), bytes, temporaryName, how);
}

void Files::replaceAt(int directory, const std::string& name, ByteView bytes,
                      const std::string& temporaryName, NewFile how) {
    try {
        writeNewAt(directory, temporaryName, bytes, how);
    } catch (const FileFailure& failure) {
        // The temporary is ours only when the exclusive open succeeded.
        if (failure.operation() != "open") {
            ::unlinkat(directory, temporaryName.c_str(), 0);
        }
        throw;
    }
    if (::renameat(directory, temporaryName.c_str(), directory, name.c_str()) != 0) {
        const int code = errno;
        ::unlinkat(directory, temporaryName.c_str(), 0);
        throw FileFailure("rename", code, name);
    }
    if (how.flushed) {
        flushDirectoryAt(directory);
    }
}

Files::Staged& Files::Staged::operator=(Staged&& other) noexcept {
    if (this != &other) {
        discard();
        directory_ = std::move(other.directory_);
        file_ = std::move(other.file_);
        name_ = std::move(other.name_);
        temporaryName_ = std::move(other.temporaryName_);
    }
    return *this;
}

Files::Staged::~Staged() {
    discard();
}

void Files::Staged::discard() noexcept {
    // Only a staging still holding its file owns the temporary: put in place, or moved from, it
    // holds none.
    if (file_.isOpen()) {
        file_.reset();
        ::unlinkat(directory_.get(), temporaryName_.c_str(), 0);
    }
}

Descriptor Files::createForWriting(const std::string& path) {
    Descriptor file(
        openRetrying(AT_FDCWD, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.isOpen()) {
        throw FileFailure("open", errno, path);
    }
    if (::fchmod(file.get(), 0600) != 0) {
        const int code = errno;
        ::unlink(path.c_str());
        throw FileFailure("chmod", code, path);
    }
    return file;
}

void Files::flush(const Descriptor& descriptor) {
    if (::fsync(descriptor.get()) != 0) {
        throw FileFailure("fsync", errno);
    }
}

void Files::touch(const Descriptor& descriptor) {
    ::futimens(descriptor.get(), nullptr);
}

std::optional<std::int64_t> Files::freeBytes(const std::string& path) {
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0) {
        return std::nullopt;
    }
    const auto available = static_cast<unsigned long long>(volume.f_bavail) *
                           static_cast<unsigned long long>(volume.f_frsize);
    return static_cast<std::int64_t>(
        std::min<unsigned long long>(available, std::numeric_limits<std::int64_t>::max()));
}

Files::Staged Files::stage(const std::string& path, ByteView bytes,
                           const std::string& temporaryName, unsigned mode) {
    const std::string directoryPath = parentOf(path);
    Staged staged;
    staged.directory_.reset(
        openRetrying(AT_FDCWD, directoryPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!staged.directory_.isOpen()) {
        throw FileFailure("open", errno, directoryPath);
    }
    staged.name_ = nameOf(path);
    staged.temporaryName_ = temporaryName;
    try {
        staged.file_ = writeOpenAt(staged.directory_.get(), temporaryName, bytes, mode);
    } catch (const FileFailure& failure) {
        // The temporary is ours only when the exclusive open succeeded.
        if (failure.operation() != "open") {
            ::unlinkat(staged.directory_.get(), temporaryName.c_str(), 0);
        }
        throw;
    }
    return staged;
}

void Files::flush(Staged& staged) {
    if (::fsync(staged.file_.get()) != 0) {
        throw FileFailure("fsync", errno, staged.temporaryName_);
    }
}

void Files::putInPlace(Staged& staged) {
    if (::renameat(staged.directory_.get(), staged.temporaryName_.c_str(), staged.directory_.get(),
                   staged.name_.c_str()) != 0) {
        const int code = errno;
        staged.discard();
        throw FileFailure("rename", code, staged.name_);
    }
    // Renamed: the descriptor no longer stands for a temporary to remove.
    staged.file_.reset();
}

ByteBuffer Files::readBounded(const std::string& path, std::int64_t maxBytes) {
    return readBoundedAt(AT_FDCWD, path, maxBytes);
}

Files::OpenFile Files::openRegularFile(const std::string& path) {
    return openRegularFileAt(AT_FDCWD, path);
}

Files::OpenFile Files::openRegularFileAt(int directory, const std::string& path,
                                         AccessTime access) {
    ReadableFile file = openReadable(directory, path.c_str(), access);
    if (file.failed == ReadableFile::Failed::open) {
        throw FileFailure("open", file.error, path);
    }
    if (file.failed == ReadableFile::Failed::status) {
        throw FileFailure("read", file.error, path);
    }
    if (!S_ISREG(file.status.st_mode)) {
        throw NotARegularFile(path, kindOf(file.status.st_mode));
    }
    return OpenFile{std::move(file.descriptor), static_cast<std::int64_t>(file.status.st_size),
                    static_cast<unsigned>(file.status.st_mode & 07777)};
}

ByteBuffer Files::readBoundedAt(int directory, const std::string& path, std::int64_t maxBytes,
                                AccessTime access) {
    const OpenFile file = openRegularFileAt(directory, path, access);
    if (file.size > maxBytes) {
        throw FileFailure("read", EFBIG, path);
    }
    ByteBuffer bytes(static_cast<std::size_t>(file.size));
    // EIO: shorter than its size said.
    if (const int error = readExactly(file.descriptor.get(), bytes.data(), bytes.size())) {
        throw FileFailure("read", error, path);
    }
    return bytes;
}

std::optional<ByteBuffer> Files::readSmall(const std::string& path, std::int64_t maxBytes) {
    return readSmallAt(AT_FDCWD, path, maxBytes);
}

std::optional<ByteBuffer> Files::readSmallAt(int directory, const std::string& path,
                                             std::int64_t maxBytes, AccessTime access) {
    try {
        return readBoundedAt(directory, path, maxBytes, access);
    } catch (const FileFailure&) {
        return std::nullopt;
    }
}

std::optional<ByteView> Files::readSmallAt(int directory, const char* name,
                                           std::span<std::uint8_t> buffer,
                                           AccessTime access) noexcept {
    const ReadableFile file = openReadable(directory, name, access);
    if (file.failed != ReadableFile::Failed::nothing || !S_ISREG(file.status.st_mode) ||
        static_cast<std::uint64_t>(file.status.st_size) > buffer.size()) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(file.status.st_size);
    if (readExactly(file.descriptor.get(), buffer.data(), size) != 0) {
        return std::nullopt;
    }
    return ByteView(buffer.data(), size);
}

void Files::renameExclusive(const std::string& from, const std::string& to) {
    if (!SystemFiles::renameWithoutReplacing(from.c_str(), to.c_str())) {
        throw FileFailure("rename", errno, to);
    }
}

void Files::removeTree(const std::string& path) {
    // remove_all removes a symbolic link itself and never descends through one.
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool Files::removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0) {
        return true;
    }
    if (errno != ENOENT) {
        throw FileFailure("remove", errno, path);
    }
    return false;
}

namespace {

// mkdir with the exact mode, whatever the umask: false when something already has the name. A
// directory whose mode cannot be set is removed again, so no half-usable folder stays behind.
bool makeDirectory(const std::string& path, mode_t mode, const std::string& reported) {
    if (::mkdir(path.c_str(), mode) != 0) {
        if (errno != EEXIST) {
            throw FileFailure("mkdir", errno, reported);
        }
        return false;
    }
    const Descriptor made(
        openRetrying(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made.isOpen() || ::fchmod(made.get(), mode) != 0) {
        const int code = errno;
        ::rmdir(path.c_str());
        throw FileFailure("chmod", code, reported);
    }
    return true;
}

}  // namespace

bool Files::createDirectory(const std::string& path) {
    return makeDirectory(path, 0700, path);
}

void Files::createDirectories(const std::string& path, unsigned mode) {
    // Each missing folder from the top down, so that every one made here gets the mode; a link
    // to a folder on the way is followed, as the path's owner meant it to be.
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        struct stat status {};
        if (!prefix.empty() && (::stat(prefix.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))) {
            (void)makeDirectory(prefix, static_cast<mode_t>(mode), path);
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        throw FileFailure("mkdir", errno, path);
    }
    if (!S_ISDIR(status.st_mode)) {
        throw FileFailure("mkdir", ENOTDIR, path);
    }
}

void Files::copyToNew(int input, const std::string& inputPath, const std::string& path,
                      unsigned mode) {
    Descriptor output(openRetrying(AT_FDCWD, path,
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   static_cast<mode_t>(mode)));
    if (!output.isOpen()) {
        throw FileFailure("create", errno, path);
    }
    try {
        if (::fchmod(output.get(), static_cast<mode_t>(mode)) != 0) {
            throw FileFailure("create", errno, path);
        }
        // Through a fixed buffer, whatever the size of what input holds.
        std::vector<std::uint8_t> chunk(65536);
        for (;;) {
            const ssize_t count = ::read(input, chunk.data(), chunk.size());
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                throw FileFailure("read", errno, inputPath);
            }
            if (count == 0) {
                break;
            }
            try {
                writeAll(output.get(), ByteView(chunk.data(), static_cast<std::size_t>(count)));
            } catch (const FileFailure& failure) {
                throw FileFailure("write", failure.errorNumber(), path);
            }
        }
        if (::fsync(output.get()) != 0 || !output.close()) {
            throw FileFailure("write", errno, path);
        }
    } catch (const FileFailure&) {
        ::unlink(path.c_str());
        throw;
    }
}

namespace {

std::optional<Files::Status> statusFrom(int result, const struct stat& status) {
    if (result != 0) {
        return std::nullopt;
    }
    using Kind = Files::Status::Kind;
    const Kind kind = S_ISREG(status.st_mode)   ? Kind::regularFile
                      : S_ISDIR(status.st_mode) ? Kind::directory
                      : S_ISLNK(status.st_mode) ? Kind::symbolicLink
                                                : Kind::other;
    // The times in whole seconds, through the POSIX names that every system has.
    return Files::Status{.kind = kind,
                         .ownedByUser = status.st_uid == ::getuid(),
                         .device = static_cast<std::int64_t>(status.st_dev),
                         .inode = static_cast<std::uint64_t>(status.st_ino),
                         .size = static_cast<std::int64_t>(status.st_size),
                         .modified = static_cast<std::int64_t>(status.st_mtime),
                         .changed = static_cast<std::int64_t>(status.st_ctime)};
}

}  // namespace

std::optional<Files::Status> Files::statusOf(const std::string& path, LastLink link) {
    struct stat status {};
    return statusFrom(
        link == LastLink::followed ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status),
        status);
}

std::optional<Files::Status> Files::statusAt(int directory, const std::string& name) {
    struct stat status {};
    return statusFrom(::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW), status);
}

bool Files::isExecutableFile(const std::string& path) {
    const std::optional<Status> status = statusOf(path);
    return status && status->kind == Status::Kind::regularFile && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> Files::linkTarget(const std::string& path) {
    const std::optional<Status> status = statusOf(path);
    if (!status || status->kind != Status::Kind::symbolicLink) {
        return std::nullopt;
    }
    // The size the link reported, grown should it have changed since, up to a bound no real
    // target reaches.
    constexpr std::size_t maxTargetBytes = 1 << 16;
    std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(status->size), 64);
    for (;;) {
        std::string target(size + 1, '\0');
        const ssize_t count = ::readlink(path.c_str(), target.data(), target.size());
        if (count < 0) {
            throw FileFailure("readlink", errno, path);
        }
        if (static_cast<std::size_t>(count) <= size) {
            target.resize(static_cast<std::size_t>(count));
            return target;
        }
        if (size >= maxTargetBytes) {
            throw FileFailure("readlink", ENAMETOOLONG, path);
        }
        size *= 2;
    }
}

std::optional<std::string> Files::resolvedPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) {
        return std::nullopt;
    }
    return resolved.string();
}

std::optional<std::vector<std::string>> Files::namesAt(int directory) {
    std::vector<std::string> result;
    // A duplicate of our own: closedir closes what fdopendir took.
    const int duplicate = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0) {
        return std::nullopt;
    }
    DIR* const stream = ::fdopendir(duplicate);
    if (stream == nullptr) {
        ::close(duplicate);
        return std::nullopt;
    }
    // The duplicate shares the descriptor's position; start from the beginning either way.
    ::rewinddir(stream);
    // readdir ends with errno unchanged, and sets it when the listing itself failed.
    errno = 0;
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            result.emplace_back(name);
        }
    }
    const bool complete = errno == 0;
    ::closedir(stream);
    if (!complete) {
        return std::nullopt;
    }
    return result;
}

Descriptor Files::openLockFile(const std::string& path, bool create) {
    return openLockFileAt(AT_FDCWD, path, create);
}

namespace {

// A lock file of ours whose mode is not 0600 gets it: one made under a umask that took the
// owner's write bit, by this program or an earlier one, could otherwise never be opened again.
// Failures are left to the open that follows.
void repairLockMode(int file) {
    struct stat status {};
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::getuid() &&
        (status.st_mode & 07777) != 0600) {
        (void)::fchmod(file, 0600);
    }
}

}  // namespace

Descriptor Files::openLockFileAt(int directory, const std::string& name, bool create) {
    const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    Descriptor lock(openRetrying(directory, name, flags | (create ? O_CREAT : 0), 0600));
    if (!lock.isOpen() && errno == EACCES && create) {
        // Left without the owner's write bit: set its mode through a read-only open, then again.
        const Descriptor readable(openRetrying(directory, name, (flags & ~O_RDWR) | O_RDONLY));
        if (!readable.isOpen()) {
            errno = EACCES;
            return lock;
        }
        repairLockMode(readable.get());
        lock.reset(openRetrying(directory, name, flags));
    }
    if (lock.isOpen()) {
        repairLockMode(lock.get());
    }
    return lock;
}

bool Files::tryLockExclusive(const Descriptor& lock) {
    return ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
}

bool Files::waitForLockExclusive(const Descriptor& lock) {
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

void Files::flushDirectory(const std::string& directory) {
    const Descriptor opened(openRetrying(AT_FDCWD, directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.isOpen()) {
        flushDirectoryAt(opened.get());
    }
}

Files::Pipe Files::openPipe() {
    int ends[2];
    if (!SystemFiles::openPipe(ends)) {
        throw FileFailure("pipe", errno);
    }
    return Pipe{Descriptor(ends[0]), Descriptor(ends[1])};
}

}  // namespace quenra
