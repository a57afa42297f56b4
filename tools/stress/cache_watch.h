// The observers of a stress run, each on its own thread over the shared cache: a reader that
// looks for entries visible before they are whole, a counter that takes the cache lock and
// checks the entry and byte limits, and an ager that plays the passing of time by moving the
// retention of abandoned published entries into the past so that sweeps remove them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bridge_core/limits.h"

namespace quenra::Stress {

struct WatchCounts {
    std::atomic<std::int64_t> readerScans{0};
    std::atomic<std::int64_t> halfVisible{0};  // seen incomplete, later seen whole
    std::atomic<std::int64_t> tornRecords{0};  // a record present but unreadable
    std::atomic<std::int64_t> limitScans{0};
    std::atomic<std::int64_t> limitBreaches{0};
    std::atomic<std::int64_t> mostEntries{0};
    std::atomic<std::int64_t> mostBytes{0};
    std::atomic<std::int64_t> aged{0};
};

class CacheWatch {
  public:
    CacheWatch(std::string root, const Limits& limits);
    ~CacheWatch();
    void start();
    void stop();
    const WatchCounts& counts() const { return counts_; }

  private:
    void readLoop();
    void limitLoop();
    void ageLoop();

    std::string root_;
    Limits limits_;
    WatchCounts counts_;
    std::atomic<bool> running_{false};
    std::vector<std::thread> threads_;
};

// Entries written straight to disk as abandoned published entries kept for a day: they count
// towards the limits and no sweep may remove them during the run.
void prefill(const std::string& root, std::int64_t count);

struct FinalAudit {
    std::int64_t retained = 0;   // published or armed entries, all unowned
    std::int64_t leftovers = 0;  // anything else: prepared or incomplete entries, staging,
                                 // temporaries, strangers, entries still owned
    std::vector<std::string> examples;
};
FinalAudit auditAfterExit(const std::string& root);

}  // namespace quenra::Stress
