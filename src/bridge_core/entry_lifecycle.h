// An entry's life in one place. A clip arrives whole (PREPARE) or in chunks (an upload, which
// lives in staging until its last chunk and becomes an entry only then); as an entry it is
// prepared, armed while a drag carries it, published once a drop target has it, and it ends by
// its owner's hand (released while only prepared) or by a sweep's, once no process owns it and
// its time has passed. The session and the sweep both read these rules.
//
//   from       what happens                           to
//   prepared   an ARM carries it                      armed
//   armed      the drag ends unpublished              what it was before the ARM
//   any        the drag's files were claimed          published
//   prepared   released, superseded, connection end   removed at once
//   other      released, superseded, connection end   left to the sweep
//   unowned    its expiry passed                      removed by a sweep
#pragma once

#include <optional>

#include "bridge_core/entry_record.h"
#include "bridge_core/limits.h"

namespace quenra::EntryLifecycle {

// The state a drag's ARM gives a record: prepared becomes armed, an armed or published record
// stays as it is.
EntryState armed(EntryState before);

// Whether a drag that ends unpublished puts the record back, to prepared: only when it was
// prepared before the ARM.
bool restoresOnUnpublishedEnd(EntryState before);

// What the owner does with the entry when it gives it up: a clip that was only prepared was
// never dragged anywhere and goes at once; any other stays for the sweep to judge.
enum class Release { remove, leave };
Release onRelease(EntryState state);

// When a sweep may remove an unowned entry: a prepared record after preparedIdle, a record with
// a retention at that time, any other record retention after its last write, an unreadable one
// (record empty) unreadableRetention after the entry folder last changed.
double expiry(const std::optional<EntryRecord>& record, double folderChanged, const Limits& limits);

}  // namespace quenra::EntryLifecycle
