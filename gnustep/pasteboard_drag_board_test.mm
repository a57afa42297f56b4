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

// One file, as drags have always carried, then three (one item each, in order), then one again.
// Names the URL has to escape, as a clip's name may be.
TEST_F(PasteboardDragBoardOnGNUstep, ReadsTheBrowsersDragAndClaimsItForTheDropTarget) {
    const std::unique_ptr<DragBoard> board = openSystemDragBoard();
    const std::vector<std::vector<std::string>> claims = {
        {home.join("Bass line ü #1.mid")},
        {home.join("Drums 1.mid"), home.join("Bass 1 ü #2.mid"), home.join("Chords 1.mid")},
        {home.join("Lead.mid")},  // no item of the three-file claim is left over
    };
    for (const std::vector<std::string>& paths : claims) {
        SCOPED_TRACE(paths.size());
        const std::string marker = "QNR_DAW_DRAG/v1/end-to-end-sess/AAAAAAAAAAAAAAAAAAAAAA";
        const std::int64_t browser = browserDrag(marker);
        EXPECT_EQ(board->changeCount(), browser);
        EXPECT_EQ(board->types(), (std::vector<std::string>{PasteboardType::chromiumDrag,
                                                            PasteboardType::plainText}));
        EXPECT_EQ(board->plainText(), marker);

        const ClaimResult claim = board->claim(paths);
        EXPECT_EQ(claim, (ClaimResult{browser + 1, true, true}));

        const boost::json::object seen = dropTarget();
        EXPECT_EQ(seen.at("changeCount"), claim.declaredChangeCount);
        EXPECT_EQ(seen.at("types"),
                  (boost::json::array{PasteboardType::fileURL, PasteboardType::filenames}));
        ASSERT_TRUE(seen.at("fileURLs").is_array());
        const boost::json::array& urls = seen.at("fileURLs").as_array();
        ASSERT_EQ(urls.size(), paths.size());
        boost::json::array filenames;
        for (std::size_t index = 0; index < paths.size(); ++index) {
            ASSERT_TRUE(urls.at(index).is_string());
            EXPECT_EQ(FileURL::toPath(urls.at(index).as_string()), paths[index]);
            filenames.push_back(boost::json::string(paths[index]));
        }
        EXPECT_EQ(seen.at("fileURL"), urls.at(0));
        EXPECT_EQ(seen.at("filenames"), filenames);
        EXPECT_TRUE(seen.at("plainText").is_null());

        EXPECT_EQ(board->changeCount(), claim.declaredChangeCount);
        EXPECT_EQ(board->types(),
                  (std::vector<std::string>{PasteboardType::fileURL, PasteboardType::filenames}));
        EXPECT_EQ(board->plainText(), std::nullopt);
    }
}

}  // namespace
}  // namespace quenra::testing
