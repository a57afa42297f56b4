#include "bridge_core/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "platform/system_files.h"
#include "support/allocation_faults.h"
#include "support/directory_listing.h"
#include "support/failure_of.h"
#include "support/file_mode.h"
#include "support/temporary_directory.h"

namespace quenra {
namespace {

namespace AllocationFaults = testing::AllocationFaults;
using testing::modeOf;
using testing::readFileText;
using testing::TemporaryDirectory;
using testing::writeFileText;

template <typename Operation>
std::optional<FileFailure> failureOf(Operation operation) {
    return testing::failureOf<FileFailure>(operation);
}

TEST(FileFailure, ReadsAsOperationAndErrno) {
    EXPECT_EQ(FileFailure("write", 28).description(), "write failed (errno 28)");
    EXPECT_STREQ(FileFailure("open", 17).what(), "open failed (errno 17)");
    EXPECT_EQ(FileFailure("open", 17), FileFailure("open", 17));
    EXPECT_NE(FileFailure("open", 17), FileFailure("open", 2));
    EXPECT_NE(FileFailure("open", 17), FileFailure("rename", 17));
}

TEST(EnsurePrivateDirectory, CreatesAndNarrowsButKeepsNarrowerModes) {
    TemporaryDirectory temporary;
    const std::string fresh = temporary.join("fresh");
    Files::ensurePrivateDirectory(fresh);
    EXPECT_EQ(modeOf(fresh), 0700u);

    const std::string open = temporary.join("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ::chmod(open.c_str(), 0777);
    Files::ensurePrivateDirectory(open);
    EXPECT_EQ(modeOf(open), 0700u);

    const std::string narrow = temporary.join("narrow");
    ASSERT_EQ(::mkdir(narrow.c_str(), 0500), 0);
    Files::ensurePrivateDirectory(narrow);
    EXPECT_EQ(modeOf(narrow), 0500u);
}

TEST(EnsurePrivateDirectory, RefusesWhatIsNotOurOwnRealDirectory) {
    TemporaryDirectory temporary;
    const std::string target = temporary.join("target");
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    const std::string link = temporary.join("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const std::string file = temporary.join("file");
    writeFileText(file, "x");

    EXPECT_EQ(failureOf([&] { Files::ensurePrivateDirectory(link); }),
              FileFailure("not-a-private-directory", 1));
    EXPECT_EQ(modeOf(target), 0755u) << "the link's target is never touched";
    EXPECT_EQ(failureOf([&] { Files::ensurePrivateDirectory(file); }),
              FileFailure("not-a-private-directory", 1));
    EXPECT_EQ(failureOf([&] { Files::ensurePrivateDirectory(temporary.join("no/such")); }),
              FileFailure("mkdir", ENOENT));

    if (::getuid() == 0) {
        const std::string foreign = temporary.join("foreign");
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_EQ(failureOf([&] { Files::ensurePrivateDirectory(foreign); }),
                  FileFailure("not-a-private-directory", 1));
    }
}

TEST(WriteNew, CreatesAPrivateFileWithExactlyTheBytes) {
    TemporaryDirectory temporary;
    const mode_t previous = ::umask(0);
    const std::string path = temporary.join("clip");
    Files::writeNew(path, bytesOf(std::string("MThd\0\x01", 6)));
    ::umask(previous);
    EXPECT_EQ(readFileText(path), std::string("MThd\0\x01", 6));
    EXPECT_EQ(modeOf(path), 0600u);

    // A umask that takes the owner's bits away changes nothing either.
    const mode_t strict = ::umask(0277);
    const std::string empty = temporary.join("empty");
    Files::writeNew(empty, {});
    ::umask(strict);
    EXPECT_EQ(readFileText(empty), "");
    EXPECT_EQ(modeOf(empty), 0600u);
}

TEST(CreatedItems, GetTheirExactModeWhateverTheUmask) {
    for (const mode_t umask : {mode_t{0277}, mode_t{0000}, mode_t{0077}}) {
        SCOPED_TRACE(umask);
        TemporaryDirectory temporary;
        const std::string locked = temporary.join("locked");
        writeFileText(locked, "");
        ASSERT_EQ(::chmod(locked.c_str(), 0400), 0);
        const int source = ::open(locked.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(source, 0);

        const mode_t previous = ::umask(umask);
        ASSERT_TRUE(Files::createDirectory(temporary.join("made")));
        Files::ensurePrivateDirectory(temporary.join("private"));
        Files::createDirectories(temporary.join("a/b"), 0755);
        const bool lockMade = Files::openLockFile(temporary.join("new.lock"), true).isOpen();
        // One left without the owner's write bit by an earlier umask is opened all the same.
        const bool lockRepaired = Files::openLockFile(locked, true).isOpen();
        Files::copyToNew(source, locked, temporary.join("copy"), 0644);
        Files::replace(temporary.join("replaced"), bytesOf("x"), "replaced.tmp", {.mode = 0640});
        ::umask(previous);
        ::close(source);

        EXPECT_TRUE(lockMade);
        EXPECT_TRUE(lockRepaired);
        const std::vector<std::pair<std::string, mode_t>> expected = {
            {"made", 0700},     {"private", 0700}, {"a", 0755},    {"a/b", 0755},
            {"new.lock", 0600}, {"locked", 0600},  {"copy", 0644}, {"replaced", 0640},
        };
        for (const auto& [name, mode] : expected) {
            EXPECT_EQ(modeOf(temporary.join(name)), mode) << name;
        }
    }
}

TEST(WriteNew, NeverReplacesOrFollowsAnExistingName) {
    TemporaryDirectory temporary;
    const std::string existing = temporary.join("existing");
    writeFileText(existing, "old");
    EXPECT_EQ(failureOf([&] { Files::writeNew(existing, bytesOf("new")); }),
              FileFailure("open", EEXIST));
    EXPECT_EQ(readFileText(existing), "old");

    const std::string dangling = temporary.join("dangling");
    ASSERT_EQ(::symlink(temporary.join("elsewhere").c_str(), dangling.c_str()), 0);
    EXPECT_EQ(failureOf([&] { Files::writeNew(dangling, bytesOf("new")); }),
              FileFailure("open", EEXIST));
    EXPECT_FALSE(std::filesystem::exists(temporary.join("elsewhere")));

    EXPECT_EQ(failureOf([&] { Files::writeNew(temporary.path(), bytesOf("x")); }),
              FileFailure("open", EEXIST));
}

TEST(WriteAll, ReportsTheWriteThatFailed) {
    // A pipe that nobody reads and whose writer may not wait: once what fits is written, the
    // next write fails.
    Files::Pipe pipe = Files::openPipe();
    ASSERT_EQ(::fcntl(pipe.writing.get(), F_SETFL, O_NONBLOCK), 0);
    const std::vector<std::uint8_t> moreThanAPipeHolds(std::size_t{1} << 20);
    EXPECT_EQ(failureOf([&] { Files::writeAll(pipe.writing.get(), moreThanAPipeHolds); }),
              FileFailure("write", EAGAIN));
    Files::writeAll(pipe.writing.get(), {});  // nothing to write, nothing written
    EXPECT_EQ(failureOf([&] { Files::writeAll(-1, bytesOf("abc")); }), FileFailure("write", EBADF));
}

// Both forms, the one that allocates what it reads and the one that reads into a buffer of the
// limit's size; the second with every allocation failing meanwhile.
TEST(ReadSmall, ReturnsRegularFilesUpToTheLimitAndNothingElse) {
    TemporaryDirectory temporary;
    const std::string file = temporary.join("record");
    writeFileText(file, "0123456789");
    const std::string empty = temporary.join("empty");
    writeFileText(empty, "");
    const std::string link = temporary.join("link");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    // A FIFO nobody writes to must neither hang the open nor count as a file.
    const std::string fifo = temporary.join("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string path;
        std::size_t limit;
        std::optional<std::string> read;
    };
    const std::vector<Case> cases{
        {"exactly the limit", file, 10, "0123456789"},
        {"one byte over", file, 9, std::nullopt},
        {"empty", empty, 0, ""},
        {"a link", link, 100, std::nullopt},
        {"a directory", temporary.path(), 1 << 20, std::nullopt},
        {"missing", temporary.join("missing"), 100, std::nullopt},
        {"a FIFO", fifo, 100, std::nullopt},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const auto whole = Files::readSmall(test.path, static_cast<std::int64_t>(test.limit));
        EXPECT_EQ(whole ? std::optional<std::string>(std::string(whole->begin(), whole->end()))
                        : std::nullopt,
                  test.read);
        std::vector<std::uint8_t> buffer(test.limit);
        AllocationFaults::failFrom(1);
        const auto into = Files::readSmallAt(AT_FDCWD, test.path.c_str(), buffer);
        AllocationFaults::clear();
        EXPECT_EQ(AllocationFaults::failed(), 0u);
        EXPECT_EQ(into ? std::optional<std::string>(std::string(into->begin(), into->end()))
                       : std::nullopt,
                  test.read);
    }
}

// Sets path's access time a day before its modification time, which any file system that
// records access times at all updates on the next read.
void ageAccessTime(const std::string& path) {
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    const timespec times[2] = {{status.st_mtime - 86400, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::int64_t accessSeconds(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_atime;
}

TEST(ReadSmall, LeavingTheAccessTimeReadsTheSameBytesAndLeavesItAlone) {
    if (SystemFiles::leaveAccessTimeFlag == 0) {
        GTEST_SKIP() << "no O_NOATIME here: reads update the access time";
    }
    TemporaryDirectory temporary;
    const std::string path = temporary.join("record");
    writeFileText(path, "bytes");
    ageAccessTime(path);
    const std::int64_t aged = accessSeconds(path);
    ASSERT_TRUE(Files::readSmallAt(AT_FDCWD, path, 64, Files::AccessTime::leave));
    EXPECT_EQ(accessSeconds(path), aged);
    // An ordinary read moves it, so the check above could have failed.
    EXPECT_EQ(Files::readSmall(path, 64),
              Files::readSmallAt(AT_FDCWD, path, 64, Files::AccessTime::leave));
    if (accessSeconds(path) == aged) {
        GTEST_SKIP() << "this file system does not record access times";
    }
}

TEST(ReadSmall, LeavingTheAccessTimeStillReadsAFileThatIsNotOurs) {
    // /etc/passwd belongs to root; as root, the read runs in a child that has become nobody.
    const auto readsIt = [] {
        return Files::readSmallAt(AT_FDCWD, "/etc/passwd", 1 << 20, Files::AccessTime::leave) ==
               Files::readSmall("/etc/passwd", 1 << 20);
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(readsIt());
        return;
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool read = ::setgid(65534) == 0 && ::setuid(65534) == 0 &&
                          Files::readSmall("/etc/passwd", 1 << 20) && readsIt();
        ::_exit(read ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(RenameExclusive, MovesButNeverReplaces) {
    TemporaryDirectory temporary;
    const std::string from = temporary.join("from");
    ASSERT_EQ(::mkdir(from.c_str(), 0700), 0);
    writeFileText(from + "/inside", "staged");
    const std::string takenDirectory = temporary.join("taken-directory");
    ASSERT_EQ(::mkdir(takenDirectory.c_str(), 0700), 0);
    const std::string takenFile = temporary.join("taken-file");
    writeFileText(takenFile, "old");

    EXPECT_EQ(failureOf([&] { Files::renameExclusive(from, takenDirectory); }),
              FileFailure("rename", EEXIST));
    EXPECT_EQ(failureOf([&] { Files::renameExclusive(from, takenFile); }),
              FileFailure("rename", EEXIST));
    EXPECT_EQ(readFileText(takenFile), "old");
    EXPECT_TRUE(std::filesystem::is_empty(takenDirectory));
    EXPECT_EQ(readFileText(from + "/inside"), "staged");

    const std::string to = temporary.join("to");
    Files::renameExclusive(from, to);
    EXPECT_EQ(readFileText(to + "/inside"), "staged");
    EXPECT_FALSE(std::filesystem::exists(from));
}

TEST(Replace, SwapsTheContentAndLeavesNoTemporary) {
    TemporaryDirectory temporary;
    const std::string path = temporary.join("entry.json");
    writeFileText(path, "old");
    Files::replace(path, bytesOf("new"), ".entry.json.0011223344556677");
    EXPECT_EQ(readFileText(path), "new");
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(testing::namesIn(temporary.path()), std::vector<std::string>{"entry.json"});
}

TEST(Replace, KeepsTheOldFileWhenTheTemporaryCannotBeMadeOrMoved) {
    TemporaryDirectory temporary;
    const std::string path = temporary.join("entry.json");
    writeFileText(path, "old");
    const std::string taken = temporary.join(".entry.json.taken");
    writeFileText(taken, "someone else's");
    EXPECT_EQ(failureOf([&] { Files::replace(path, bytesOf("new"), ".entry.json.taken"); }),
              FileFailure("open", EEXIST));
    EXPECT_EQ(readFileText(path), "old");
    EXPECT_EQ(readFileText(taken), "someone else's");

    // A directory in the way makes the rename fail; the temporary goes away with it.
    const std::string blocked = temporary.join("blocked");
    ASSERT_EQ(::mkdir(blocked.c_str(), 0700), 0);
    EXPECT_EQ(failureOf([&] { Files::replace(blocked, bytesOf("new"), ".blocked.tmp"); }),
              FileFailure("rename", EISDIR));
    EXPECT_FALSE(std::filesystem::exists(temporary.join(".blocked.tmp")));
}

TEST(RemoveTree, RemovesEverythingBelowButNothingALinkPointsAt) {
    TemporaryDirectory temporary;
    const std::string outside = temporary.join("outside");
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    writeFileText(outside + "/precious", "keep");

    const std::string tree = temporary.join("tree");
    ASSERT_EQ(::mkdir(tree.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((tree + "/sub").c_str(), 0700), 0);
    writeFileText(tree + "/sub/file", "x");
    ASSERT_EQ(::symlink(outside.c_str(), (tree + "/sub/to-outside").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/precious").c_str(), (tree + "/to-file").c_str()), 0);
    Files::removeTree(tree);
    EXPECT_FALSE(std::filesystem::exists(tree));
    EXPECT_EQ(readFileText(outside + "/precious"), "keep");

    const std::string link = temporary.join("link");
    ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
    Files::removeTree(link);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFileText(outside + "/precious"), "keep");

    Files::removeTree(temporary.join("missing"));  // ignored
}

TEST(StatusOf, TellsWhatIsUnderANameWithoutFollowingTheLastLinkUnlessAsked) {
    TemporaryDirectory temporary;
    const std::string file = temporary.join("file");
    writeFileText(file, "12345");
    ASSERT_EQ(::chmod(file.c_str(), 0700), 0);
    const std::string plain = temporary.join("plain");
    writeFileText(plain, "");
    ASSERT_EQ(::chmod(plain.c_str(), 0600), 0);
    const std::string link = temporary.join("link");
    ASSERT_EQ(::symlink("file", link.c_str()), 0);
    const std::string dangling = temporary.join("dangling");
    ASSERT_EQ(::symlink("missing", dangling.c_str()), 0);
    using Kind = Files::Status::Kind;
    const struct {
        std::string path;
        std::optional<Kind> kind;
        std::optional<Kind> followed;
        std::optional<std::string> target;
        bool executable;
    } cases[] = {
        {file, Kind::regularFile, Kind::regularFile, std::nullopt, true},
        {plain, Kind::regularFile, Kind::regularFile, std::nullopt, false},
        {temporary.path(), Kind::directory, Kind::directory, std::nullopt, false},
        {link, Kind::symbolicLink, Kind::regularFile, "file", false},
        {dangling, Kind::symbolicLink, std::nullopt, "missing", false},
        {temporary.join("missing"), std::nullopt, std::nullopt, std::nullopt, false},
        {file + "/below", std::nullopt, std::nullopt, std::nullopt, false},
    };
    const auto kindOf = [](const std::optional<Files::Status>& status) {
        return status ? std::optional(status->kind) : std::nullopt;
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.path);
        EXPECT_EQ(kindOf(Files::statusOf(testCase.path)), testCase.kind);
        EXPECT_EQ(kindOf(Files::statusOf(testCase.path, Files::LastLink::followed)),
                  testCase.followed);
        EXPECT_EQ(Files::linkTarget(testCase.path), testCase.target);
        EXPECT_EQ(Files::isExecutableFile(testCase.path), testCase.executable);
    }

    const std::optional<Files::Status> byPath = Files::statusOf(file);
    const Descriptor directory = Files::openOwnDirectory(temporary.path());
    const std::optional<Files::Status> byName = Files::statusAt(directory.get(), "file");
    ASSERT_TRUE(byPath && byName);
    EXPECT_TRUE(byPath->ownedByUser);
    EXPECT_EQ(byPath->size, 5);
    EXPECT_EQ(std::tie(byPath->device, byPath->inode, byPath->modified),
              std::tie(byName->device, byName->inode, byName->modified));
    EXPECT_EQ(kindOf(Files::statusAt(directory.get(), "link")), Kind::symbolicLink);

    // Links of the part that exists are resolved; the rest is kept as written.
    const std::string real = std::filesystem::canonical(temporary.path()).string();
    EXPECT_EQ(Files::resolvedPath(link), real + "/file");
    ASSERT_EQ(::mkdir(temporary.join("sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("sub", temporary.join("to-sub").c_str()), 0);
    EXPECT_EQ(Files::resolvedPath(temporary.join("to-sub/not-yet/x")), real + "/sub/not-yet/x");
}

TEST(CreateAndRemove, SayWhetherSomethingWasThereAndFailWithTheSystemsReason) {
    TemporaryDirectory temporary;
    const std::string directory = temporary.join("directory");
    EXPECT_TRUE(Files::createDirectory(directory));
    EXPECT_EQ(modeOf(directory), 0700u);
    EXPECT_FALSE(Files::createDirectory(directory));
    const std::string file = temporary.join("file");
    writeFileText(file, "x");
    EXPECT_FALSE(Files::createDirectory(file));
    EXPECT_EQ(failureOf([&] { Files::createDirectory(file + "/below"); }),
              FileFailure("mkdir", ENOTDIR));

    const std::string deep = temporary.join("a/b/c");
    Files::createDirectories(deep, 0755);
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    Files::createDirectories(deep, 0755);  // already there
    const std::optional<FileFailure> blocked =
        failureOf([&] { Files::createDirectories(file + "/d/e", 0755); });
    ASSERT_TRUE(blocked);
    EXPECT_EQ(*blocked, FileFailure("mkdir", ENOTDIR));
    EXPECT_EQ(blocked->path(), file + "/d/e");

    const std::string link = temporary.join("link");
    ASSERT_EQ(::symlink("file", link.c_str()), 0);
    EXPECT_TRUE(Files::removeFile(link));
    EXPECT_EQ(readFileText(file), "x");
    EXPECT_TRUE(Files::removeFile(file));
    EXPECT_FALSE(Files::removeFile(file));
    const std::optional<FileFailure> folder = failureOf([&] { Files::removeFile(directory); });
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->operation(), "remove");
    EXPECT_TRUE(std::filesystem::is_directory(directory));
}

TEST(CopyToNew, CopiesEveryChunkOrLeavesNothingBehind) {
    TemporaryDirectory temporary;
    std::string large(200000, '\0');
    for (std::size_t index = 0; index < large.size(); ++index) {
        large[index] = static_cast<char>(index * 31 % 251);
    }
    const std::string source = temporary.join("source");
    writeFileText(source, large);
    const Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    const std::string copy = temporary.join("copy");
    Files::copyToNew(input.get(), source, copy, 0600);
    EXPECT_EQ(readFileText(copy), large);
    EXPECT_EQ(modeOf(copy), 0600u);

    EXPECT_EQ(failureOf([&] { Files::copyToNew(input.get(), source, copy, 0600); }),
              FileFailure("create", EEXIST));
    EXPECT_EQ(readFileText(copy), large);

    // A descriptor that cannot be read: the failure names the input, and no copy is left.
    const Descriptor folder = Files::openOwnDirectory(temporary.path());
    const std::string failed = temporary.join("failed");
    const std::optional<FileFailure> unreadable =
        failureOf([&] { Files::copyToNew(folder.get(), "folder", failed, 0600); });
    ASSERT_TRUE(unreadable);
    EXPECT_EQ(*unreadable, FileFailure("read", EISDIR));
    EXPECT_EQ(unreadable->path(), "folder");
    EXPECT_FALSE(std::filesystem::exists(failed));
}

TEST(NamesAt, ListsTheOpenedDirectoryEvenAfterItsPathNamesAnother) {
    TemporaryDirectory temporary;
    const std::string checked = temporary.join("checked");
    const std::string other = temporary.join("other");
    ASSERT_EQ(::mkdir(checked.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    writeFileText(checked + "/.hidden", "");
    writeFileText(checked + "/mine", "");
    writeFileText(other + "/planted", "");
    const int directory = ::open(checked.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 0);
    // The path now leads elsewhere through a link; the descriptor still means the first.
    ASSERT_EQ(::rename(checked.c_str(), temporary.join("moved").c_str()), 0);
    ASSERT_EQ(::symlink(other.c_str(), checked.c_str()), 0);

    for (int pass = 0; pass < 2; ++pass) {  // a second listing starts from the beginning again
        std::vector<std::string> names = Files::namesAt(directory).value();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{".hidden", "mine"})) << "pass " << pass;
    }
    // The caller's descriptor is left open and usable.
    struct stat status {};
    EXPECT_EQ(::fstatat(directory, "mine", &status, AT_SYMLINK_NOFOLLOW), 0);
    ::close(directory);
    EXPECT_FALSE(Files::namesAt(-1).has_value());
}

TEST(OpenLockFile, CreatesOnlyWhenAskedAndNeverFollowsALink) {
    TemporaryDirectory temporary;
    const std::string path = temporary.join("cache.lock");
    EXPECT_FALSE(Files::openLockFile(path, false).isOpen());
    EXPECT_EQ(errno, ENOENT);
    Descriptor created = Files::openLockFile(path, true);
    ASSERT_TRUE(created.isOpen());
    EXPECT_EQ(::fcntl(created.get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    created.reset();
    EXPECT_EQ(modeOf(path), 0600u);

    const std::string link = temporary.join("link.lock");
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    EXPECT_FALSE(Files::openLockFile(link, true).isOpen());
    EXPECT_EQ(errno, ELOOP);
}

}  // namespace
}  // namespace quenra
