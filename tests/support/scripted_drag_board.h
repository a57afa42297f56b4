// An in-memory drag pasteboard and mouse for driving the takeover poll: tests script what the
// browser or another application writes, and read back what the host read and claimed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge_core/services.h"

namespace quenra::testing {

class ScriptedDragBoard : public DragBoard {
  public:
    // What the next claim reports; by default a claim behaves like a writable pasteboard.
    struct ClaimScript {
        std::optional<std::int64_t> declaredChangeCount;  // nothing: the count after declaring
        bool fileURLWritten = true;
        bool filenamesWritten = true;
    };

    std::int64_t changeCount() override;
    std::vector<std::string> types() override;
    std::optional<std::string> plainText() override;
    ClaimResult claim(const std::vector<std::string>& paths) override;

    // A writer that declares types (a change) and optionally stores a plain-text value.
    void write(std::vector<std::string> types, std::optional<std::string> text);
    // A browser drag: Chrome's type and the plain-text type, with text stored or not.
    void beginChromeDrag(std::optional<std::string> text);
    // Stores a plain-text value for an already declared type: not a change.
    void storeText(std::string text);

    std::int64_t count = 0;
    std::vector<std::string> typeList;
    std::optional<std::string> text;
    // The first claimed file's URL, and the file-names list.
    std::optional<std::string> fileURL;
    std::optional<std::vector<std::string>> filenames;
    ClaimScript claimScript;
    // Runs inside plainText() before it answers, to model a writer racing the poll.
    std::function<void()> onPlainText;

    std::int64_t changeCountReads = 0;
    std::int64_t typesReads = 0;
    std::int64_t plainTextReads = 0;
    // Every path claimed, claim after claim.
    std::vector<std::string> claimedPaths;
};

class SettableMouse : public MouseButtons {
  public:
    bool isLeftButtonDown() override {
        ++reads;
        return leftButtonDown;
    }

    bool leftButtonDown = true;
    std::int64_t reads = 0;
};

}  // namespace quenra::testing
