// quenra-drag-sim: drives the Linux drag board by hand or from tests, as a browser drag, a copy
// in another application, the mouse button, or a look at what a drop target would receive.
// Standard output carries only what "show" prints; failures are one line on standard error.
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "bridge_core/files.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/services.h"
#include "system_services/linux/drag_board.h"

namespace quenra {
namespace {

constexpr const char* usage =
    "usage: quenra-drag-sim begin [--button up|down] [--no-text] TEXT | copy TEXT | "
    "button down|up | show | clear";

struct UsageError {
    std::string message;
};

boost::json::value optionalString(const std::optional<std::string>& text) {
    return text ? boost::json::value(boost::json::string(*text)) : boost::json::value(nullptr);
}

std::string show(const FileDragBoard& board, FileMouseButtons& mouse) {
    const DragBoardState state = board.read();
    boost::json::array types;
    for (const std::string& type : state.allTypes()) {
        types.push_back(boost::json::string(type));
    }
    const boost::json::value* filenames = state.propertyList(PasteboardType::filenames);
    boost::json::object report;
    report["changeCount"] = state.changeCount;
    report["fileURL"] = optionalString(state.string(PasteboardType::fileURL));
    boost::json::array fileURLs;
    for (const std::string& url : state.strings(PasteboardType::fileURL)) {
        fileURLs.push_back(boost::json::string(url));
    }
    report["fileURLs"] = std::move(fileURLs);
    report["filenames"] =
        filenames != nullptr && filenames->is_array() ? *filenames : boost::json::value(nullptr);
    report["leftButtonDown"] = mouse.isLeftButtonDown();
    report["plainText"] = optionalString(state.string(PasteboardType::plainText));
    report["types"] = std::move(types);
    const auto line = JsonWriter::write(report);
    if (!line) {
        throw UsageError{"the board holds a value that cannot be shown"};
    }
    return *line + "\n";
}

// Declares types and stores text as plain text in one change, or changes nothing when the text
// cannot be stored (a pasteboard string is always valid UTF-8).
void declareText(FileDragBoard& board, const std::vector<std::string>& types,
                 const std::string& text, const std::string& command) {
    bool stored = false;
    board.update([&](DragBoardState& state) {
        DragBoardState next = state;
        next.declareTypes(types);
        stored = next.setString(PasteboardType::plainText, text);
        if (stored) {
            state = std::move(next);
        }
    });
    if (!stored) {
        throw UsageError{command + ": TEXT is not valid UTF-8"};
    }
}

void begin(FileDragBoard& board, FileMouseButtons& mouse, const std::vector<std::string>& words) {
    bool buttonDown = true;
    bool withText = true;
    std::optional<std::string> text;
    for (std::size_t index = 1; index < words.size(); ++index) {
        const std::string& word = words[index];
        if (word == "--button" && index + 1 < words.size() &&
            (words[index + 1] == "up" || words[index + 1] == "down")) {
            buttonDown = words[++index] == "down";
        } else if (word == "--no-text") {
            withText = false;
        } else if (!text && (word.empty() || word.front() != '-' || word == "--")) {
            text = word == "--" && index + 1 < words.size() ? words[++index] : word;
        } else {
            throw UsageError{"begin: unexpected argument \"" + word + "\""};
        }
    }
    if (withText && !text) {
        throw UsageError{"begin: TEXT is missing"};
    }
    // The button moves first: a host that sees the drag's data must already find the button
    // held, as it would in a real drag, or it dismisses that change for good.
    mouse.setLeftButtonDown(buttonDown);
    if (withText) {
        declareText(board, {PasteboardType::chromiumDrag, PasteboardType::plainText}, *text,
                    "begin");
    } else {
        board.update(
            [](DragBoardState& state) { state.declareTypes({PasteboardType::chromiumDrag}); });
    }
}

void copy(FileDragBoard& board, const std::vector<std::string>& words) {
    if (words.size() != 2) {
        throw UsageError{"copy: expects exactly one TEXT"};
    }
    declareText(board, {PasteboardType::plainText}, words[1], "copy");
}

int run(const std::vector<std::string>& words) {
    if (words.empty()) {
        throw UsageError{usage};
    }
    const std::string& command = words[0];
    if (command != "begin" && command != "copy" && command != "button" && command != "show" &&
        command != "clear") {
        throw UsageError{"unknown command \"" + command + "\"; " + usage};
    }
    const auto folder = DragBoardFolder::openSystem();
    FileDragBoard board(folder);
    FileMouseButtons mouse(folder);
    if (command == "begin") {
        begin(board, mouse, words);
    } else if (command == "copy") {
        copy(board, words);
    } else if (command == "button") {
        if (words.size() != 2 || (words[1] != "down" && words[1] != "up")) {
            throw UsageError{"button: expects down or up"};
        }
        mouse.setLeftButtonDown(words[1] == "down");
    } else if (command == "show") {
        if (words.size() != 1) {
            throw UsageError{"show: takes no arguments"};
        }
        const std::string line = show(board, mouse);
        if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
            std::fflush(stdout) != 0) {
            throw UsageError{"show: cannot write to standard output"};
        }
    } else {
        if (words.size() != 1) {
            throw UsageError{"clear: takes no arguments"};
        }
        board.update([](DragBoardState& state) { state.clearContents(); });
    }
    return 0;
}

}  // namespace
}  // namespace quenra

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    std::string message;
    try {
        return quenra::run(words);
    } catch (const quenra::UsageError& error) {
        message = error.message;
    } catch (const quenra::FileFailure& failure) {
        // The step, the file and the system's words: "open /run/.../board.lock: Permission denied".
        message = failure.operation() + (failure.path().empty() ? "" : " " + failure.path()) +
                  ": " + failure.code().message();
    }
    // One line, whatever the arguments quoted in it held.
    for (char& character : message) {
        if (character == '\n' || character == '\r') {
            character = ' ';
        }
    }
    std::cerr << "quenra-drag-sim: " << message << "\n";
    return 1;
}
