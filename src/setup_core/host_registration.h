// The Chrome native messaging host manifest as the setup program writes and reads it, and its
// exact on-disk form: pretty JSON with sorted keys, plain slashes and a final line feed.
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

    bool operator==(const HostRegistration&) const = default;
};

}  // namespace quenra
