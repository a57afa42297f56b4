#include "scripted_drag_board.h"

#include <utility>

namespace quenra::testing {

std::int64_t ScriptedDragBoard::changeCount() {
    ++changeCountReads;
    return count;
}

std::vector<std::string> ScriptedDragBoard::types() {
    ++typesReads;
    return typeList;
}

std::optional<std::string> ScriptedDragBoard::plainText() {
    ++plainTextReads;
    if (onPlainText) {
        onPlainText();
    }
    return text;
}

ClaimResult ScriptedDragBoard::claim(const std::vector<std::string>& paths) {
    claimedPaths.insert(claimedPaths.end(), paths.begin(), paths.end());
    write({PasteboardType::fileURL, PasteboardType::filenames}, std::nullopt);
    const ClaimResult result{
        .declaredChangeCount = claimScript.declaredChangeCount.value_or(count),
        .fileURLWritten = claimScript.fileURLWritten,
        .filenamesWritten = claimScript.filenamesWritten,
    };
    if (result.fileURLWritten && !paths.empty()) {
        fileURL = "file://" + paths.front();
    }
    if (result.filenamesWritten) {
        filenames = paths;
    }
    return result;
}

void ScriptedDragBoard::write(std::vector<std::string> types, std::optional<std::string> value) {
    ++count;
    typeList = std::move(types);
    text = std::move(value);
    fileURL.reset();
    filenames.reset();
}

void ScriptedDragBoard::beginChromeDrag(std::optional<std::string> value) {
    write({PasteboardType::chromiumDrag, PasteboardType::plainText}, std::move(value));
}

void ScriptedDragBoard::storeText(std::string value) {
    text = std::move(value);
}

}  // namespace quenra::testing
