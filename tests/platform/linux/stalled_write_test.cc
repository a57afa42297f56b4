// Every writer of both programs goes through one write-all, whose rule is that a write making no
// progress on a non-empty request is a failure, never a reason to try again. No real device
// reports that on demand, so this program interposes write(2): while a test stalls writes, a
// write to a stalled descriptor reports zero bytes written.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "bridge_core/files.h"
#include "native_host/host_entry.h"
#include "native_host/output.h"
#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"

namespace {

// Writes to descriptors at or above this one report no progress; -1 stalls nothing.
std::atomic<int> firstStalledDescriptor{-1};

}  // namespace

extern "C" ssize_t write(int descriptor, const void* data, size_t size) {
    const int stalled = firstStalledDescriptor.load();
    if (stalled >= 0 && descriptor >= stalled && size > 0) {
        return 0;
    }
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    return real(descriptor, data, size);
}

namespace quenra {
namespace {

using testing::readFileText;
using testing::TemporaryDirectory;
using testing::writeFileText;

class StalledWrites {
  public:
    explicit StalledWrites(int first) { firstStalledDescriptor = first; }
    ~StalledWrites() { firstStalledDescriptor = -1; }
};

TEST(StalledWriteTest, EveryWriterReportsAWriteThatMakesNoProgress) {
    TemporaryDirectory temporary;
    const std::string record = temporary.join("entry.json");
    writeFileText(record, "old");
    const auto board = std::make_shared<const DragBoardFolder>(temporary.join("board"));
    FileDragBoard drag(board);
    const std::int64_t countBefore = drag.changeCount();

    const StalledWrites stalled(STDIN_FILENO);
    EXPECT_EQ(FileFailure("write", EIO), [&] {
        try {
            Files::writeAll(STDERR_FILENO, bytesOf("x"));
        } catch (const FileFailure& failure) {
            return failure;
        }
        return FileFailure("none", 0);
    }());
    EXPECT_THROW(Files::replace(record, bytesOf("new"), ".entry.json.0011223344556677"),
                 FileFailure);
    EXPECT_FALSE(Output::write(bytesOf("frame")));
    // The usage line is lost, not retried for ever; the status still says what happened.
    EXPECT_EQ(HostEntry::dispatch({"--unknown"}, {}), 64);
    EXPECT_THROW(drag.update([](DragBoardState& state) { state.clearContents(); }), FileFailure);
    EXPECT_EQ(drag.claim({"/tmp/clip.mid"}).fileURLWritten, false);

    firstStalledDescriptor = -1;
    EXPECT_EQ(readFileText(record), "old");
    EXPECT_EQ(drag.changeCount(), countBefore);
    for (const auto& item : std::filesystem::directory_iterator(temporary.path())) {
        EXPECT_EQ(item.path().filename().string().rfind(".entry.json.", 0), std::string::npos)
            << item.path();
    }
}

}  // namespace
}  // namespace quenra
