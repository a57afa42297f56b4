// The record of one cache entry ("entry.json"): its state and times, read strictly and written
// compactly with sorted keys.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quenra {

enum class EntryState { prepared, armed, published };

// "prepared", "armed", "published".
std::string_view rawValue(EntryState state);
std::optional<EntryState> entryStateFromRaw(std::string_view raw);

struct EntryRecord {
    std::int64_t version = 1;
    std::string preparedId;
    EntryState state = EntryState::prepared;
    std::string fileName;
    std::int64_t byteLength = 0;
    std::string sha256;
    double createdAt = 0;  // wall clock, seconds since 1970-01-01 UTC
    double touchedAt = 0;  // wall clock of the last record write
    std::optional<double> retainUntil;
    // An audio clip's format as the wire names it ("wav", "aiff", "flac", "mp3"); absent for a
    // MIDI clip, whose record stays exactly as it always was.
    std::optional<std::string> format;

    // Compact JSON, keys sorted, "retainUntil" and "format" left out when absent. Nothing when a
    // time is not a finite number.
    std::optional<std::string> encode() const;

    // Every key but "retainUntil" and "format" required with its type (integers for version and
    // byteLength, numbers for the times), "retainUntil" absent, null or a number, "format"
    // absent or a string, "state" one of the raw values; other keys ignored. Nothing when any
    // of that fails.
    static std::optional<EntryRecord> decode(std::string_view json);
    static std::optional<EntryRecord> decode(std::span<const std::uint8_t> json);

    bool operator==(const EntryRecord&) const = default;
};

}  // namespace quenra
