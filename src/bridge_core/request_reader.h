// Reads one request frame as its bytes arrive; the one way a request is read. The JSON is
// parsed piece by piece with every member but the top-level "midiBase64" built into the small
// value that the request checks read; the "midiBase64" string goes straight into
// Base64Payload, which decodes and hashes it as it comes, so the frame and its base64 text are
// never held whole. JSON is read as Boost.JSON reads a whole text by default: strict (no
// comments, no trailing commas, no invalid UTF-8), with a top-level scalar read too, and of a
// duplicate key the last member wins.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <variant>

#include "bridge_core/request_parser.h"

namespace quenra {

// A frame that gives no request: the failure, and what could still be read of its request id
// and session for the error reply (nothing when it was not JSON).
struct RefusedRequest {
    ProtocolFailure failure;
    RequestParser::Salvage salvaged;
    bool operator==(const RefusedRequest&) const = default;
};

// One frame, read.
using ReadRequest = std::variant<HostRequest, RefusedRequest>;

class RequestReader {
  public:
    // frameBytes is the body's announced length; it bounds the clip that the frame can carry.
    explicit RequestReader(std::size_t frameBytes);
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // The next bytes of the body, cut anywhere. Once the bytes are not JSON, the rest is only
    // counted off.
    void append(std::span<const std::uint8_t> bytes);
    void append(std::string_view bytes);

    // The end of the body: the request, or the failure of the first check it does not pass
    // ((badRequest, "not JSON") when the body is not one JSON text). Call once.
    ReadRequest finish();

  private:
    struct Parser;
    std::unique_ptr<Parser> parser_;
};

}  // namespace quenra
