#include "bridge_core/outgoing.h"

#include <boost/json/value.hpp>

#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"

namespace quenra {
namespace {

// The session a message carries, when its envelope holds a readable one.
std::optional<SessionID> envelopeSession(const Outgoing::Message& message) {
    const auto* session = message.if_contains("session");
    if (session == nullptr || !session->is_object()) {
        return std::nullopt;
    }
    const auto* id = session->as_object().if_contains("id");
    const auto* epoch = session->as_object().if_contains("epoch");
    if (id == nullptr || !id->is_string() || epoch == nullptr) {
        return std::nullopt;
    }
    if (epoch->is_int64()) {
        return SessionID{std::string(id->as_string()), epoch->as_int64()};
    }
    if (epoch->is_uint64() && epoch->as_uint64() <= std::uint64_t{INT64_MAX}) {
        return SessionID{std::string(id->as_string()),
                         static_cast<std::int64_t>(epoch->as_uint64())};
    }
    return std::nullopt;
}

}  // namespace

Outgoing::Message Outgoing::event(std::string_view type, const SessionID& session, Message body) {
    body.reserve(body.size() + 4);  // the envelope, and a reply's request id
    body["type"] = type;
    body["protocolVersion"] = Identity::protocolVersion;
    body["session"] = boost::json::object{{"id", session.id}, {"epoch", session.epoch}};
    return body;
}

Outgoing::Message Outgoing::reply(std::string_view type, const SessionID& session,
                                  std::string_view requestId, Message body) {
    Message message = event(type, session, std::move(body));
    message["requestId"] = requestId;
    return message;
}

Outgoing::Message Outgoing::error(ErrorCode code, const SessionID& session,
                                  std::string_view requestId) {
    return reply(MessageType::error, session, requestId,
                 Message{{"code", ErrorCodes::wireText(code)}});
}

std::string Outgoing::encode(const Message& message, std::int64_t limit) {
    if (auto text = JsonWriter::write(message);
        text && static_cast<std::int64_t>(text->size()) <= limit) {
        return std::move(*text);
    }
    // Never a truncated or oversized frame: the peer gets an INTERNAL error it can correlate.
    const SessionID session = envelopeSession(message).value_or(unboundSession);
    const auto* requestId = message.if_contains("requestId");
    const std::string_view id = requestId != nullptr && requestId->is_string()
                                    ? std::string_view(requestId->as_string())
                                    : unparsedRequestId;
    return JsonWriter::write(error(ErrorCode::internal, session, id)).value();
}

}  // namespace quenra
