// PasteboardDragBoard on GNUstep's shared drag pasteboard, as the host opens it: the browser's
// drag is written by another process, and what a drop target reads is read by a third.
#include <gtest/gtest.h>

#include <boost/json/array.hpp>

#include "bridge_core/services.h"
#include "gnustep/pasteboard_fixture.h"
#include "system_services/linux/file_url.h"
#include "system_services/system_drag_board.h"

namespace quenra::testing {
namespace {

using PasteboardDragBoardOnGNUstep = PasteboardTest;

TEST_F(PasteboardDragBoardOnGNUstep, ReadsTheBrowsersDragAndClaimsItForTheDropTarget) {
    const std::unique_ptr<DragBoard> board = openSystemDragBoard();
    const std::string marker = "QNR_DAW_DRAG/v1/end-to-end-sess/AAAAAAAAAAAAAAAAAAAAAA";
    const std::int64_t browser = browserDrag(marker);
    EXPECT_EQ(board->changeCount(), browser);
    EXPECT_EQ(board->types(),
              (std::vector<std::string>{PasteboardType::chromiumDrag, PasteboardType::plainText}));
    EXPECT_EQ(board->plainText(), marker);

    // A name the URL has to escape, as a clip's name may be.
    const std::string path = home.join("Bass line ü #1.mid");
    const ClaimResult claim = board->claim({path});
    EXPECT_EQ(claim, (ClaimResult{browser + 1, true, true}));

    const boost::json::object seen = dropTarget();
    EXPECT_EQ(seen.at("changeCount"), claim.declaredChangeCount);
    EXPECT_EQ(seen.at("types"),
              (boost::json::array{PasteboardType::fileURL, PasteboardType::filenames}));
    ASSERT_TRUE(seen.at("fileURL").is_string());
    EXPECT_EQ(FileURL::toPath(seen.at("fileURL").as_string()), path);
    EXPECT_EQ(seen.at("filenames"), boost::json::array{boost::json::string(path)});
    EXPECT_TRUE(seen.at("plainText").is_null());

    EXPECT_EQ(board->changeCount(), claim.declaredChangeCount);
    EXPECT_EQ(board->types(),
              (std::vector<std::string>{PasteboardType::fileURL, PasteboardType::filenames}));
    EXPECT_EQ(board->plainText(), std::nullopt);
}

}  // namespace
}  // namespace quenra::testing
