#include "bridge_core/takeover.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "platform/platform.h"
#include "support/session_harness.h"

namespace quenra {

void PrintTo(const PollOutcome& outcome, std::ostream* out) {
    static const char* const names[] = {"failed", "waiting", "expired", "published"};
    *out << names[static_cast<int>(outcome.kind)];
    if (outcome.kind == PollOutcome::Kind::failed) {
        *out << "(" << ErrorCodes::wireText(outcome.code) << ")";
    }
}

namespace {

using testing::makeClip;
using testing::SessionHarness;

const std::string token = "tokentokentokentoken01";

// One armed drag polled directly, over a session's real cache entry.
struct PollFixture {
    explicit PollFixture(const Limits& limits = Limits::standard()) : harness(limits) {
        harness.bind();
        const boost::json::object prepared = harness.prepare("clip-a", 1, makeClip());
        preparation =
            harness.session.preparations().at(std::string(prepared.at("preparedId").as_string()));
        harness.clock.setMonotonic(1000.0);
        std::optional<ArmLease> lease = ArmLease::acquire(harness.cache.armLockURL());
        drag.emplace(token, Takeover::marker(testing::browserSession.id, token),
                     std::vector{ArmedClip{.entry = preparation.entry,
                                           .clipId = preparation.clipId,
                                           .generation = preparation.generation}},
                     false, std::move(*lease), RecordBatch{}, 1010.0, harness.board.count);
    }

    PollOutcome poll() { return Takeover::poll(*drag, environment); }

    SessionHarness harness;
    Preparation preparation;
    std::optional<ArmedDrag> drag;
    SessionEnvironment environment{harness.cache,  harness.board,  harness.mouse, harness.clock,
                                   harness.random, harness.limits, Platform{}};
    const std::string& marker() const { return drag->marker; }
};

TEST(TakeoverMarker, IsTheVersionedPrefixTheSessionPrefixAndTheToken) {
    const std::string marker = Takeover::marker("browserSession01xyz", "-_v7-_v7-_v7-_v7-_v7-w");
    EXPECT_EQ(marker, "QNR_DAW_DRAG/v1/browserSession01/-_v7-_v7-_v7-_v7-_v7-w");
    EXPECT_EQ(marker.size(), 55u);
}

TEST(TakeoverLookAgain, GivesACountUpAfterTwentyReadsInARow) {
    PollFixture fixture;
    ArmedDrag& drag = *fixture.drag;
    const std::int64_t baseline = drag.lastSeen;
    for (int read = 1; read < 20; ++read) {
        EXPECT_EQ(Takeover::lookAgain(drag, 5), PollOutcome::waiting());
        EXPECT_EQ(drag.awaitedCount, 5);
        EXPECT_EQ(drag.awaitedReads, read);
        EXPECT_EQ(drag.lastSeen, baseline);
    }
    EXPECT_EQ(Takeover::lookAgain(drag, 5), PollOutcome::waiting());
    EXPECT_EQ(drag.lastSeen, 5);
    // Another count starts again at one.
    EXPECT_EQ(Takeover::lookAgain(drag, 6), PollOutcome::waiting());
    EXPECT_EQ(drag.awaitedCount, 6);
    EXPECT_EQ(drag.awaitedReads, 1);
    EXPECT_EQ(drag.lastSeen, 5);
}

TEST(TakeoverPoll, WithoutAChangeReadsOnlyTheClockAndTheCount) {
    PollFixture fixture;
    for (int step = 0; step < 3; ++step) {
        EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
    }
    EXPECT_EQ(fixture.harness.board.changeCountReads, 3);
    EXPECT_EQ(fixture.harness.board.typesReads, 0);
    EXPECT_EQ(fixture.harness.board.plainTextReads, 0);
    EXPECT_EQ(fixture.harness.mouse.reads, 0);
}

TEST(TakeoverPoll, AChangeWithoutChromesTypeIsDismissedWithoutReadingText) {
    PollFixture fixture;
    testing::ScriptedDragBoard& board = fixture.harness.board;
    board.write({PasteboardType::plainText}, fixture.marker());
    EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
    EXPECT_EQ(board.typesReads, 1);
    EXPECT_EQ(board.plainTextReads, 0);
    EXPECT_EQ(fixture.drag->lastSeen, board.count);
    board.typeList.push_back(PasteboardType::chromiumDrag);  // same count: never read again
    EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
    EXPECT_EQ(board.typesReads, 1);
    EXPECT_TRUE(board.claimedPaths.empty());
}

TEST(TakeoverPoll, AJudgedCountIsDismissedAndNotExaminedAgain) {
    struct Case {
        const char* name;
        std::string text;  // "marker" stands for the drag's marker
        bool buttonDown;
        std::int64_t markerMaxBytes;
    };
    const std::vector<Case> cases = {
        {"another text", "QNR_DAW_DRAG/v1/browserSession01/someoneElsesToken00000", true, 256},
        {"the marker with the button up", "marker", false, 256},
        {"the marker over the text limit", "marker", true, 54},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        Limits limits = Limits::standard();
        limits.markerMaxBytes = item.markerMaxBytes;
        PollFixture fixture(limits);
        testing::ScriptedDragBoard& board = fixture.harness.board;
        fixture.harness.mouse.leftButtonDown = item.buttonDown;
        board.beginChromeDrag(item.text == "marker" ? fixture.marker() : item.text);
        EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
        EXPECT_EQ(fixture.drag->lastSeen, board.count);
        EXPECT_EQ(board.plainTextReads, 1);

        // Putting everything right without a new change does not bring the count back.
        fixture.harness.mouse.leftButtonDown = true;
        board.storeText(fixture.marker());
        EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
        EXPECT_EQ(board.typesReads, 1);
        EXPECT_TRUE(board.claimedPaths.empty());
    }
}

TEST(TakeoverPoll, AMarkerAtTheTextLimitIsAccepted) {
    Limits limits = Limits::standard();
    limits.markerMaxBytes = 55;
    PollFixture fixture(limits);
    fixture.harness.board.beginChromeDrag(fixture.marker());
    EXPECT_EQ(fixture.poll(), PollOutcome::published());
}

TEST(TakeoverPoll, ChromesDragWithoutReadableTextIsReadTwentyTimesThenDismissed) {
    struct Case {
        const char* name;
        std::vector<std::string> types;
        std::int64_t expectedTextReads;
    };
    const std::vector<Case> cases = {
        {"no types yet", {}, 0},
        {"Chrome's type without plain text", {PasteboardType::chromiumDrag}, 0},
        {"plain text declared but not stored",
         {PasteboardType::chromiumDrag, PasteboardType::plainText},
         20},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        PollFixture fixture;
        testing::ScriptedDragBoard& board = fixture.harness.board;
        board.write(item.types, std::nullopt);
        for (int step = 0; step < 30; ++step) {
            EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
        }
        EXPECT_EQ(board.typesReads, 20);
        EXPECT_EQ(board.plainTextReads, item.expectedTextReads);
        EXPECT_EQ(fixture.drag->lastSeen, board.count);

        board.typeList = {PasteboardType::chromiumDrag, PasteboardType::plainText};
        board.storeText(fixture.marker());
        EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
        EXPECT_TRUE(board.claimedPaths.empty());
        // The drag still ends at its deadline.
        fixture.harness.clock.setMonotonic(1010.0);
        EXPECT_EQ(fixture.poll(), PollOutcome::expired());
    }
}

TEST(TakeoverPoll, TextArrivingOnTheTwentiethReadIsStillJudged) {
    PollFixture fixture;
    testing::ScriptedDragBoard& board = fixture.harness.board;
    board.beginChromeDrag(std::nullopt);
    for (int step = 0; step < 19; ++step) {
        ASSERT_EQ(fixture.poll(), PollOutcome::waiting());
    }
    board.storeText(fixture.marker());
    EXPECT_EQ(fixture.poll(), PollOutcome::published());
}

TEST(TakeoverPoll, AWriteBetweenReadingTheTextAndClaimingDefersToTheNewCount) {
    PollFixture fixture;
    testing::ScriptedDragBoard& board = fixture.harness.board;
    board.beginChromeDrag(fixture.marker());
    const std::int64_t raced = board.count;
    board.onPlainText = [&board] {
        ++board.count;
        board.onPlainText = nullptr;
    };
    EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
    EXPECT_TRUE(board.claimedPaths.empty());
    EXPECT_EQ(fixture.drag->lastSeen, raced);
    EXPECT_EQ(fixture.poll(), PollOutcome::published());
}

TEST(TakeoverPoll, AClaimPublishesTheFileAndItsOwnCountIsNotReadAgain) {
    PollFixture fixture;
    testing::ScriptedDragBoard& board = fixture.harness.board;
    board.beginChromeDrag(fixture.marker());
    EXPECT_EQ(fixture.poll(), PollOutcome::published());
    const std::string& path = fixture.preparation.entry->fileURL();
    EXPECT_EQ(board.claimedPaths, std::vector<std::string>{path});
    EXPECT_EQ(board.typeList,
              (std::vector<std::string>{PasteboardType::fileURL, PasteboardType::filenames}));
    EXPECT_FALSE(board.text.has_value());
    EXPECT_EQ(fixture.drag->ownWrites, std::set<std::int64_t>{board.count});

    const std::int64_t typesReads = board.typesReads;
    EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
    EXPECT_EQ(board.typesReads, typesReads);
    EXPECT_EQ(fixture.drag->lastSeen, board.count);
}

TEST(TakeoverPoll, AnUnconfirmedClaimFailsAndRecordsItsCount) {
    struct Case {
        const char* name;
        testing::ScriptedDragBoard::ClaimScript claim;
    };
    const std::vector<Case> cases = {
        {"declared count not above the drag's", {.declaredChangeCount = 1}},
        {"file URL not stored", {.declaredChangeCount = std::nullopt, .fileURLWritten = false}},
        {"file names not stored", {.declaredChangeCount = std::nullopt, .filenamesWritten = false}},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        PollFixture fixture;
        testing::ScriptedDragBoard& board = fixture.harness.board;
        board.claimScript = item.claim;
        board.beginChromeDrag(fixture.marker());
        ASSERT_EQ(board.count, 1);
        EXPECT_EQ(fixture.poll(), PollOutcome::failed(ErrorCode::internal));
        EXPECT_EQ(board.claimedPaths.size(), 1u);
        EXPECT_EQ(fixture.drag->ownWrites,
                  std::set<std::int64_t>{item.claim.declaredChangeCount.value_or(board.count)});
    }
}

TEST(TakeoverPoll, AClipFileThatChangedIsNeverClaimed) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
    };
    const std::vector<Case> cases = {
        {"replaced by an equal file",
         [](const std::string& path) {
             // Written beside it first, so the new file cannot reuse the old inode.
             testing::writeFileText(path + ".new", testing::readFileText(path));
             std::filesystem::rename(path + ".new", path);
         }},
        {"truncated", [](const std::string& path) { std::filesystem::resize_file(path, 10); }},
        {"removed", [](const std::string& path) { std::filesystem::remove(path); }},
        {"a symbolic link to the moved file",
         [](const std::string& path) {
             std::filesystem::rename(path, path + ".moved");
             std::filesystem::create_symlink(path + ".moved", path);
         }},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        PollFixture fixture;
        item.change(fixture.preparation.entry->fileURL());
        fixture.harness.board.beginChromeDrag(fixture.marker());
        EXPECT_EQ(fixture.poll(), PollOutcome::failed(ErrorCode::internal));
        EXPECT_TRUE(fixture.harness.board.claimedPaths.empty());
    }
}

TEST(TakeoverPoll, ExpiresAtTheDeadlineBeforeLookingAtTheBoard) {
    PollFixture fixture;
    fixture.harness.board.beginChromeDrag(fixture.marker());
    fixture.harness.clock.setMonotonic(1009.999);
    fixture.harness.mouse.leftButtonDown = false;
    EXPECT_EQ(fixture.poll(), PollOutcome::waiting());
    const std::int64_t countReads = fixture.harness.board.changeCountReads;
    fixture.harness.board.count += 1;
    fixture.harness.clock.setMonotonic(1010.0);
    EXPECT_EQ(fixture.poll(), PollOutcome::expired());
    EXPECT_EQ(fixture.harness.board.changeCountReads, countReads);
}

}  // namespace
}  // namespace quenra
