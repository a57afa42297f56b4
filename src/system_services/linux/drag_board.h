// The Linux stand-in for the system drag pasteboard and the left mouse button: files in one
// private folder shared by every process of the user, so that a real host can be driven by a
// simulated browser drag (tools/drag_sim). Writers serialise on a lock file and publish by
// rename, so readers never lock and never see a half-written board.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bridge_core/files.h"
#include "bridge_core/services.h"
#include "bridge_core/thread_checker.h"
#include "system_services/linux/drag_board_state.h"

namespace quenra {

// The board's folder, opened once and then reached only through its descriptor, so a folder
// swapped for a link later cannot redirect reads or writes.
class DragBoardFolder {
  public:
    // Creates the folder (mode 0700) if missing and opens it; throws FileFailure when it
    // cannot, or when what is there is not a directory owned by the user. Group and other
    // permissions found on it are removed.
    explicit DragBoardFolder(const std::string& path);

    // $XDG_RUNTIME_DIR/tech.ostrell.quenra.dragboard when XDG_RUNTIME_DIR is absolute, else the
    // user caches directory joined with the same name. Nothing when neither is known.
    static std::optional<std::string> systemPath();
    // The folder of systemPath(), creating the caches directory first when it is the parent.
    static std::shared_ptr<const DragBoardFolder> openSystem();

    const std::string& path() const { return path_; }

    // A file of the folder read whole (Files::readSmallAt); nothing when missing, not a regular
    // file, larger than maxBytes or unreadable. Files are only ever replaced whole, so a read
    // sees all of one.
    std::optional<std::string> read(const char* name, std::size_t maxBytes) const;
    // The same for a file of at most buffer's size, read into it without allocating: the
    // poll's reads.
    std::optional<std::string_view> read(const char* name, std::span<char> buffer) const noexcept;

    // What tells one version of a file of the folder from another: a file put in its place
    // since, or one rewritten to another size or at another time, has another. Nothing when
    // there is no file under the name, or it cannot be examined.
    struct FileVersion {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modified = 0;  // nanoseconds since the epoch
        std::int64_t changed = 0;   // of the status, nanoseconds since the epoch
        bool operator==(const FileVersion&) const = default;
    };
    std::optional<FileVersion> versionOf(const char* name) const;

    // Held by one writer at a time across all processes: the files are read, changed and
    // replaced under it, so no update is lost. Closing the descriptor releases it.
    class WriterLock {
      public:
        explicit WriterLock(Descriptor lock) : lock_(std::move(lock)) {}

      private:
        Descriptor lock_;
    };
    // Waits for the lock; throws FileFailure when the lock file cannot be opened or locked.
    WriterLock lock() const;

    // Replaces a file in one step (temporary file, then rename); the caller holds the lock,
    // which also makes the temporary's fixed name safe. Throws FileFailure, leaving the
    // old file in place.
    void replace(const char* name, std::string_view bytes, const WriterLock& lock) const;

  private:
    std::string path_;
    Descriptor directory_;
};

// Bound to the thread that made it (the main thread, in the host), which every public method
// checks.
class FileDragBoard final : public DragBoard {
  public:
    // Largest state accepted on either side, so a reader never allocates without bound.
    static constexpr std::size_t maxStateBytes = 4 * 1024 * 1024;

    explicit FileDragBoard(std::shared_ptr<const DragBoardFolder> folder);

    // One small file read; the host calls this every 5 ms while a drag is armed.
    std::int64_t changeCount() override;
    std::vector<std::string> types() override;
    std::optional<std::string> plainText() override;
    // Declares, stores the URLs and the path list in one update: nobody sees the board
    // declared but empty. The first item holds the first URL and the list, as the one item of
    // a one-file claim does; each further file adds an item holding its URL. A board that
    // cannot be written gives the count before the claim and no flags.
    ClaimResult claim(const std::vector<std::string>& paths) override;

    // The board as it is now; a missing or unreadable state is an empty board with count 0.
    DragBoardState read() const;
    // Runs change on the current state under the writers' lock and publishes what it leaves;
    // the count moves only as the change's own declarations move it. Returns the new state.
    // Throws FileFailure when it cannot be written; the board is then unchanged.
    DragBoardState update(const std::function<void(DragBoardState&)>& change);

  private:
    std::optional<std::int64_t> publishedCount() const;
    // The state file's count, read again only when the file is another version.
    std::int64_t stateCount();

    std::shared_ptr<const DragBoardFolder> folder_;
    std::optional<DragBoardFolder::FileVersion> stateVersion_;
    std::int64_t stateVersionCount_ = 0;
    ThreadChecker thread_{
        "FileDragBoard"};  // the thread that made the board, like the session that polls it
};

// The left button, kept in its own file: pressing or releasing it is not a pasteboard change.
class FileMouseButtons final : public MouseButtons {
  public:
    explicit FileMouseButtons(std::shared_ptr<const DragBoardFolder> folder);

    bool isLeftButtonDown() override;
    // Throws FileFailure when the state cannot be written.
    void setLeftButtonDown(bool down);

  private:
    std::shared_ptr<const DragBoardFolder> folder_;
};

}  // namespace quenra
