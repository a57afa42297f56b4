// Bytes read as the host reads a request frame: the whole body given to RequestReader at once.
// Header-only, so that the fuzzers use it too.
#pragma once

#include <string_view>
#include <utility>
#include <variant>

#include "bridge_core/base64_payload.h"
#include "bridge_core/request_reader.h"

namespace quenra::testing {

inline ReadRequest readRequest(std::string_view body) {
    RequestReader reader(body.size());
    reader.append(body);
    return reader.finish();
}

// The request the body holds; throws the failure of the first check it does not pass.
inline HostRequest parseRequest(std::string_view body) {
    ReadRequest read = readRequest(body);
    if (auto* refused = std::get_if<RefusedRequest>(&read)) {
        throw refused->failure;
    }
    return std::get<HostRequest>(std::move(read));
}

// A whole base64 text, read as a PREPARE's "midiBase64" is.
inline Base64Payload readPayload(std::string_view text) {
    Base64Payload::Reader reader(text.size() / 4 * 3);
    reader.append(text);
    return std::move(reader).finish();
}

}  // namespace quenra::testing
