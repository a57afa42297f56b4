// Readable failure messages for the cache's result records.
#pragma once

#include <ostream>

#include "bridge_core/cache.h"

namespace quenra {

inline void PrintTo(const SweepReport& report, std::ostream* out) {
    *out << "{deleted " << report.deleted << ", kept " << report.kept << ", owned " << report.owned
         << ", temporariesDeleted " << report.temporariesDeleted
         << (report.skipped ? ", skipped}" : "}");
}

inline void PrintTo(const CacheUsage& usage, std::ostream* out) {
    *out << "{entries " << usage.entries << ", bytes " << usage.bytes << "}";
}

inline void PrintTo(const CacheFailure& failure, std::ostream* out) {
    *out << failure.what();
}

}  // namespace quenra
