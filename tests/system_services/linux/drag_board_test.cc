#include "system_services/linux/drag_board.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "support/child_process.h"
#include "support/on_another_thread.h"
#include "support/temporary_directory.h"
#include "system_services/linux/file_url.h"
#include "system_services/system_drag_board.h"
#include "system_services/system_mouse_buttons.h"

namespace quenra {
namespace {

class DragBoardTest : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = std::make_shared<const DragBoardFolder>(folderPath_); }

    void writeFile(const std::string& name, const std::string& bytes) {
        std::ofstream(folderPath_ + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
    }

    testing::TemporaryDirectory temporary_;
    std::string root_ = temporary_.path();
    std::string folderPath_ = root_ + "/tech.ostrell.quenra.dragboard";
    std::shared_ptr<const DragBoardFolder> folder_;
};

// Runs body in a forked child; the child's exit status is body's result.
pid_t forkRunning(const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        bool passed = false;
        try {
            passed = body();
        } catch (const std::exception&) {
            passed = false;
        }
        ::_exit(passed ? 0 : 1);
    }
    return child;
}

bool exitedCleanly(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(DragBoardTest, AFreshBoardIsEmptyAndItsFolderPrivate) {
    FileDragBoard board(folder_);
    EXPECT_EQ(board.changeCount(), 0);
    EXPECT_TRUE(board.types().empty());
    EXPECT_EQ(board.plainText(), std::nullopt);
    struct stat status {};
    ASSERT_EQ(::lstat(folderPath_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(status.st_uid, ::getuid());
}

TEST_F(DragBoardTest, TheFolderMustBeTheUsersOwnDirectory) {
    const std::string open = root_ + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    DragBoardFolder narrowed(open);
    struct stat status {};
    ASSERT_EQ(::lstat(open.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    const std::string link = root_ + "/link";
    ASSERT_EQ(::symlink(open.c_str(), link.c_str()), 0);
    EXPECT_THROW(DragBoardFolder{link}, std::system_error);
    const std::string file = root_ + "/file";
    std::ofstream(file) << "x";
    EXPECT_THROW(DragBoardFolder{file}, std::system_error);
    EXPECT_THROW(DragBoardFolder{root_ + "/missing/parent"}, std::system_error);
}

TEST_F(DragBoardTest, AClaimIsAChangeThatLeavesOnlyTheFile) {
    FileDragBoard board(folder_);
    board.update([](DragBoardState& state) {
        state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
        state.setString(PasteboardType::plainText, "QNR_DAW_DRAG/v1/marker");
    });
    const std::int64_t before = board.changeCount();
    ASSERT_EQ(board.plainText(), "QNR_DAW_DRAG/v1/marker");

    const std::string path = "/tmp/entries/Clip one.mid";
    const ClaimResult result = board.claim({path});
    EXPECT_GT(result.declaredChangeCount, before);
    EXPECT_TRUE(result.fileURLWritten);
    EXPECT_TRUE(result.filenamesWritten);
    EXPECT_EQ(board.changeCount(), result.declaredChangeCount);
    EXPECT_EQ(board.types(),
              (std::vector<std::string>{PasteboardType::fileURL, PasteboardType::filenames}));
    EXPECT_EQ(board.plainText(), std::nullopt);

    const DragBoardState state = board.read();
    EXPECT_EQ(state.string(PasteboardType::fileURL), "file:///tmp/entries/Clip%20one.mid");
    ASSERT_NE(state.propertyList(PasteboardType::filenames), nullptr);
    EXPECT_EQ(*state.propertyList(PasteboardType::filenames), boost::json::array{path});
    ASSERT_EQ(state.items.size(), 1u);

    // Several files: one item each in order, the first also holding the whole list; a path
    // the board cannot hold anywhere in the list leaves the board as it is.
    const std::vector<std::string> paths = {"/tmp/e/a.mid", "/tmp/e/b.mid", "/tmp/e/c.mid"};
    EXPECT_EQ(board.claim({paths[0], "relative.mid", paths[2]}),
              (ClaimResult{result.declaredChangeCount, false, false}));
    const ClaimResult several = board.claim(paths);
    EXPECT_EQ(several, (ClaimResult{result.declaredChangeCount + 1, true, true}));
    const DragBoardState after = board.read();
    ASSERT_EQ(after.items.size(), 3u);
    EXPECT_EQ(after.strings(PasteboardType::fileURL),
              (std::vector<std::string>{"file:///tmp/e/a.mid", "file:///tmp/e/b.mid",
                                        "file:///tmp/e/c.mid"}));
    EXPECT_EQ(*after.propertyList(PasteboardType::filenames),
              (boost::json::array{paths[0], paths[1], paths[2]}));
    EXPECT_EQ(board.types(),
              (std::vector<std::string>{PasteboardType::fileURL, PasteboardType::filenames}));
}

TEST_F(DragBoardTest, AClaimThatCannotBeStoredIsNotConfirmed) {
    FileDragBoard board(folder_);
    board.update([](DragBoardState& state) {
        state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
        state.setString(PasteboardType::plainText, "marker");
    });
    const DragBoardState browserDrag = board.read();
    // Paths the board cannot hold leave the browser's drag untouched, at the same count.
    for (const std::string path : {"/tmp/\xff.mid", "relative.mid", ""}) {
        EXPECT_EQ(board.claim({path}), (ClaimResult{browserDrag.changeCount, false, false}))
            << path;
        EXPECT_EQ(board.read(), browserDrag) << path;
    }

    // A state that cannot be replaced publishes nothing and gives back the count before: here
    // a directory sits where the writer's temporary file goes.
    const std::int64_t current = board.changeCount();
    ASSERT_EQ(::mkdir((folderPath_ + "/.state.json.tmp").c_str(), 0700), 0);
    const ClaimResult failed = board.claim({"/tmp/a.mid"});
    EXPECT_EQ(failed, (ClaimResult{current, false, false}));
    EXPECT_EQ(board.read(), browserDrag);
    EXPECT_EQ(board.changeCount(), current);
}

TEST_F(DragBoardTest, TheButtonIsNotAPasteboardChange) {
    FileDragBoard board(folder_);
    FileMouseButtons mouse(folder_);
    EXPECT_FALSE(mouse.isLeftButtonDown());
    board.update([](DragBoardState& state) { state.declareTypes({PasteboardType::plainText}); });
    const std::int64_t count = board.changeCount();
    mouse.setLeftButtonDown(true);
    EXPECT_TRUE(mouse.isLeftButtonDown());
    EXPECT_EQ(board.changeCount(), count);
    EXPECT_TRUE(FileMouseButtons(folder_).isLeftButtonDown());
    board.claim({"/tmp/a.mid"});
    EXPECT_TRUE(mouse.isLeftButtonDown());
    mouse.setLeftButtonDown(false);
    EXPECT_FALSE(mouse.isLeftButtonDown());
    EXPECT_EQ(board.changeCount(), count + 1);
}

TEST_F(DragBoardTest, StoringForADeclaredTypeKeepsTheCountAndNoChangeWritesNothing) {
    FileDragBoard board(folder_);
    board.update([](DragBoardState& state) { state.declareTypes({PasteboardType::plainText}); });
    EXPECT_EQ(board.changeCount(), 1);
    board.update(
        [](DragBoardState& state) { state.setString(PasteboardType::plainText, "late text"); });
    EXPECT_EQ(board.changeCount(), 1);
    EXPECT_EQ(board.plainText(), "late text");
    const auto stateBefore = folder_->read("state.json", FileDragBoard::maxStateBytes);
    board.update([](DragBoardState& state) { state.setString(PasteboardType::fileURL, "x"); });
    EXPECT_EQ(folder_->read("state.json", FileDragBoard::maxStateBytes), stateBefore);
}

TEST_F(DragBoardTest, GarbageReadsAsAnEmptyBoardAndTheCountNeverGoesBack) {
    FileDragBoard board(folder_);
    for (int change = 0; change < 5; ++change) {
        board.update([](DragBoardState& state) { state.clearContents(); });
    }
    writeFile("state.json", "{\"changeCount\":5,\"items\":[[{\"type\":");
    EXPECT_TRUE(board.types().empty());
    EXPECT_EQ(board.read(), DragBoardState{});
    EXPECT_EQ(board.changeCount(), 5);

    board.update([](DragBoardState& state) { state.declareTypes({PasteboardType::plainText}); });
    EXPECT_EQ(board.changeCount(), 6);
    EXPECT_EQ(board.read().changeCount, 6);

    writeFile("change-count", "garbage");
    writeFile("state.json", "not json");
    EXPECT_EQ(board.changeCount(), 0);
    std::filesystem::remove(folderPath_ + "/change-count");
    std::filesystem::remove(folderPath_ + "/state.json");
    EXPECT_EQ(board.changeCount(), 0);
    EXPECT_TRUE(board.types().empty());
}

// Counts the opens of one file of a folder, by the folder's inotify events.
class OpenCount {
  public:
    OpenCount(const std::string& folder, std::string name)
        : watch_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), name_(std::move(name)) {
        EXPECT_GE(::inotify_add_watch(watch_.get(), folder.c_str(), IN_OPEN), 0);
    }
    // The opens since the last call.
    int opens() {
        int count = 0;
        alignas(inotify_event) char events[4096];
        ssize_t got = 0;
        while ((got = ::read(watch_.get(), events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                count += event->len > 0 && name_ == event->name;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return count;
    }

  private:
    Descriptor watch_;
    std::string name_;
};

// A count file that does not read leaves the poll to the state's count: the state is read once
// for each version of it, not at every poll.
TEST_F(DragBoardTest, WithoutACountFileTheStateIsReadOncePerChange) {
    FileDragBoard board(folder_);
    for (int change = 0; change < 3; ++change) {
        board.update([](DragBoardState& state) { state.clearContents(); });
    }
    OpenCount stateOpens(folderPath_, "state.json");
    for (const std::int64_t expected : {3, 4}) {
        SCOPED_TRACE(expected);
        if (expected == 4) {
            board.update([](DragBoardState& state) { state.clearContents(); });
        }
        writeFile("change-count", "garbage");
        (void)stateOpens.opens();
        for (int poll = 0; poll < 20; ++poll) {
            EXPECT_EQ(board.changeCount(), expected);
        }
        EXPECT_EQ(stateOpens.opens(), 1);
    }
    std::filesystem::remove(folderPath_ + "/state.json");
    EXPECT_EQ(board.changeCount(), 0);
}

// The poll runs on the main thread every 5 ms; a FIFO with no writer under a name it reads
// must read as nothing rather than block it for good.
TEST_F(DragBoardTest, AFifoUnderAPolledNameReadsAsNothingWithoutBlocking) {
    FileDragBoard board(folder_);
    board.update([](DragBoardState& state) { state.declareTypes({PasteboardType::plainText}); });
    std::filesystem::remove(folderPath_ + "/change-count");
    const std::int64_t withoutCount = board.changeCount();
    for (const char* name : {"change-count", "left-button"}) {
        ASSERT_EQ(::mkfifo((folderPath_ + "/" + name).c_str(), 0600), 0) << name;
    }
    testing::ChildProcess poll = testing::ChildProcess::start([&] {
        // A poll that blocks ends the child by the alarm (status 128 + 14) instead of the test.
        ::alarm(10);
        const bool nothing = FileDragBoard(folder_).changeCount() == withoutCount &&
                             !FileMouseButtons(folder_).isLeftButtonDown();
        return nothing ? 0 : 1;
    });
    EXPECT_EQ(poll.wait(), 0);
}

TEST_F(DragBoardTest, AStateTooLargeToReadBackIsRefused) {
    FileDragBoard board(folder_);
    board.update([](DragBoardState& state) { state.declareTypes({PasteboardType::plainText}); });
    const std::string huge(FileDragBoard::maxStateBytes, 'x');
    EXPECT_THROW(board.update([&](DragBoardState& state) {
        state.declareTypes({PasteboardType::plainText});
        state.setString(PasteboardType::plainText, huge);
    }),
                 std::system_error);
    EXPECT_EQ(board.changeCount(), 1);
    EXPECT_EQ(board.types(), std::vector<std::string>{PasteboardType::plainText});
}

TEST_F(DragBoardTest, ConcurrentWritersNeverLoseAnUpdateNorShowAHalfWrittenState) {
    constexpr int writers = 4;
    constexpr int updatesEach = 40;
    constexpr int total = writers * updatesEach;
    FileDragBoard(folder_).update([](DragBoardState& state) {
        state.declareTypes({PasteboardType::plainText});
        state.setString(PasteboardType::plainText, "0");
    });

    // Each update reads the number on the board and declares anew with the next one, so a lost
    // update shows both in the count and in the text.
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        children.push_back(forkRunning([this] {
            FileDragBoard board(folder_);
            for (int update = 0; update < updatesEach; ++update) {
                board.update([](DragBoardState& state) {
                    const int number = std::stoi(state.string(PasteboardType::plainText).value());
                    state.declareTypes({PasteboardType::plainText});
                    state.setString(PasteboardType::plainText, std::to_string(number + 1));
                });
            }
            return true;
        }));
    }
    // Readers take no lock: every state they read must be whole, its count never behind the
    // last count seen, and its text the number of changes made.
    const pid_t reader = forkRunning([this] {
        FileDragBoard board(folder_);
        std::int64_t lastCount = 0;
        // Bounded, so a writer that died cannot leave the reader spinning.
        for (int round = 0; round < 200000 && lastCount < total + 1; ++round) {
            const auto json = folder_->read("state.json", FileDragBoard::maxStateBytes);
            const auto state = json ? DragBoardState::decode(*json) : std::nullopt;
            if (!state || state->changeCount < lastCount ||
                state->string(PasteboardType::plainText) !=
                    std::to_string(state->changeCount - 1)) {
                return false;
            }
            const std::int64_t count = board.changeCount();
            if (count < state->changeCount - 1) {
                return false;
            }
            lastCount = state->changeCount;
        }
        return true;
    });
    for (const pid_t child : children) {
        EXPECT_TRUE(exitedCleanly(child));
    }
    EXPECT_TRUE(exitedCleanly(reader));

    FileDragBoard board(folder_);
    EXPECT_EQ(board.changeCount(), total + 1);
    EXPECT_EQ(board.plainText(), std::to_string(total));
    EXPECT_FALSE(std::filesystem::exists(folderPath_ + "/.state.json.tmp"));
}

// The board belongs to the thread that made it, like the session that polls it.
TEST_F(DragBoardTest, IsUsedOnlyOnTheThreadThatMadeIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FileDragBoard board(folder_);
    EXPECT_DEATH(testing::onAnotherThread([&] { board.changeCount(); }),
                 "thread-check-failed: .*FileDragBoard::changeCount.* called on a thread that does "
                 "not own");
}

// The host opens its board and then its mouse: one folder between them, opened once, and a
// folder of its own again once the runtime directory is another.
TEST_F(DragBoardTest, TheSystemBoardAndMouseShareOneOpenFolder) {
    const auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const char* const runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = runtime == nullptr ? "" : runtime;
    ::setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
    const auto board = openSystemDragBoard();
    const auto withBoard = openDescriptors();
    const auto mouse = openSystemMouseButtons();
    EXPECT_EQ(openDescriptors(), withBoard);
    testing::TemporaryDirectory other;
    ::setenv("XDG_RUNTIME_DIR", other.path().c_str(), 1);
    const auto elsewhere = openSystemMouseButtons();
    EXPECT_EQ(openDescriptors(), withBoard + 1);
    EXPECT_TRUE(std::filesystem::is_directory(other.path() + "/tech.ostrell.quenra.dragboard"));
    if (runtime == nullptr) {
        ::unsetenv("XDG_RUNTIME_DIR");
    } else {
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    }
}

}  // namespace
}  // namespace quenra
