// Turns the name a web page suggests for a clip into one harmless, readable file name: a single
// path component without control or invisible characters, never hidden, bounded in length and
// always ending in ".mid".
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace quenra::FileNames {

inline constexpr std::string_view fallbackBase = "clip";
inline constexpr std::size_t maxBaseBytes = 120;
inline constexpr std::string_view allowedPunctuation = "-_.,()[]#+'!&@=~";

// Never fails; the result is non-empty, at most maxBaseBytes + 4 UTF-8 bytes and ends in ".mid".
// Bytes that are not valid UTF-8 are read as U+FFFD.
std::string safeName(std::string_view suggested);

// The same rules for another kind of file: appended takes the place of ".mid", and the first
// of recognised (in any letter case) that ends the cleaned name takes the place of ".midi" and
// ".mid" as the one extension removed.
std::string safeName(std::string_view suggested, std::string_view appended,
                     std::span<const std::string_view> recognised);

// The longest prefix of whole grapheme clusters of text whose UTF-8 length is at most maxBytes.
std::string truncated(std::string_view text, std::size_t maxBytes);

}  // namespace quenra::FileNames
