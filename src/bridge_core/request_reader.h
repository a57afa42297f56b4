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

#include "bridge_core/limits.h"
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
    // Of limits, those on what a request holds outside its payload apply.
    explicit RequestReader(std::size_t frameBytes, const Limits& limits = Limits::standard());
    ~RequestReader();
    RequestReader(const RequestReader&) = delete;
    RequestReader& operator=(const RequestReader&) = delete;

    // The next bytes of the body, cut anywhere. Once the bytes are not JSON, the rest is only
    // counted off.
    void append(std::span<const std::uint8_t> bytes);
    void append(std::string_view bytes);

    // The end of the body: the request, or the failure of the first check it does not pass
    // ((badRequest, "not JSON") when the body is not one JSON text). A body that holds more
    // outside its top-level "midiBase64" than the limits allow is refused as soon as it
    // passes them (a key, string or number too long at the byte that makes it so, whatever
    // follows), as (badRequest, "the request is too large outside the payload") with what was
    // read whole of its request id and session. Memory that runs out while the body is
    // read or checked gives (internal, "out of memory") and nothing salvaged; nothing read is
    // kept. Never throws. Call once.
    ReadRequest finish();

  private:
    struct Parser;
    static ReadRequest read(Parser& state);
    std::unique_ptr<Parser> parser_;
};

}  // namespace quenra
