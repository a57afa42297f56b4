// Everything the host sends is one JSON object: the envelope (type, protocol version, session,
// and for answers the request id) plus a body. This unit builds replies, events and error
// replies, owns the error codes, and encodes a message under a size limit.
#pragma once

#include <array>
#include <boost/json/object.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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
};

namespace ErrorCodes {

inline constexpr std::array<ErrorCode, 14> allCases{
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
};

// "BAD_REQUEST", "UNSUPPORTED_VERSION", ...
std::string_view wireText(ErrorCode code);

}  // namespace ErrorCodes

namespace Outgoing {

using Message = boost::json::object;

// Stands in the envelope of every message sent while no session is bound.
inline const SessionID unboundSession{"unbound-session-0", 1};

// Stands in "requestId" when the request id of a frame could not be read.
inline constexpr std::string_view unparsedRequestId = "unparsed";

// A copy of the body with "type", "protocolVersion" and "session" set over it.
Message event(std::string_view type, const SessionID& session, Message body = {});

// An event with "requestId" set as well.
Message reply(std::string_view type, const SessionID& session, std::string_view requestId,
              Message body = {});

// The five-member "ERROR" reply carrying only the code.
Message error(ErrorCode code, const SessionID& session, std::string_view requestId);

// The message as compact sorted JSON of at most limit bytes. A message that is longer, or
// holds a value JSON cannot represent, becomes an INTERNAL error reply with the same session
// and request id where those can be read, and that reply is returned unchecked.
std::string encode(const Message& message, std::int64_t limit);

}  // namespace Outgoing

}  // namespace quenra

template <>
struct std::hash<quenra::SessionID> {
    std::size_t operator()(const quenra::SessionID& session) const noexcept {
        const std::size_t idHash = std::hash<std::string>{}(session.id);
        return idHash ^ (std::hash<std::int64_t>{}(session.epoch) + 0x9e3779b97f4a7c15ULL +
                         (idHash << 6) + (idHash >> 2));
    }
};
