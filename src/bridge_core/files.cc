#include "bridge_core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/system_files.h"

namespace quenra {

FileFailure::FileFailure(std::string operation, std::int32_t code)
    : std::runtime_error(operation + " failed (errno " + std::to_string(code) + ")"),
      operation_(std::move(operation)),
      code_(code) {}

namespace {

// Closes on every path out of a scope; close(2) errors after a flushed write carry nothing the
// caller could act on.
class Descriptor {
  public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void Files::ensurePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        throw FileFailure("mkdir", errno);
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid()) {
        throw FileFailure("not-a-private-directory", 1);
    }
    if ((status.st_mode & 0077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        throw FileFailure("chmod", errno);
    }
}

void Files::writeNew(const std::string& path, Bytes bytes) {
    int opened;
    do {
        opened = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) {
        throw FileFailure("open", errno);
    }
    const Descriptor descriptor(opened);
    writeAll(descriptor.get(), bytes);
    if (::fsync(descriptor.get()) != 0) {
        throw FileFailure("fsync", errno);
    }
}

void Files::writeAll(int descriptor, Bytes bytes) {
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

std::optional<std::vector<std::uint8_t>> Files::readSmall(const std::string& path,
                                                          std::int64_t maxBytes) {
    return readSmallAt(AT_FDCWD, path, maxBytes);
}

std::optional<std::vector<std::uint8_t>> Files::readSmallAt(int directory, const std::string& path,
                                                            std::int64_t maxBytes,
                                                            AccessTime access) {
    // Non-blocking so a FIFO under the name cannot hang the open; reads of a regular file
    // ignore the flag.
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    const auto openWith = [&](int extra) {
        int result;
        do {
            result = ::openat(directory, path.c_str(), flags | extra);
        } while (result < 0 && errno == EINTR);
        return result;
    };
    const int quiet = access == AccessTime::leave ? SystemFiles::leaveAccessTimeFlag : 0;
    int opened = openWith(quiet);
    if (opened < 0 && errno == EPERM && quiet != 0) {
        opened = openWith(0);  // not our file: read it the ordinary way
    }
    if (opened < 0) {
        return std::nullopt;
    }
    const Descriptor descriptor(opened);
    struct stat status {};
    if (::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::int64_t>(status.st_size) > maxBytes) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count =
            ::read(descriptor.get(), bytes.data() + filled, bytes.size() - filled);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(count);
    }
    return bytes;
}

void Files::replace(const std::string& path, Bytes bytes, const std::string& temporaryName) {
    const std::string directory = parentOf(path);
    const std::string temporary = directory + "/" + temporaryName;
    try {
        writeNew(temporary, bytes);
    } catch (const FileFailure& failure) {
        // The temporary is ours only when the exclusive open succeeded.
        if (failure.operation() != "open") {
            ::unlink(temporary.c_str());
        }
        throw;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        throw FileFailure("rename", code);
    }
    flushDirectory(directory);
}

void Files::renameExclusive(const std::string& from, const std::string& to) {
    if (!SystemFiles::renameWithoutReplacing(from.c_str(), to.c_str())) {
        throw FileFailure("rename", errno);
    }
}

void Files::removeTree(const std::string& path) {
    // remove_all removes a symbolic link itself and never descends through one.
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> Files::names(const std::string& directory) {
    const int opened = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) {
        return {};
    }
    const Descriptor descriptor(opened);
    return namesAt(descriptor.get());
}

std::vector<std::string> Files::namesAt(int directory) {
    std::vector<std::string> result;
    // A duplicate of our own: closedir closes what fdopendir took.
    const int duplicate = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0) {
        return result;
    }
    DIR* const stream = ::fdopendir(duplicate);
    if (stream == nullptr) {
        ::close(duplicate);
        return result;
    }
    // The duplicate shares the descriptor's position; start from the beginning either way.
    ::rewinddir(stream);
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") {
            result.emplace_back(name);
        }
    }
    ::closedir(stream);
    return result;
}

int Files::openLockFile(const std::string& path, bool create) {
    // Non-blocking so a FIFO planted under the lock's name cannot hang the open.
    const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (create ? O_CREAT : 0);
    int opened;
    do {
        opened = ::open(path.c_str(), flags, 0600);
    } while (opened < 0 && errno == EINTR);
    return opened;
}

void Files::flushDirectory(const std::string& directory) {
    const int opened = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened >= 0) {
        ::fsync(opened);
        ::close(opened);
    }
}

}  // namespace quenra
