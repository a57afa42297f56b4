#include "system_services/linux/drag_board_state.h"

#include <gtest/gtest.h>

#include <boost/json/array.hpp>

#include "bridge_core/services.h"

namespace quenra {
namespace {

TEST(DragBoardState, TypesListItemsInOrderThenTheBoardsOwnEachOnce) {
    DragBoardState state;
    state.items = {{{"b", std::nullopt, std::nullopt}, {"a", std::nullopt, std::nullopt}},
                   {{"c", std::nullopt, std::nullopt}, {"b", std::nullopt, std::nullopt}}};
    state.types = {"d", "a", "e", "d"};
    EXPECT_EQ(state.allTypes(), (std::vector<std::string>{"b", "a", "c", "d", "e"}));
    EXPECT_TRUE(DragBoardState{}.allTypes().empty());
}

TEST(DragBoardState, DeclaringAndClearingAreChangesStoringIsNot) {
    DragBoardState state;
    state.changeCount = 41;
    EXPECT_EQ(state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText,
                                  PasteboardType::chromiumDrag}),
              42);
    EXPECT_EQ(state.allTypes(),
              (std::vector<std::string>{PasteboardType::chromiumDrag, PasteboardType::plainText}));
    EXPECT_TRUE(state.setString(PasteboardType::plainText, "marker"));
    EXPECT_FALSE(state.setString(PasteboardType::fileURL, "file:///x"));
    EXPECT_FALSE(state.setPropertyList(PasteboardType::filenames, boost::json::array{"/x"}));
    EXPECT_FALSE(state.setString(PasteboardType::plainText, "\xff"));
    EXPECT_EQ(state.changeCount, 42);
    EXPECT_EQ(state.string(PasteboardType::plainText), "marker");
    EXPECT_EQ(state.string(PasteboardType::chromiumDrag), std::nullopt);

    // A new declaration drops every value the board held.
    EXPECT_EQ(state.declareTypes({PasteboardType::plainText}), 43);
    EXPECT_EQ(state.string(PasteboardType::plainText), std::nullopt);
    EXPECT_EQ(state.clearContents(), 44);
    EXPECT_TRUE(state.allTypes().empty());
    EXPECT_TRUE(state.items.empty());
}

TEST(DragBoardState, EncodesCompactlyAndDecodesToTheSameBoard) {
    DragBoardState state;
    state.changeCount = 7;
    state.declareTypes({PasteboardType::fileURL, PasteboardType::filenames});
    ASSERT_TRUE(state.setString(PasteboardType::fileURL, "file:///tmp/a%20b.mid"));
    ASSERT_TRUE(
        state.setPropertyList(PasteboardType::filenames, boost::json::array{"/tmp/a b.mid"}));
    const auto json = state.encode();
    ASSERT_TRUE(json.has_value());
    EXPECT_EQ(*json,
              R"({"changeCount":8,"items":[[{"string":"file:///tmp/a%20b.mid","type":)"
              R"("public.file-url"},{"propertyList":["/tmp/a b.mid"],"type":)"
              R"("NSFilenamesPboardType"}]],"types":["public.file-url","NSFilenamesPboardType"]})");
    EXPECT_EQ(DragBoardState::decode(*json), state);
}

TEST(DragBoardState, DecodeRefusesAnythingButAWellFormedState) {
    const std::vector<std::string> garbage = {
        "",
        "{",
        "[]",
        "null",
        R"({"items":[],"types":[]})",
        R"({"changeCount":-1,"items":[],"types":[]})",
        R"({"changeCount":1.5,"items":[],"types":[]})",
        R"({"changeCount":"1","items":[],"types":[]})",
        R"({"changeCount":1,"types":[]})",
        R"({"changeCount":1,"items":[]})",
        R"({"changeCount":1,"items":{},"types":[]})",
        R"({"changeCount":1,"items":[{}],"types":[]})",
        R"({"changeCount":1,"items":[[{"string":"x"}]],"types":[]})",
        R"({"changeCount":1,"items":[[{"type":"a","string":3}]],"types":[]})",
        R"({"changeCount":1,"items":[],"types":[3]})",
        R"({"changeCount":1,"items":[],"types":[]} trailing)",
    };
    for (const std::string& json : garbage) {
        EXPECT_EQ(DragBoardState::decode(json), std::nullopt) << json;
    }
    EXPECT_TRUE(DragBoardState::decode(R"({"changeCount":0,"extra":1,"items":[],"types":[]})"));
}

}  // namespace
}  // namespace quenra
