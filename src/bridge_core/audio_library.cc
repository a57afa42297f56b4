#include "bridge_core/audio_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "bridge_core/files.h"

namespace quenra {

namespace {

// "Drum Loop.wav" as "Drum Loop" and ".wav"; a name without a dot (after its first character)
// has no extension.
std::pair<std::string, std::string> splitExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return {name, ""};
    }
    return {name.substr(0, dot), name.substr(dot)};
}

std::optional<FileIdentity> identityOf(const std::string& path) {
    const std::optional<Files::Status> status = Files::statusOf(path);
    if (!status || status->kind != Files::Status::Kind::regularFile || !status->ownedByUser) {
        return std::nullopt;
    }
    return FileIdentity{status->device, status->inode, status->size};
}

}  // namespace

AudioLibrary::AudioLibrary(std::string folder) : folder_(std::move(folder)) {}

LibraryFile AudioLibrary::place(const OwnedEntry& entry) const {
    if (folder_.empty()) {
        throw FileFailure("open", ENOENT, "the music folder");
    }
    // The user's folder, so others may read it, as they may the rest of the music folder. A
    // link on the way is followed: music often lives on another disk.
    Files::createDirectories(folder_, 0755);
    const Files::OpenFile cached = Files::openRegularFile(entry.fileURL());
    // A hard link shares the cached file's inode, and so its mode: readable as a library file
    // is, while the entry's private folder still keeps others from reaching it through the
    // cache.
    if (::fchmod(cached.descriptor.get(), 0644) != 0) {
        throw FileFailure("chmod", errno, entry.fileURL());
    }
    const auto [base, extension] = splitExtension(entry.record().fileName);
    for (int copy = 1; copy <= maxCopies; ++copy) {
        const std::string name =
            copy == 1 ? base + extension : base + " " + std::to_string(copy) + extension;
        const std::string path = folder_ + "/" + name;
        if (::linkat(AT_FDCWD, entry.fileURL().c_str(), AT_FDCWD, path.c_str(), 0) == 0) {
            Files::flushDirectory(folder_);
            const std::optional<FileIdentity> identity = identityOf(path);
            if (!identity) {
                throw FileFailure("stat", EIO, path);
            }
            return LibraryFile{path, *identity};
        }
        if (errno == EEXIST) {
            continue;
        }
        // Another volume, or one without hard links: a copy of its own, made the same way.
        if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != ENOTSUP &&
            errno != EOPNOTSUPP) {
            throw FileFailure("link", errno, path);
        }
        try {
            Files::copyToNew(cached.descriptor.get(), entry.fileURL(), path, 0644);
        } catch (const FileFailure& failure) {
            if (failure.errorNumber() == EEXIST) {
                continue;
            }
            throw;
        }
        Files::flushDirectory(folder_);
        const std::optional<FileIdentity> identity = identityOf(path);
        if (!identity) {
            throw FileFailure("stat", EIO, path);
        }
        return LibraryFile{path, *identity};
    }
    throw FileFailure("link", EEXIST, folder_);
}

bool AudioLibrary::isIntact(const LibraryFile& file) {
    return identityOf(file.path) == file.identity;
}

void AudioLibrary::remove(const LibraryFile& file) {
    if (isIntact(file)) {
        ::unlink(file.path.c_str());
    }
}

}  // namespace quenra
