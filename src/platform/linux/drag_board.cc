#include "platform/linux/drag_board.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>

#include "platform/linux/file_url.h"
#include "platform/system_locations.h"

namespace quenra {
namespace {

constexpr const char* folderName = "tech.ostrell.quenra.dragboard";
constexpr const char* lockName = "board.lock";
constexpr const char* stateName = "state.json";
constexpr const char* countName = "change-count";
constexpr const char* buttonName = "left-button";

[[noreturn]] void throwErrno(const std::string& what, int code = errno) {
    throw std::system_error(code, std::generic_category(), what);
}

// "12\n" -> 12; anything else is not a count.
std::optional<std::int64_t> parseCount(std::string_view text) {
    if (text.size() < 2 || text.back() != '\n') {
        return std::nullopt;
    }
    text.remove_suffix(1);
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc{} || end != text.data() + text.size() || count < 0) {
        return std::nullopt;
    }
    return count;
}

}  // namespace

DragBoardFolder::DragBoardFolder(const std::string& path) : path_(path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        throwErrno("mkdir " + path);
    }
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor_ < 0) {
        throwErrno("open " + path);
    }
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) {
        const int code = errno;
        ::close(descriptor_);
        throwErrno("fstat " + path, code);
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid()) {
        ::close(descriptor_);
        throwErrno("not a private directory: " + path, EPERM);
    }
    if ((status.st_mode & 0077) != 0 && ::fchmod(descriptor_, 0700) != 0) {
        const int code = errno;
        ::close(descriptor_);
        throwErrno("chmod " + path, code);
    }
}

DragBoardFolder::~DragBoardFolder() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

std::optional<std::string> DragBoardFolder::systemPath() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/" + folderName;
    }
    if (const auto caches = SystemLocations::userCachesDirectory()) {
        return *caches + "/" + folderName;
    }
    return std::nullopt;
}

std::shared_ptr<const DragBoardFolder> DragBoardFolder::openSystem() {
    const auto path = systemPath();
    if (!path) {
        throwErrno("drag board: no runtime, caches or home directory", ENOENT);
    }
    // A fresh account may have no caches directory yet; the runtime directory is the login
    // manager's to create, never ours.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        const std::string caches = path->substr(0, path->rfind('/'));
        if (::mkdir(caches.c_str(), 0700) != 0 && errno != EEXIST) {
            throwErrno("mkdir " + caches);
        }
    }
    return std::make_shared<const DragBoardFolder>(*path);
}

std::optional<std::string> DragBoardFolder::read(const char* name, std::size_t maxBytes) const {
    const int file = ::openat(descriptor_, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
        static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        ::close(file);
        return std::nullopt;
    }
    // Files are replaced, never rewritten in place, so the size read here is the size of
    // what this descriptor will read.
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ::close(file);
            return std::nullopt;
        }
        done += static_cast<std::size_t>(got);
    }
    ::close(file);
    return bytes;
}

std::optional<std::string_view> DragBoardFolder::readShort(const char* name, char* buffer,
                                                           std::size_t size) const {
    const int file = ::openat(descriptor_, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (file < 0) {
        return std::nullopt;
    }
    ssize_t got = 0;
    do {
        got = ::read(file, buffer, size);
    } while (got < 0 && errno == EINTR);
    ::close(file);
    if (got < 0 || static_cast<std::size_t>(got) >= size) {
        return std::nullopt;
    }
    return std::string_view(buffer, static_cast<std::size_t>(got));
}

DragBoardFolder::WriterLock::~WriterLock() {
    ::close(descriptor_);
}

std::unique_ptr<DragBoardFolder::WriterLock> DragBoardFolder::lock() const {
    const int file =
        ::openat(descriptor_, lockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        throwErrno("open " + path_ + "/" + lockName);
    }
    while (::flock(file, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int code = errno;
            ::close(file);
            throwErrno("flock " + path_ + "/" + lockName, code);
        }
    }
    return std::make_unique<WriterLock>(file);
}

void DragBoardFolder::replace(const char* name, std::string_view bytes,
                              const WriterLock& /*lock*/) const {
    // No fsync: like the pasteboard it stands for, the board need not outlive the machine, and
    // a state lost to a power cut reads as an empty board.
    const std::string temporary = std::string(".") + name + ".tmp";
    if (::unlinkat(descriptor_, temporary.c_str(), 0) != 0 && errno != ENOENT) {
        throwErrno("unlink " + temporary);
    }
    const int file = ::openat(descriptor_, temporary.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        throwErrno("open " + temporary);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(file, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            const int code = wrote < 0 ? errno : EIO;
            ::close(file);
            ::unlinkat(descriptor_, temporary.c_str(), 0);
            throwErrno("write " + temporary, code);
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (::close(file) != 0) {
        const int code = errno;
        ::unlinkat(descriptor_, temporary.c_str(), 0);
        throwErrno("close " + temporary, code);
    }
    if (::renameat(descriptor_, temporary.c_str(), descriptor_, name) != 0) {
        const int code = errno;
        ::unlinkat(descriptor_, temporary.c_str(), 0);
        throwErrno(std::string("rename ") + name, code);
    }
}

FileDragBoard::FileDragBoard(std::shared_ptr<const DragBoardFolder> folder)
    : folder_(std::move(folder)) {}

std::optional<std::int64_t> FileDragBoard::publishedCount() const {
    // The poll's one read: open, one read call, close. A count file is at most 20 digits and a
    // line feed, so anything that fills the buffer is not a count.
    char buffer[32];
    const auto text = folder_->readShort(countName, buffer, sizeof buffer);
    return text ? parseCount(*text) : std::nullopt;
}

std::int64_t FileDragBoard::changeCount() {
    if (const auto count = publishedCount()) {
        return *count;
    }
    return read().changeCount;
}

std::vector<std::string> FileDragBoard::types() {
    return read().allTypes();
}

std::optional<std::string> FileDragBoard::plainText() {
    return read().string(PasteboardType::plainText);
}

ClaimResult FileDragBoard::claim(const std::string& path) {
    const auto url = FileURL::fromPath(path);
    std::optional<std::int64_t> before;
    ClaimResult result;
    try {
        update([&](DragBoardState& state) {
            before = state.changeCount;
            // A path the board cannot hold (relative, not UTF-8) leaves the browser's drag as
            // it is rather than clearing it for nothing; the unchanged count marks the claim as
            // not confirmed.
            DragBoardState next = state;
            const std::int64_t declared =
                next.declareTypes({PasteboardType::fileURL, PasteboardType::filenames});
            if (url && next.setString(PasteboardType::fileURL, *url) &&
                next.setPropertyList(PasteboardType::filenames,
                                     boost::json::array{boost::json::string(path)})) {
                state = std::move(next);
                result = ClaimResult{declared, true, true};
            } else {
                result = ClaimResult{state.changeCount, false, false};
            }
        });
    } catch (const std::system_error&) {
        // Nothing was published, so the board still shows the count before the claim.
        return ClaimResult{before ? *before : changeCount(), false, false};
    }
    return result;
}

DragBoardState FileDragBoard::read() const {
    if (const auto json = folder_->read(stateName, maxStateBytes)) {
        if (auto state = DragBoardState::decode(*json)) {
            return std::move(*state);
        }
    }
    return DragBoardState{};
}

DragBoardState FileDragBoard::update(const std::function<void(DragBoardState&)>& change) {
    const auto lock = folder_->lock();
    DragBoardState state = read();
    // A count file ahead of the state means the state was lost or damaged; counting on from
    // the higher number keeps the count from ever going back.
    const auto published = publishedCount();
    if (published && *published > state.changeCount) {
        state.changeCount = *published;
    }
    const DragBoardState before = state;
    change(state);
    if (state != before) {
        const auto json = state.encode();
        if (!json) {
            throwErrno("drag board: state is not JSON", EINVAL);
        }
        if (json->size() > maxStateBytes) {
            throwErrno("drag board: state too large", EFBIG);
        }
        folder_->replace(stateName, *json, *lock);
    }
    // The state goes first: a reader that sees the new count finds at least that state. A
    // crash between the two leaves the count behind, and the next writer repairs it.
    if (published != state.changeCount) {
        folder_->replace(countName, std::to_string(state.changeCount) + "\n", *lock);
    }
    return state;
}

FileMouseButtons::FileMouseButtons(std::shared_ptr<const DragBoardFolder> folder)
    : folder_(std::move(folder)) {}

bool FileMouseButtons::isLeftButtonDown() {
    char buffer[16];
    return folder_->readShort(buttonName, buffer, sizeof buffer) == "down\n";
}

void FileMouseButtons::setLeftButtonDown(bool down) {
    const auto lock = folder_->lock();
    folder_->replace(buttonName, down ? "down\n" : "up\n", *lock);
}

}  // namespace quenra
