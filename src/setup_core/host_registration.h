// The Chrome native messaging host manifest as the setup program writes and reads it: its exact
// on-disk form (pretty JSON with sorted keys, plain slashes and a final line feed), and the file
// operations on it, on the file layer of both programs.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quenra {

// The manifest parses as JSON but is not a host manifest: not an object, a key missing, or a
// value of the wrong type.
class ManifestFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct HostRegistration {
    std::string name;
    std::string description;
    std::string path;
    std::string type;
    std::vector<std::string> allowedOrigins;  // "allowed_origins" on disk

    // Throws boost::system::system_error for text that is not JSON, ManifestFormatError for
    // JSON of the wrong shape. Keys beyond the five are ignored.
    static HostRegistration decode(std::string_view bytes);
    // The file's bytes, final line feed included.
    std::string encode() const;

    // The manifest at path, read whole without following a link. Throws FileFailure when it
    // cannot be read, ManifestFormatError when it is too large to be one or not a manifest, and
    // boost::system::system_error for text that is not JSON.
    static HostRegistration read(const std::string& path);
    // Writes the manifest to path in one step, mode 0644 and flushed: a temporary beside it is
    // renamed over it, so a reader (the browser) sees the old manifest or the new one, never a
    // part of either. A crash leaves at most a stray temporary file. Throws FileFailure.
    void write(const std::string& path) const;
    // Copies the file at path byte for byte, with its mode, to a fresh
    // "<hostName>.backup-<UUID>.json.bak" beside it and returns the copy's path; a copy that
    // fails half-way is removed again. Throws FileFailure, NotARegularFile (before any copy is
    // made) when anything but a regular file sits at path.
    static std::string backUp(const std::string& path, std::string_view hostName);

    bool operator==(const HostRegistration&) const = default;
};

}  // namespace quenra
