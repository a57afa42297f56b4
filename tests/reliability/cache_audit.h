// Reads a cache directory the way a hostile observer would, without any lock, and says what a
// crash or a fault may have left: complete entries, entries missing a part, staging
// directories, record temporaries. An entry is complete when its record reads and names a
// regular clip file of the recorded size beside an owner lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge_core/entry_record.h"

namespace quenra::testing {

struct CacheAudit {
    std::vector<EntryRecord> complete;
    std::vector<std::string> incomplete;   // entry ids whose directory lacks a sound part
    std::vector<std::string> staging;      // ".tmp-" names in entries/
    std::vector<std::string> temporaries;  // ".entry.json." files inside entries
    std::vector<std::string> strangers;    // any other name in entries/

    // root is the cache root (holding "entries").
    static CacheAudit of(const std::string& root);
    std::string describe() const;
};

// Whether an entry directory is complete, as above.
bool isCompleteEntry(const std::string& directory, EntryRecord* record = nullptr);

// Whether no process owns the entry in directory: its owner lock can be taken.
bool ownerLockIsFree(const std::string& directory);

}  // namespace quenra::testing
