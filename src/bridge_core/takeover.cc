#include "bridge_core/takeover.h"

#include <algorithm>
#include <utility>

namespace quenra {

namespace {

bool contains(const std::vector<std::string>& types, const char* type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

}  // namespace

ArmedDrag::ArmedDrag(std::string token, std::string marker, std::vector<ArmedClip> clips,
                     bool isList, ArmLease lease, RecordBatch records, double deadline,
                     std::int64_t baseline)
    : token(std::move(token)),
      marker(std::move(marker)),
      clips(std::move(clips)),
      isList(isList),
      lease(std::move(lease)),
      records(std::move(records)),
      deadline(deadline),
      lastSeen(baseline) {}

PollOutcome Takeover::lookAgain(ArmedDrag& drag, std::int64_t count) {
    if (drag.awaitedCount != count) {
        drag.awaitedCount = count;
        drag.awaitedReads = 1;
    } else if (++drag.awaitedReads >= maxAwaitedReads) {
        drag.lastSeen = count;
    }
    return PollOutcome::waiting();
}

PollOutcome Takeover::poll(ArmedDrag& drag, const SessionEnvironment& environment) {
    if (environment.clock.monotonicNow() >= drag.deadline) {
        return PollOutcome::expired();
    }
    DragBoard& board = environment.board;
    const std::int64_t count = board.changeCount();
    if (count == drag.lastSeen) {
        return PollOutcome::waiting();
    }
    if (drag.ownWrites.contains(count)) {
        drag.lastSeen = count;
        return PollOutcome::waiting();
    }

    const std::vector<std::string> types = board.types();
    if (types.empty()) {
        // Chrome may not have declared its types yet.
        return lookAgain(drag, count);
    }
    if (!contains(types, PasteboardType::chromiumDrag)) {
        drag.lastSeen = count;
        return PollOutcome::waiting();
    }
    if (!contains(types, PasteboardType::plainText)) {
        return lookAgain(drag, count);
    }
    const std::optional<std::string> text = board.plainText();
    if (!text) {
        return lookAgain(drag, count);
    }

    // From here this count is judged once: a mismatch is not looked at again.
    drag.lastSeen = count;
    const bool matches =
        static_cast<std::int64_t>(text->size()) <= environment.limits.markerMaxBytes &&
        *text == drag.marker && environment.mouse.isLeftButtonDown() &&
        board.changeCount() == count;
    if (!matches) {
        return PollOutcome::waiting();
    }

    std::vector<std::string> paths;
    for (const ArmedClip& clip : drag.clips) {
        const bool intact = clip.libraryFile ? AudioLibrary::isIntact(*clip.libraryFile)
                                             : environment.cache.isIntact(*clip.entry);
        if (!intact) {
            return PollOutcome::failed(ErrorCode::internal);
        }
        paths.push_back(clip.libraryFile ? clip.libraryFile->path : clip.entry->fileURL());
    }
    const ClaimResult result = board.claim(paths);
    drag.ownWrites.insert(result.declaredChangeCount);
    if (result.declaredChangeCount > count && result.fileURLWritten && result.filenamesWritten) {
        return PollOutcome::published();
    }
    return PollOutcome::failed(ErrorCode::internal);
}

std::string Takeover::marker(const std::string& sessionId, const std::string& token) {
    return "QNR_DAW_DRAG/v1/" + sessionId.substr(0, 16) + "/" + token;
}

}  // namespace quenra
