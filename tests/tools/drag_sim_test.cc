// The drag simulator as scripts and tests use it: the real binary, run against a temporary
// board, checked by its exact output and exit status and by what the board library then reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"
#include "test_peer/host_process.h"

namespace quenra {
namespace {

struct SimRun {
    int status = -1;
    std::string out;
    std::string err;
};

SimRun runSim(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment) {
    const std::string program = std::string(QUENRA_BUILD_DIR) + "/tools/quenra-drag-sim";
    const TestPeer::Completed completed = TestPeer::run(program, arguments, environment);
    SimRun run;
    run.out = completed.output;
    run.err = completed.error;
    if (completed.status.exited) {
        run.status = completed.status.code;
    }
    return run;
}

class DragSimTest : public ::testing::Test {
  protected:
    void SetUp() override { environment_ = {"XDG_RUNTIME_DIR=" + root_, "HOME=/nonexistent"}; }

    SimRun sim(const std::vector<std::string>& arguments) {
        return runSim(arguments, environment_);
    }

    testing::TemporaryDirectory temporary_;
    std::string root_ = temporary_.path();
    std::vector<std::string> environment_;
};

constexpr const char* chromium = "\"org.chromium.chromium-renderer-initiated-drag\"";

// fileURLs is the list of every item's URL when it holds more than fileURL, the first.
std::string shown(int count, const std::string& fileURL, const std::string& filenames, bool down,
                  const std::string& text, const std::string& types,
                  const std::string& fileURLs = "") {
    const std::string every = !fileURLs.empty()   ? fileURLs
                              : fileURL == "null" ? "[]"
                                                  : "[" + fileURL + "]";
    return "{\"changeCount\":" + std::to_string(count) + ",\"fileURL\":" + fileURL +
           ",\"fileURLs\":" + every + ",\"filenames\":" + filenames +
           ",\"leftButtonDown\":" + (down ? "true" : "false") + ",\"plainText\":" + text +
           ",\"types\":[" + types + "]}\n";
}

TEST_F(DragSimTest, CommandsPlayADragAndShowPrintsOneSortedLine) {
    struct Step {
        std::vector<std::string> command;
        std::string shows;
    };
    const std::string text = "\"public.utf8-plain-text\"";
    const std::vector<Step> steps = {
        {{}, shown(0, "null", "null", false, "null", "")},
        {{"begin", "QNR_DAW_DRAG/v1/a b/\"quoted\""},
         shown(1, "null", "null", true, R"("QNR_DAW_DRAG/v1/a b/\"quoted\"")",
               std::string(chromium) + "," + text)},
        {{"button", "up"},
         shown(1, "null", "null", false, R"("QNR_DAW_DRAG/v1/a b/\"quoted\"")",
               std::string(chromium) + "," + text)},
        {{"copy", "\xed\x95\x9c"}, shown(2, "null", "null", false, "\"\xed\x95\x9c\"", text)},
        {{"begin", "--no-text"}, shown(3, "null", "null", true, "null", chromium)},
        {{"begin", "--button", "up", "marker"},
         shown(4, "null", "null", false, "\"marker\"", std::string(chromium) + "," + text)},
        {{"button", "down"},
         shown(4, "null", "null", true, "\"marker\"", std::string(chromium) + "," + text)},
        {{"clear"}, shown(5, "null", "null", true, "null", "")},
    };
    for (const Step& step : steps) {
        if (!step.command.empty()) {
            const SimRun run = sim(step.command);
            EXPECT_EQ(run.status, 0) << step.command[0] << ": " << run.err;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "");
        }
        const SimRun show = sim({"show"});
        EXPECT_EQ(show.status, 0);
        EXPECT_EQ(show.out, step.shows) << (step.command.empty() ? "" : step.command[0]);
        EXPECT_EQ(show.err, "");
    }
}

TEST_F(DragSimTest, ShowsWhatAClaimLeavesForTheDropTarget) {
    ASSERT_EQ(sim({"begin", "marker"}).status, 0);
    FileDragBoard board(
        std::make_shared<const DragBoardFolder>(root_ + "/tech.ostrell.quenra.dragboard"));
    EXPECT_EQ(board.plainText(), "marker");
    const std::string types = "\"public.file-url\",\"NSFilenamesPboardType\"";
    EXPECT_EQ(board.claim({"/tmp/entries/My clip.mid"}), (ClaimResult{2, true, true}));
    EXPECT_EQ(sim({"show"}).out, shown(2, "\"file:///tmp/entries/My%20clip.mid\"",
                                       "[\"/tmp/entries/My clip.mid\"]", true, "null", types));
    // Several files: one item each, the first one's URL still under "fileURL".
    EXPECT_EQ(board.claim({"/tmp/e/Drums.mid", "/tmp/e/B a.mid", "/tmp/e/Chords.mid"}),
              (ClaimResult{3, true, true}));
    EXPECT_EQ(
        sim({"show"}).out,
        shown(3, "\"file:///tmp/e/Drums.mid\"",
              R"(["/tmp/e/Drums.mid","/tmp/e/B a.mid","/tmp/e/Chords.mid"])", true, "null", types,
              R"(["file:///tmp/e/Drums.mid","file:///tmp/e/B%20a.mid",)"
              R"("file:///tmp/e/Chords.mid"])"));
}

TEST_F(DragSimTest, MistakesExitOneWithOneLineOnStandardError) {
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {"drop"},
        {"begin"},
        {"begin", "a", "b"},
        {"begin", "--button", "sideways", "a"},
        {"copy"},
        {"copy", "a", "b"},
        {"copy", "\xff"},
        {"button"},
        {"button", "left"},
        {"show", "more"},
        {"clear", "all"},
        {"copy", "line\nbreak", "extra"},
    };
    for (const auto& arguments : mistakes) {
        const SimRun run = sim(arguments);
        const std::string name = arguments.empty() ? "(none)" : arguments[0];
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out, "") << name;
        ASSERT_FALSE(run.err.empty()) << name;
        EXPECT_EQ(run.err.rfind("quenra-drag-sim: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
    // None of them changed the board.
    EXPECT_EQ(sim({"show"}).out, shown(0, "null", "null", false, "null", ""));
}

TEST_F(DragSimTest, WithoutARuntimeDirectoryTheBoardLivesInTheUserCaches) {
    const std::vector<std::string> environment = {"XDG_RUNTIME_DIR=relative", "HOME=" + root_};
    ASSERT_EQ(runSim({"copy", "x"}, environment).status, 0);
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/.cache/tech.ostrell.quenra.dragboard"));
    EXPECT_EQ(runSim({"show"}, environment).out,
              shown(1, "null", "null", false, "\"x\"", "\"public.utf8-plain-text\""));

    const SimRun nowhere = runSim({"show"}, {"XDG_RUNTIME_DIR=" + root_ + "/missing"});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_EQ(nowhere.out, "");
}

}  // namespace
}  // namespace quenra
