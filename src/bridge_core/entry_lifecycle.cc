#include "bridge_core/entry_lifecycle.h"

namespace quenra::EntryLifecycle {

EntryState armed(EntryState before) {
    return before == EntryState::prepared ? EntryState::armed : before;
}

bool restoresOnUnpublishedEnd(EntryState before) {
    return before == EntryState::prepared;
}

Release onRelease(EntryState state) {
    return state == EntryState::prepared ? Release::remove : Release::leave;
}

double expiry(const std::optional<EntryRecord>& record, double folderChanged,
              const Limits& limits) {
    if (!record) {
        return folderChanged + limits.unreadableRetention;
    }
    if (record->state == EntryState::prepared) {
        return record->touchedAt + limits.preparedIdle;
    }
    if (record->retainUntil) {
        return *record->retainUntil;
    }
    return record->touchedAt + limits.retention;
}

}  // namespace quenra::EntryLifecycle
