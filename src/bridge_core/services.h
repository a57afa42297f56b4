// The four system services the session and the cache reach only through these interfaces: the
// drag pasteboard, the mouse buttons, the clocks and random bytes. The host runs on the
// platform's implementations; tests substitute their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenra {

// What a claim wrote: the change count it declared, whether every path's file URL was
// written, and whether the file-names list was.
struct ClaimResult {
    std::int64_t declaredChangeCount = 0;
    bool fileURLWritten = false;
    bool filenamesWritten = false;

    bool operator==(const ClaimResult&) const = default;
};

// Pasteboard type names, as macOS spells them.
namespace PasteboardType {
inline constexpr const char* fileURL = "public.file-url";
inline constexpr const char* plainText = "public.utf8-plain-text";
inline constexpr const char* filenames = "NSFilenamesPboardType";
inline constexpr const char* chromiumDrag = "org.chromium.chromium-renderer-initiated-drag";
}  // namespace PasteboardType

class DragBoard {
  public:
    virtual ~DragBoard() = default;
    virtual std::int64_t changeCount() = 0;
    // Every type present: each item's types in item order, then the board's own list; each
    // name once, at its first place.
    virtual std::vector<std::string> types() = 0;
    virtual std::optional<std::string> plainText() = 0;
    // Puts the files at paths (absolute, at least one) on the board, which clears it first: one
    // item per file, in order, each holding its file URL (absolute string, scheme included),
    // and the file-names list holding every path in the same order. For one path that is one
    // item declaring [file URL, file names]. No plain text survives a claim.
    virtual ClaimResult claim(const std::vector<std::string>& paths) = 0;
};

class MouseButtons {
  public:
    virtual ~MouseButtons() = default;
    virtual bool isLeftButtonDown() = 0;
};

class BridgeClock {
  public:
    virtual ~BridgeClock() = default;
    // Seconds since 1970-01-01 UTC; stored in cache records.
    virtual double wallNow() = 0;
    // Seconds on a clock that never goes back and stops during sleep; deadlines and windows.
    virtual double monotonicNow() = 0;
};

class RandomSource {
  public:
    virtual ~RandomSource() = default;
    // count cryptographically secure bytes; a generator failure ends the process.
    virtual std::vector<std::uint8_t> bytes(std::size_t count) = 0;

    // 2 * count lowercase hex digits.
    std::string hex(std::size_t count);
    // Base64url without padding: 22 characters for 16 bytes, 43 for 32.
    std::string base64URL(std::size_t count);
};

}  // namespace quenra
