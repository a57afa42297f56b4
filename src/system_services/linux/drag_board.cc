#include "system_services/linux/drag_board.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <cerrno>
#include <charconv>
#include <cstdlib>

#include "bridge_core/files.h"
#include "platform/system_files.h"
#include "platform/system_locations.h"
#include "system_services/linux/file_url.h"

namespace quenra {
namespace {

constexpr const char* folderName = "tech.ostrell.quenra.dragboard";
constexpr const char* lockName = "board.lock";
constexpr const char* stateName = "state.json";
constexpr const char* countName = "change-count";
constexpr const char* buttonName = "left-button";

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

DragBoardFolder::DragBoardFolder(const std::string& path)
    : path_(path), directory_(Files::openPrivateDirectory(path)) {}

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
        throw FileFailure("drag board: no runtime, caches or home directory", ENOENT);
    }
    // A fresh account may have no caches directory yet; the runtime directory is the login
    // manager's to create, never ours.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        const std::string caches = path->substr(0, path->rfind('/'));
        (void)Files::createDirectory(caches);
    }
    return std::make_shared<const DragBoardFolder>(*path);
}

std::optional<std::string> DragBoardFolder::read(const char* name, std::size_t maxBytes) const {
    // Files are replaced, never rewritten in place, so the size read is the size of what the
    // descriptor reads.
    const auto bytes =
        Files::readSmallAt(directory_.get(), name, static_cast<std::int64_t>(maxBytes));
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

std::optional<std::string_view> DragBoardFolder::read(const char* name,
                                                      std::span<char> buffer) const noexcept {
    const auto bytes = Files::readSmallAt(
        directory_.get(), name,
        std::span(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size()));
    if (!bytes) {
        return std::nullopt;
    }
    return std::string_view(buffer.data(), bytes->size());
}

std::optional<DragBoardFolder::FileVersion> DragBoardFolder::versionOf(const char* name) const {
    struct stat status {};
    if (::fstatat(directory_.get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    const SystemFiles::Times times = SystemFiles::timesOf(status);
    return FileVersion{static_cast<std::uint64_t>(status.st_dev),
                       static_cast<std::uint64_t>(status.st_ino),
                       static_cast<std::int64_t>(status.st_size), times.modified, times.changed};
}

DragBoardFolder::WriterLock DragBoardFolder::lock() const {
    Descriptor file = Files::openLockFileAt(directory_.get(), lockName, true);
    if (!file.isOpen()) {
        throw FileFailure("open", errno, path_ + "/" + lockName);
    }
    if (!Files::waitForLockExclusive(file)) {
        throw FileFailure("flock", errno, path_ + "/" + lockName);
    }
    return WriterLock(std::move(file));
}

void DragBoardFolder::replace(const char* name, std::string_view bytes,
                              const WriterLock& /*lock*/) const {
    // The lock makes the fixed temporary name safe; one left by a writer that crashed is
    // removed first. No flush: like the pasteboard it stands for, the board need not outlive
    // the machine, and a state lost to a power cut reads as an empty board.
    const std::string temporary = std::string(".") + name + ".tmp";
    if (::unlinkat(directory_.get(), temporary.c_str(), 0) != 0 && errno != ENOENT) {
        throw FileFailure("unlink", errno, path_ + "/" + temporary);
    }
    Files::replaceAt(directory_.get(), name, bytesOf(bytes), temporary, {.flushed = false});
}

FileDragBoard::FileDragBoard(std::shared_ptr<const DragBoardFolder> folder)
    : folder_(std::move(folder)) {}

std::optional<std::int64_t> FileDragBoard::publishedCount() const {
    // The poll's one read. A count file is at most 20 digits and a line feed, so anything
    // longer than the buffer is not a count.
    char buffer[32];
    const auto text = folder_->read(countName, buffer);
    return text ? parseCount(*text) : std::nullopt;
}

std::int64_t FileDragBoard::changeCount() {
    thread_.check();
    if (const auto count = publishedCount()) {
        return *count;
    }
    return stateCount();
}

std::int64_t FileDragBoard::stateCount() {
    // Without a count file that reads (a writer ended between the state and the count, and no
    // writer has come since to repair it), the poll would read the whole state every 5 ms: it
    // is read once for each version of the file instead. Taken before the read, a version that
    // changes meanwhile is only read once more.
    const auto version = folder_->versionOf(stateName);
    if (!version) {
        return DragBoardState{}.changeCount;
    }
    if (version != stateVersion_) {
        stateVersionCount_ = read().changeCount;
        stateVersion_ = version;
    }
    return stateVersionCount_;
}

std::vector<std::string> FileDragBoard::types() {
    thread_.check();
    return read().allTypes();
}

std::optional<std::string> FileDragBoard::plainText() {
    thread_.check();
    return read().string(PasteboardType::plainText);
}

namespace {

// The board after a claim of paths, or nothing when a path cannot be held (relative, not
// UTF-8) or there is none.
std::optional<DragBoardState> claimed(DragBoardState state, const std::vector<std::string>& paths) {
    std::vector<std::string> urls;
    boost::json::array filenames;
    for (const std::string& path : paths) {
        auto url = FileURL::fromPath(path);
        if (!url) {
            return std::nullopt;
        }
        urls.push_back(std::move(*url));
        filenames.push_back(boost::json::string(path));
    }
    state.declareTypes({PasteboardType::fileURL, PasteboardType::filenames});
    if (urls.empty() || !state.setString(PasteboardType::fileURL, urls.front()) ||
        !state.setPropertyList(PasteboardType::filenames, filenames)) {
        return std::nullopt;
    }
    for (std::size_t index = 1; index < urls.size(); ++index) {
        if (!state.appendItem(PasteboardType::fileURL, urls[index])) {
            return std::nullopt;
        }
    }
    return state;
}

}  // namespace

ClaimResult FileDragBoard::claim(const std::vector<std::string>& paths) {
    thread_.check();
    std::optional<std::int64_t> before;
    ClaimResult result;
    try {
        update([&](DragBoardState& state) {
            before = state.changeCount;
            // A path the board cannot hold leaves the browser's drag as it is rather than
            // clearing it for nothing; the unchanged count marks the claim as not confirmed.
            if (auto next = claimed(state, paths)) {
                const std::int64_t declared = next->changeCount;
                state = std::move(*next);
                result = ClaimResult{declared, true, true};
            } else {
                result = ClaimResult{state.changeCount, false, false};
            }
        });
    } catch (const FileFailure&) {
        // Nothing was published, so the board still shows the count before the claim.
        return ClaimResult{before ? *before : changeCount(), false, false};
    }
    return result;
}

DragBoardState FileDragBoard::read() const {
    thread_.check();
    if (const auto json = folder_->read(stateName, maxStateBytes)) {
        if (auto state = DragBoardState::decode(*json)) {
            return std::move(*state);
        }
    }
    return DragBoardState{};
}

DragBoardState FileDragBoard::update(const std::function<void(DragBoardState&)>& change) {
    thread_.check();
    const DragBoardFolder::WriterLock lock = folder_->lock();
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
            throw FileFailure("drag board: state is not JSON", EINVAL);
        }
        if (json->size() > maxStateBytes) {
            throw FileFailure("drag board: state too large", EFBIG);
        }
        folder_->replace(stateName, *json, lock);
    }
    // The state goes first: a reader that sees the new count finds at least that state. A
    // crash between the two leaves the count behind, and the next writer repairs it.
    if (published != state.changeCount) {
        folder_->replace(countName, std::to_string(state.changeCount) + "\n", lock);
    }
    return state;
}

FileMouseButtons::FileMouseButtons(std::shared_ptr<const DragBoardFolder> folder)
    : folder_(std::move(folder)) {}

bool FileMouseButtons::isLeftButtonDown() {
    char buffer[16];
    return folder_->read(buttonName, buffer) == "down\n";
}

void FileMouseButtons::setLeftButtonDown(bool down) {
    const DragBoardFolder::WriterLock lock = folder_->lock();
    folder_->replace(buttonName, down ? "down\n" : "up\n", lock);
}

}  // namespace quenra
