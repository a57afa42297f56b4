// The protocol's vocabulary, shared by the request checks, the session and the messages it
// sends: the browser session a message belongs to, the error codes, and the message types.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenra {

// The browser-side session a message belongs to.
struct SessionID {
    std::string id;          // 16 to 64 identifier characters
    std::int64_t epoch = 0;  // 1 to 2147483647

    bool operator==(const SessionID&) const = default;
};

enum class ErrorCode {
    badRequest,
    unsupportedVersion,
    notReady,
    tooLarge,
    lengthMismatch,
    hashMismatch,
    notMIDI,
    unknownPrepared,
    stale,
    busy,
    cacheFull,
    rateLimited,
    duplicateRequest,
    internal,
    notAudio,
};

namespace ErrorCodes {

inline constexpr std::array<ErrorCode, 15> allCases{
    ErrorCode::badRequest,
    ErrorCode::unsupportedVersion,
    ErrorCode::notReady,
    ErrorCode::tooLarge,
    ErrorCode::lengthMismatch,
    ErrorCode::hashMismatch,
    ErrorCode::notMIDI,
    ErrorCode::unknownPrepared,
    ErrorCode::stale,
    ErrorCode::busy,
    ErrorCode::cacheFull,
    ErrorCode::rateLimited,
    ErrorCode::duplicateRequest,
    ErrorCode::internal,
    ErrorCode::notAudio,
};

// "BAD_REQUEST", "UNSUPPORTED_VERSION", ...
std::string_view wireText(ErrorCode code);

}  // namespace ErrorCodes

// The "type" of every message: the requests the extension sends, then what the host answers
// and the events it sends on its own. STATUS names both the request and its reply.
namespace MessageType {

inline constexpr std::string_view hello = "HELLO";
inline constexpr std::string_view prepare = "PREPARE";
inline constexpr std::string_view arm = "ARM";
inline constexpr std::string_view cancel = "CANCEL";
inline constexpr std::string_view release = "RELEASE";
inline constexpr std::string_view status = "STATUS";
inline constexpr std::string_view upload = "UPLOAD";
inline constexpr std::string_view uploadChunk = "UPLOAD_CHUNK";

inline constexpr std::string_view helloOK = "HELLO_OK";
inline constexpr std::string_view prepared = "PREPARED";
inline constexpr std::string_view armed = "ARMED";
inline constexpr std::string_view cancelled = "CANCELLED";
inline constexpr std::string_view released = "RELEASED";
inline constexpr std::string_view uploading = "UPLOADING";
inline constexpr std::string_view error = "ERROR";

inline constexpr std::string_view published = "PUBLISHED";
inline constexpr std::string_view dragFailed = "DRAG_FAILED";
inline constexpr std::string_view expired = "EXPIRED";

}  // namespace MessageType

}  // namespace quenra
