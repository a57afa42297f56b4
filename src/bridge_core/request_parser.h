// The checks that turn the JSON of one request, as RequestReader read it, into a typed
// HostRequest, or throw a ProtocolFailure naming the error code and a detail text that stays
// inside the host. salvage recovers the request
// id and session of a request that failed, so its error reply can still be correlated.
#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "bridge_core/base64_payload.h"
#include "bridge_core/protocol.h"

namespace quenra {

// Thrown by the request checks and the payload checks; the reply carries only the code.
class ProtocolFailure : public std::exception {
  public:
    ProtocolFailure(ErrorCode code, std::string detail);

    const char* what() const noexcept override { return detail.c_str(); }

    bool operator==(const ProtocolFailure& other) const {
        return code == other.code && detail == other.detail;
    }

    ErrorCode code;
    std::string detail;
};

struct HelloRequest {
    std::string extensionVersion;
    bool operator==(const HelloRequest&) const = default;
};

struct PrepareRequest {
    std::string clipId;
    std::int64_t generation = 0;
    std::int64_t byteLength = 0;
    std::string sha256;         // 64 lowercase hex digits
    Base64Payload midiBase64;   // checked for length and alphabet; decoded and hashed as read
    std::string suggestedName;  // exactly as received, not trimmed
    bool operator==(const PrepareRequest&) const = default;
};

// An ARM of one clip, or one clip of an ARM's "clips".
struct ArmRequest {
    std::string preparedId;  // 32 lowercase hex digits
    std::string clipId;
    std::int64_t generation = 0;
    std::string sha256;
    bool operator==(const ArmRequest&) const = default;
};

// An ARM of 2 to maxClipsPerDrag clips, in the order their files go on the pasteboard; no
// prepared id twice.
struct ArmListRequest {
    std::vector<ArmRequest> clips;
    bool operator==(const ArmListRequest&) const = default;
};

struct CancelRequest {
    std::string token;
    bool operator==(const CancelRequest&) const = default;
};

struct ReleaseRequest {
    std::string preparedId;
    bool operator==(const ReleaseRequest&) const = default;
};

struct StatusRequest {
    bool operator==(const StatusRequest&) const = default;
};

// An audio clip announced: its bytes follow in UPLOAD_CHUNKs. Each member is read as PREPARE
// reads it; byteLength may be up to maxAudioBytes.
struct UploadRequest {
    std::string clipId;
    std::int64_t generation = 0;
    std::int64_t byteLength = 0;
    std::string sha256;
    std::string suggestedName;
    std::string format;  // "wav", "aiff", "flac" or "mp3"
    bool operator==(const UploadRequest&) const = default;
};

// The next bytes of an open upload. Whether the data is base64, and of what length, the
// session judges once it has found the upload.
struct UploadChunkRequest {
    std::string uploadId;  // 32 lowercase hex digits
    std::int64_t offset = 0;
    Base64Payload dataBase64;
    bool operator==(const UploadChunkRequest&) const = default;
};

// hello, prepare, arm, cancel, release, status, arm with a "clips" list, upload and its chunks.
using RequestBody =
    std::variant<HelloRequest, PrepareRequest, ArmRequest, CancelRequest, ReleaseRequest,
                 StatusRequest, ArmListRequest, UploadRequest, UploadChunkRequest>;

struct HostRequest {
    std::string requestId;
    std::string protocolVersion;  // as sent, already validated
    SessionID session;
    RequestBody body;
    bool operator==(const HostRequest&) const = default;
};

namespace RequestParser {

// The top-level members whose strings RequestReader reads straight into a Base64Payload: a
// PREPARE's clip and an UPLOAD_CHUNK's data.
inline constexpr std::string_view midiPayloadKey = "midiBase64";
inline constexpr std::string_view chunkPayloadKey = "dataBase64";

// The checks over the JSON that RequestReader built. A top-level payload string holds only a
// stand-in there: payload is what the reader read of the last one, under payloadKey (nothing
// when it read none).
HostRequest parse(const boost::json::value& value, std::optional<Base64Payload> payload,
                  std::string_view payloadKey = midiPayloadKey);

struct Salvage {
    std::optional<std::string> requestId;
    std::optional<SessionID> session;
    bool operator==(const Salvage&) const = default;
};

// Never throws; a null pointer (no JSON at all) or a non-object gives neither.
Salvage salvage(const boost::json::value* value);
inline Salvage salvage(const boost::json::value& value) {
    return salvage(&value);
}

// 2 or 3 dot-separated parts of 1 to 3 ASCII digits each.
bool isVersion(std::string_view text);

// min to max characters (min <= max), each A-Z, a-z, 0-9, "_" or "-".
bool isIdentifier(std::string_view text, std::size_t min, std::size_t max);

// Exactly count characters, each 0-9 or a-f.
bool isLowerHex(std::string_view text, std::size_t count);

// The text without leading and trailing JavaScript whitespace (25 scalars).
std::string trimmedJavaScriptStyle(std::string_view text);

// The number of UTF-16 code units of valid UTF-8 text: a scalar outside the BMP counts 2.
std::size_t utf16Length(std::string_view text);

}  // namespace RequestParser

}  // namespace quenra
