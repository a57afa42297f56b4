// A whole takeover on the Linux drag board: the session arms, a simulated browser drag puts the
// marker on the board with the button held, and the poll leaves the clip file there instead.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "platform/platform.h"
#include "support/deterministic_random.h"
#include "support/manual_clock.h"
#include "support/read_request.h"
#include "support/session_harness.h"
#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"
#include "system_services/linux/file_url.h"

namespace quenra {
namespace {

struct BoardSession {
    BoardSession()
        : folder(std::make_shared<const DragBoardFolder>(directory.join("board"))),
          board(folder),
          mouse(folder),
          cache(directory.join("cache"), Limits::standard(), clock, random),
          session(HostSession::Environment{cache, board, mouse, clock, random, Limits::standard(),
                                           Platform{"15.1.0", "arm64", "macOS"}}) {}

    boost::json::object send(const boost::json::object& request) {
        const std::string text = boost::json::serialize(request);
        const std::vector<std::string> replies = session.receive(testing::readRequest(text));
        EXPECT_EQ(replies.size(), 1u);
        return boost::json::parse(replies.at(0)).as_object();
    }

    void browserDrag(const std::string& text) {
        board.update([&](DragBoardState& state) {
            state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
            state.setString(PasteboardType::plainText, text);
        });
    }

    testing::TemporaryDirectory directory;
    testing::ManualClock clock;
    testing::DeterministicRandom random;
    std::shared_ptr<const DragBoardFolder> folder;
    FileDragBoard board;
    FileMouseButtons mouse;
    Cache cache;
    HostSession session;
};

TEST(LinuxDragTakeover, PublishesTheClipFileOnTheBoard) {
    BoardSession host;
    // The request builders of the session harness, over this host's own session.
    testing::SessionHarness requests;
    const testing::Clip clip = testing::makeClip(1);
    ASSERT_EQ(host.send(requests.helloRequest()).at("type"), "HELLO_OK");
    const boost::json::object prepared =
        host.send(requests.prepareRequest("clip-a", 1, clip, "Bass line"));
    ASSERT_EQ(prepared.at("type"), "PREPARED");
    const boost::json::object armed = host.send(requests.armRequest(prepared));
    ASSERT_EQ(armed.at("type"), "ARMED");
    const std::string marker(armed.at("marker").as_string());

    host.mouse.setLeftButtonDown(false);
    host.browserDrag(marker);
    EXPECT_TRUE(host.session.tick().empty());  // button up: this drag is left alone
    host.mouse.setLeftButtonDown(true);
    host.browserDrag(marker);
    const std::int64_t before = host.board.changeCount();
    const std::vector<std::string> events = host.session.tick();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(boost::json::parse(events[0]).at("type"), "PUBLISHED");
    EXPECT_FALSE(host.session.isWatching());

    const std::string path = host.cache.entriesDirectory() + "/" +
                             std::string(prepared.at("preparedId").as_string()) + "/Bass line.mid";
    const DragBoardState state = host.board.read();
    EXPECT_GT(state.changeCount, before);
    EXPECT_EQ(state.allTypes(),
              (std::vector<std::string>{PasteboardType::fileURL, PasteboardType::filenames}));
    EXPECT_EQ(state.string(PasteboardType::fileURL), FileURL::fromPath(path));
    ASSERT_NE(state.propertyList(PasteboardType::filenames), nullptr);
    EXPECT_EQ(*state.propertyList(PasteboardType::filenames), boost::json::array{path});
    EXPECT_FALSE(host.board.plainText().has_value());
}

}  // namespace
}  // namespace quenra
