#include "setup_core/host_registration.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"
#include "setup_core/integration.h"
#include "setup_core/uuid.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;

// A manifest is a few hundred bytes; anything past this is not one of ours and is not read.
constexpr std::int64_t maxManifestBytes = 1 << 20;

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now, so a failing close (the last chance to hear of a lost write) is reported.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

// The failing path travels with the error, so that whoever tells the user can name the file.
[[noreturn]] void throwSystemError(const std::string& operation, const std::string& path) {
    throw fs::filesystem_error(operation, path, std::error_code(errno, std::generic_category()));
}

void writeAll(int fd, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwSystemError("write", path);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

std::string readManifest(const std::string& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (file.get() < 0) {
        throwSystemError("open", path);
    }
    std::string bytes;
    char chunk[16384];
    for (;;) {
        const ssize_t count = ::read(file.get(), chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwSystemError("read", path);
        }
        if (count == 0) {
            return bytes;
        }
        if (static_cast<std::int64_t>(bytes.size()) + count > maxManifestBytes) {
            throw ManifestFormatError("The Chrome registration file " + path +
                                      " is too large to be a host manifest.");
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
}

// A byte-for-byte copy under a fresh name; a copy that fails half-way is removed again.
std::string backUp(const std::string& source, const std::string& directory,
                   std::string_view hostName) {
    const std::string backup = (fs::path(directory) / (std::string(hostName) + ".backup-" +
                                                       UUID::random() + ".json.bak"))
                                   .string();
    Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat status {};
    if (input.get() < 0 || ::fstat(input.get(), &status) != 0) {
        throwSystemError("open", source);
    }
    Descriptor output(
        ::open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 0777));
    if (output.get() < 0) {
        throwSystemError("create", backup);
    }
    try {
        std::vector<char> chunk(65536);
        for (;;) {
            const ssize_t count = ::read(input.get(), chunk.data(), chunk.size());
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throwSystemError("read", source);
            }
            if (count == 0) {
                break;
            }
            writeAll(output.get(), chunk.data(), static_cast<std::size_t>(count), backup);
        }
        if (::fsync(output.get()) != 0 || output.close() != 0) {
            throwSystemError("write", backup);
        }
    } catch (const std::system_error&) {
        ::unlink(backup.c_str());
        throw;
    }
    return backup;
}

// A temporary file beside the target, renamed over it: a reader (Chrome) sees the old manifest
// or the new one, never a part of either. A crash leaves at most a stray temporary file.
void writeAtomically(const std::string& path, const std::string& bytes, mode_t mode) {
    const fs::path target(path);
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        throwSystemError("create", temporary);
    }
    try {
        if (::fchmod(file.get(), mode) != 0) {
            throwSystemError("chmod", temporary);
        }
        writeAll(file.get(), bytes.data(), bytes.size(), temporary);
        if (::fsync(file.get()) != 0 || file.close() != 0) {
            throwSystemError("write", temporary);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            throwSystemError("rename", path);
        }
    } catch (const std::system_error&) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The new manifest is in place; a directory flush that fails only risks the old one coming
    // back after a power loss.
    Descriptor directory(::open(target.parent_path().c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
}

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

HostRegistration Integration::expected() const {
    return HostRegistration{
        .name = std::string(hostName()),
        .description = "Quenra DAW Bridge helper",
        .path = helperPath(),
        .type = "stdio",
        .allowedOrigins = {extensionOrigin()},
    };
}

std::optional<HostRegistration> Integration::current() const {
    validateRegistrationPath();
    if (!manifestItemExists()) {
        return std::nullopt;
    }
    return HostRegistration::decode(readManifest(manifestPath()));
}

bool Integration::isRegistered() const {
    const std::optional<HostRegistration> found = current();
    if (!found) {
        return false;
    }
    // The description is ours to word; Chrome acts only on the other four.
    const HostRegistration mine = expected();
    return found->name == mine.name && found->path == mine.path && found->type == mine.type &&
           found->allowedOrigins == mine.allowedOrigins;
}

std::optional<std::string> Integration::registerHost(bool replace) const {
    validateLocation();
    validateRegistrationPath();
    bool registered = false;
    try {
        registered = isRegistered();
    } catch (const std::system_error&) {
        // An unreadable manifest is treated like a foreign one: replaceable after a backup.
    } catch (const boost::system::system_error&) {
    } catch (const ManifestFormatError&) {
    }
    if (registered) {
        return std::nullopt;
    }
    std::optional<std::string> backup;
    if (manifestItemExists()) {
        if (!replace) {
            throw SetupFailure(SetupFailure::Kind::conflict);
        }
        backup = backUp(manifestPath(), hostDirectory(), hostName());
    }
    fs::create_directories(hostDirectory());
    writeAtomically(manifestPath(), expected().encode(), 0644);
    return backup;
}

void Integration::unregister() const {
    if (!current()) {
        return;
    }
    if (!isRegistered()) {
        throw SetupFailure(SetupFailure::Kind::foreignRegistration);
    }
    const std::string path = manifestPath();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throwSystemError("remove", path);
    }
}

}  // namespace quenra
