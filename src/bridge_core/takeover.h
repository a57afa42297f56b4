// The armed drag and the poll that replaces Chrome's drag with the cached clip file: it looks
// for Chrome's drag type carrying this drag's marker while the left button is held, then
// claims the pasteboard for the file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bridge_core/arm_lease.h"
#include "bridge_core/audio_library.h"
#include "bridge_core/cache.h"
#include "bridge_core/protocol.h"
#include "bridge_core/session_environment.h"

namespace quenra {

// A clip an armed drag carries: its entry (the preparation that holds the entry's owner lock
// outlives the drag), what the drag's messages name it by, and the record's state before arming,
// which a drag that ends unpublished restores when it was `prepared`.
struct ArmedClip {
    std::shared_ptr<OwnedEntry> entry;
    std::string clipId;
    std::int64_t generation = 0;
    EntryState stateBeforeArm = EntryState::prepared;
    // An audio clip's file in the user's library, which the drag offers instead of the cached
    // one; new when this drag made it (and so removes it if it ends unpublished).
    std::optional<LibraryFile> libraryFile = std::nullopt;
    bool libraryFileIsNew = false;
};

class ArmedDrag {
  public:
    ArmedDrag(std::string token, std::string marker, std::vector<ArmedClip> clips, bool isList,
              ArmLease lease, RecordBatch records, double deadline, std::int64_t baseline);

    const std::string token;
    const std::string marker;
    // In the order their files go on the pasteboard.
    const std::vector<ArmedClip> clips;
    // Armed with a "clips" list, which its messages then use too.
    const bool isList;
    // The per-user arm lock, held exactly while this drag is armed.
    ArmLease lease;
    // The clips' armed records, not yet written: a moment after ARMED is out the session writes
    // and flushes them together and puts them in place, and no poll looks at the pasteboard
    // before that, so no file reaches a drop target before its record holds it. Empty from then
    // on; a drag that ends first takes them with it unwritten.
    RecordBatch records;
    double deadline;
    // The last change count already dealt with; it is not examined again.
    std::int64_t lastSeen;
    // Counts this drag's own claims produced, so the poll never mistakes them for a drag.
    std::set<std::int64_t> ownWrites;
    std::optional<std::int64_t> awaitedCount;
    std::int64_t awaitedReads = 0;
};

// The decision of one poll step.
struct PollOutcome {
    enum class Kind { failed, waiting, expired, published };

    Kind kind = Kind::waiting;
    ErrorCode code = ErrorCode::internal;  // meaningful only for failed

    static PollOutcome failed(ErrorCode code) { return {Kind::failed, code}; }
    static PollOutcome waiting() { return {Kind::waiting}; }
    static PollOutcome expired() { return {Kind::expired}; }
    static PollOutcome published() { return {Kind::published}; }

    bool operator==(const PollOutcome&) const = default;
};

namespace Takeover {

// Chrome's drag was seen at count without readable text: wait for the text on the following
// polls, but give the count up after this many reads in a row.
inline constexpr std::int64_t maxAwaitedReads = 20;

PollOutcome lookAgain(ArmedDrag& drag, std::int64_t count);

// One poll step of an armed drag, before the session acts on its outcome. A step that sees
// no change reads only the clock and the change count.
PollOutcome poll(ArmedDrag& drag, const SessionEnvironment& environment);

// "QNR_DAW_DRAG/v1/" + the first 16 characters of the session id + "/" + token.
std::string marker(const std::string& sessionId, const std::string& token);

}  // namespace Takeover

}  // namespace quenra
