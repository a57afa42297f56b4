// File URLs as the drag pasteboard carries them: "file://" and the absolute path with the
// characters a URL path may not hold percent-encoded, the way Foundation spells a file URL's
// absolute string, and the way back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenra::FileURL {

// "file://" + path, every byte outside the unreserved characters, "/" and !$&'()*+,=:@
// written as %XX (uppercase hex; ";" is encoded too, as Foundation's file URLs do), trailing
// slashes of a non-root path dropped. Nothing for a path that is not absolute or holds a NUL.
std::optional<std::string> fromPath(std::string_view path);

// The path of a "file://" URL whose host is empty or "localhost", query and fragment ignored,
// escapes decoded except "%2F" and "%00" (a path never gains a "/" or NUL from an escape).
// Nothing for any other scheme, a broken escape, or a path that is not absolute.
std::optional<std::string> toPath(std::string_view url);

}  // namespace quenra::FileURL
