#include "setup_core/failure_text.h"

#include <boost/system/system_error.hpp>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "bridge_core/files.h"
#include "setup_core/host_registration.h"

namespace quenra {
namespace {

// Paths are only taken apart and put together here; the file system is reached through Files.
namespace fs = std::filesystem;
using FailureText::Operation;
using FailureText::Reader;

// Why a file operation failed, for the errors a user can do something about; any other error in
// the system's own description.
std::string reason(const std::error_code& code) {
    if (code.category() == std::generic_category() || code.category() == std::system_category()) {
        switch (code.value()) {
            case ENOTDIR:
                return "a part of that path is a file, not a folder";
            case EEXIST:
                return "something of that name is already there";
            case EACCES:
            case EPERM:
                return "this user has no permission for it";
            case ENOENT:
                return "it does not exist";
            case EROFS:
                return "it is on a read-only disk";
            case ENOSPC:
            case EDQUOT:
                return "the disk is full";
            case ELOOP:
                return "it is a symbolic link";
            case EISDIR:
                return "it is a folder, not a file";
            case ENAMETOOLONG:
                return "the path is too long";
            default:
                break;
        }
    }
    return "the system reported \"" + code.message() + "\"";
}

// What sits where a file was needed, when it is not the folder that EISDIR already names.
std::string reason(const FileFailure& failure) {
    const auto* notAFile = dynamic_cast<const NotARegularFile*>(&failure);
    if (notAFile == nullptr) {
        return reason(failure.code());
    }
    switch (notAFile->found()) {
        case FileKind::directory:
            return "it is a folder, not a file";
        case FileKind::namedPipe:
            return "it is a named pipe (FIFO), not a file";
        case FileKind::characterDevice:
            return "it is a character device, not a file";
        case FileKind::blockDevice:
            return "it is a block device, not a file";
        case FileKind::socket:
            return "it is a socket, not a file";
        case FileKind::other:
            break;
    }
    return "it is not a regular file";
}

// A path as a shell word: quoted when it holds anything but the usual path characters.
std::string shellWord(const std::string& text) {
    const std::string_view plain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+,:@%";
    if (!text.empty() && text.find_first_not_of(plain) == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (char character : text) {
        quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
    }
    return quoted + "'";
}

// The command that repeats the user's choice of browser, build and folder with other words.
std::string commandFor(const Integration& integration, const std::string& words,
                       const std::optional<std::string>& folder) {
    std::string command = "quenra-bridge-setup " + words;
    if (integration.browser() != Browsers::chrome()) {
        command += " --browser " + integration.browser().id;
    }
    if (integration.build() == ExtensionBuild::development) {
        command += " --development";
    }
    const std::string ownFolder =
        (fs::path(integration.home()) / integration.browser().userDataRelativePath).string();
    if (folder || integration.userDataDirectory() != ownFolder) {
        command += " --chrome-user-data-dir " +
                   shellWord(folder.value_or(integration.userDataDirectory()));
    }
    return command;
}

std::string unreadableManifest(const Integration& integration, Reader reader) {
    const std::string remedy = reader == Reader::commandLine
                                   ? commandFor(integration, "--register --replace", std::nullopt)
                                   : "Install / Repair integration";
    return "The registration file " + integration.manifestPath() +
           " is not a host manifest this program can read; " + remedy +
           " backs it up and replaces it.";
}

// The second line under the symbolic-link refusal: which link it is and how to register anyway.
std::string linkAdvice(const Integration& integration, Reader reader) {
    std::optional<std::string> link;
    try {
        link = integration.forbiddenLink();
    } catch (const FileFailure&) {
        // The link went away or became unreadable since the refusal: nothing more to say.
    }
    if (!link) {
        return "";
    }
    std::optional<std::string> destination;
    try {
        destination = Files::linkTarget(*link);
    } catch (const FileFailure&) {
    }
    const std::string named =
        *link + " is a symbolic link" + (destination ? " to " + *destination : "") + ".";
    const std::string& userData = integration.userDataDirectory();
    if (userData == *link || userData.starts_with(*link + "/")) {
        // The link leads to the browser's folder: registering in the real folder writes the
        // same file the browser reads, without going through the link.
        const std::optional<std::string> real = Files::resolvedPath(userData);
        if (!real) {
            return named;
        }
        const std::string command = commandFor(integration, "--register", *real);
        return named +
               (reader == Reader::commandLine
                    ? " To register anyway, name the real folder: " + command
                    : " To register anyway, name the real folder on the command line: " + command);
    }
    return named + (*link == integration.manifestPath()
                        ? " Remove it to register here."
                        : " Replace it with a real folder to register here.");
}

std::string fileSentence(const Integration& integration, Operation operation,
                         const std::string& path, const std::string& why) {
    const fs::path hostDirectory(integration.hostDirectory());
    if (path == integration.manifestPath()) {
        const char* verb = operation == Operation::registering     ? "write"
                           : operation == Operation::unregistering ? "remove"
                                                                   : "read";
        return std::string("Could not ") + verb + " the registration file " + path + ": " + why +
               ".";
    }
    if (fs::path(path).parent_path() == hostDirectory) {
        if (fs::path(path).filename().string().find(".backup-") != std::string::npos) {
            return "Could not save a backup of the registration as " + path + ": " + why + ".";
        }
        return "Could not write the new registration into " + hostDirectory.string() + ": " + why +
               ".";
    }
    const bool onTheWay = path == hostDirectory.string() ||
                          hostDirectory.string().starts_with(path == "/" ? path : path + "/");
    if (onTheWay && operation == Operation::registering) {
        return "Could not create the folder " + hostDirectory.string() + ": " + why + ".";
    }
    return "Could not read " + path + ": " + why + ".";
}

}  // namespace

std::string FailureText::ofCurrentFailure(const Integration& integration, Operation operation,
                                          Reader reader) {
    try {
        throw;
    } catch (const SetupFailure& failure) {
        std::string text = failure.what();
        if (failure.kind() == SetupFailure::Kind::symbolicLink) {
            const std::string advice = linkAdvice(integration, reader);
            if (!advice.empty()) {
                text += "\n" + advice;
            }
        }
        return text;
    } catch (const FileFailure& failure) {
        const std::string& path =
            failure.path().empty() ? integration.manifestPath() : failure.path();
        return fileSentence(integration, operation, path, reason(failure));
    } catch (const std::system_error& failure) {
        if (operation == Operation::testing) {
            return "The connection test could not run the native helper " +
                   integration.helperPath() + ": " + reason(failure.code()) + ".";
        }
        return "Could not read the registration file " + integration.manifestPath() + ": " +
               reason(failure.code()) + ".";
    } catch (const boost::system::system_error&) {
        // Text that isn't JSON: from the helper during the test, otherwise the manifest.
        if (operation == Operation::testing) {
            return SetupFailure::description(SetupFailure::Kind::invalidReply);
        }
        return unreadableManifest(integration, reader);
    } catch (const ManifestFormatError&) {
        return unreadableManifest(integration, reader);
    }
}

}  // namespace quenra
