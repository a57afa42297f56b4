#include "setup_core/host_registration.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "bridge_core/files.h"
#include "bridge_core/json_writer.h"
#include "setup_core/uuid.h"

namespace quenra {
namespace {

// Paths are only taken apart and put together here; the file system is reached through Files.
namespace fs = std::filesystem;

// A manifest is a few hundred bytes; anything past this is not one of ours and is not read.
constexpr std::int64_t maxManifestBytes = 1 << 20;

std::string stringField(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr || !value->is_string()) {
        throw ManifestFormatError("The Chrome registration file has no text \"" + std::string(key) +
                                  "\" entry.");
    }
    return std::string(value->get_string());
}

}  // namespace

HostRegistration HostRegistration::decode(std::string_view bytes) {
    const boost::json::value value = boost::json::parse(bytes);  // throws on text that isn't JSON
    const boost::json::object* object = value.if_object();
    if (object == nullptr) {
        throw ManifestFormatError("The Chrome registration file does not hold a JSON object.");
    }
    HostRegistration registration;
    registration.name = stringField(*object, "name");
    registration.description = stringField(*object, "description");
    registration.path = stringField(*object, "path");
    registration.type = stringField(*object, "type");
    const boost::json::value* origins = object->if_contains("allowed_origins");
    if (origins == nullptr || !origins->is_array()) {
        throw ManifestFormatError("The Chrome registration file has no \"allowed_origins\" list.");
    }
    for (const boost::json::value& origin : origins->get_array()) {
        if (!origin.is_string()) {
            throw ManifestFormatError(
                "The Chrome registration file lists an origin that is not text.");
        }
        registration.allowedOrigins.emplace_back(origin.get_string());
    }
    return registration;
}

std::string HostRegistration::encode() const {
    boost::json::array origins;
    for (const std::string& origin : allowedOrigins) {
        origins.emplace_back(origin);
    }
    const boost::json::value value = {{"name", name},
                                      {"description", description},
                                      {"path", path},
                                      {"type", type},
                                      {"allowed_origins", std::move(origins)}};
    // Only text and lists: the writer cannot refuse them.
    return *JsonWriter::write(value, {.pretty = true}) + "\n";
}

HostRegistration HostRegistration::read(const std::string& path) {
    ByteBuffer bytes;
    try {
        bytes = Files::readBounded(path, maxManifestBytes);
    } catch (const FileFailure& failure) {
        if (failure.errorNumber() == EFBIG) {
            throw ManifestFormatError("The Chrome registration file " + path +
                                      " is too large to be a host manifest.");
        }
        throw;
    }
    return decode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void HostRegistration::write(const std::string& path) const {
    const std::string temporaryName =
        "." + fs::path(path).filename().string() + "." + UUID::random();
    Files::replace(path, bytesOf(encode()), temporaryName, {.mode = 0644, .flushed = true});
}

std::string HostRegistration::backUp(const std::string& path, std::string_view hostName) {
    const std::string backup = (fs::path(path).parent_path() /
                                (std::string(hostName) + ".backup-" + UUID::random() + ".json.bak"))
                                   .string();
    // A FIFO or a device under the manifest's name is refused here, before a backup exists:
    // one would block the open for ever, the other be copied without end.
    const Files::OpenFile input = Files::openRegularFile(path);
    Files::copyToNew(input.descriptor.get(), path, backup, input.mode & 0777);
    return backup;
}

}  // namespace quenra
