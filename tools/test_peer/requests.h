// The extension's side of the protocol, as far as a test or the demo needs it: the JSON text of
// each request, and a reply read back as a JSON object.
#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenra::TestPeer::Requests {

// The browser session every request names.
struct Session {
    std::string id = "demo-session-0123456789";
    std::int64_t epoch = 1;
};

std::string hello(const Session& session, std::string_view requestId);
std::string status(const Session& session, std::string_view requestId);
// byteLength and sha256 are those of midi; the name is suggested as it is.
std::string prepare(const Session& session, std::string_view requestId, std::string_view clipId,
                    std::int64_t generation, std::span<const std::uint8_t> midi,
                    std::string_view suggestedName);
std::string arm(const Session& session, std::string_view requestId, std::string_view preparedId,
                std::string_view clipId, std::int64_t generation, std::string_view sha256);
// One clip of an ARM's "clips" list.
struct ListedClip {
    std::string preparedId;
    std::string clipId;
    std::int64_t generation = 1;
    std::string sha256;
};
// ARM of 2 to 16 clips, their files in this order.
std::string armList(const Session& session, std::string_view requestId,
                    const std::vector<ListedClip>& clips);
// UPLOAD of an audio clip of byteLength bytes whose SHA-256 is sha256 (lowercase hex), in the
// format named ("wav", "aiff", "flac", "mp3").
std::string upload(const Session& session, std::string_view requestId, std::string_view clipId,
                   std::int64_t generation, std::string_view sha256, std::int64_t byteLength,
                   std::string_view suggestedName, std::string_view format);
// UPLOAD_CHUNK of bytes, the upload's bytes from offset on.
std::string uploadChunk(const Session& session, std::string_view requestId,
                        std::string_view uploadId, std::int64_t offset,
                        std::span<const std::uint8_t> bytes);
std::string cancel(const Session& session, std::string_view requestId, std::string_view token);
std::string release(const Session& session, std::string_view requestId,
                    std::string_view preparedId);

// The JSON object of a frame the host sent; throws std::runtime_error when it is not one.
boost::json::object parse(std::string_view frame);
// A string member of a reply, or "" when it is absent or not a string.
std::string text(const boost::json::object& message, std::string_view key);

}  // namespace quenra::TestPeer::Requests
