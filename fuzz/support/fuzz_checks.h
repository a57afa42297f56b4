// Checks the fuzz targets share: what every clip file name and every outgoing message must be,
// whatever the input was. A broken check aborts, which libFuzzer reports as a finding.
#pragma once

#include <utf8proc.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bridge_core/outgoing.h"

namespace quenra::FuzzChecks {

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Non-empty, ends ".mid", at most 124 bytes of valid UTF-8, no "/", no control or format
// character, no leading "." or " ", and no "." or " " just before the extension.
inline void requireSafeName(std::string_view name) {
    require(name.size() > 4 && name.size() <= 124, "name length");
    require(name.substr(name.size() - 4) == ".mid", "name ends in .mid");
    require(name.find('/') == std::string_view::npos, "name without slash");
    require(name.front() != '.' && name.front() != ' ', "name not hidden");
    const char beforeExtension = name[name.size() - 5];
    require(beforeExtension != '.' && beforeExtension != ' ', "nothing trimmed before .mid");
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(name.data());
    std::size_t offset = 0;
    while (offset < name.size()) {
        utf8proc_int32_t scalar = 0;
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes + offset, static_cast<utf8proc_ssize_t>(name.size() - offset), &scalar);
        require(length > 0, "name is valid UTF-8");
        const utf8proc_category_t category = utf8proc_category(scalar);
        require(category != UTF8PROC_CATEGORY_CC && category != UTF8PROC_CATEGORY_CF,
                "name without control or format characters");
        require(category != UTF8PROC_CATEGORY_ZL && category != UTF8PROC_CATEGORY_ZP &&
                    (category != UTF8PROC_CATEGORY_ZS || scalar == ' '),
                "only plain spaces");
        offset += static_cast<std::size_t>(length);
    }
}

inline bool isErrorCode(std::string_view text) {
    return std::any_of(ErrorCodes::allCases.begin(), ErrorCodes::allCases.end(),
                       [&](ErrorCode code) { return ErrorCodes::wireText(code) == text; });
}

// One message as the host sends it: a JSON object of at most limit bytes with the envelope
// ("type", "protocolVersion" "1.0", "session" with id and epoch), and "requestId" exactly when
// it answers a request. An ERROR carries those and "code" and nothing else.
inline boost::json::object requireEnvelope(const std::string& payload, std::int64_t limit,
                                           bool isReply) {
    require(!payload.empty() && static_cast<std::int64_t>(payload.size()) <= limit,
            "message within the response limit");
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(payload, error);
    require(!error && value.is_object(), "message is a JSON object");
    boost::json::object& message = value.as_object();
    const auto* type = message.if_contains("type");
    require(type != nullptr && type->is_string() && !type->get_string().empty(), "type");
    const auto* version = message.if_contains("protocolVersion");
    require(version != nullptr && version->is_string() && version->get_string() == "1.0",
            "protocolVersion");
    const auto* session = message.if_contains("session");
    require(session != nullptr && session->is_object(), "session");
    const auto* id = session->get_object().if_contains("id");
    const auto* epoch = session->get_object().if_contains("epoch");
    require(id != nullptr && id->is_string() && epoch != nullptr && epoch->is_int64(),
            "session id and epoch");
    const auto* requestId = message.if_contains("requestId");
    require((requestId != nullptr) == isReply, "requestId exactly on replies");
    if (requestId != nullptr) {
        require(requestId->is_string() && !requestId->get_string().empty(), "requestId text");
    }
    if (type->get_string() == "ERROR") {
        const auto* code = message.if_contains("code");
        require(message.size() == 5 && code != nullptr && code->is_string() &&
                    isErrorCode(code->get_string()),
                "ERROR carries only a known code");
    }
    return message;
}

}  // namespace quenra::FuzzChecks
