// Everything the host sends is one JSON object: the envelope (type, protocol version, session,
// and for answers the request id) plus a body. This unit builds replies, events and error
// replies, and encodes a message under a size limit.
#pragma once

#include <boost/json/object.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge_core/protocol.h"

namespace quenra {

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
