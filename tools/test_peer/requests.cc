#include "test_peer/requests.h"

#include <boost/json/parse.hpp>
#include <stdexcept>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "bridge_core/json_writer.h"

namespace quenra::TestPeer::Requests {

namespace {

boost::json::object envelope(const Session& session, std::string_view requestId,
                             std::string_view type) {
    return boost::json::object{
        {"protocolVersion", "1.0"},
        {"requestId", requestId},
        {"session", boost::json::object{{"id", session.id}, {"epoch", session.epoch}}},
        {"type", type},
    };
}

// What PREPARE and UPLOAD both say of a clip.
boost::json::object clipRequest(const Session& session, std::string_view requestId,
                                std::string_view type, std::string_view clipId,
                                std::int64_t generation, std::string_view sha256,
                                std::int64_t byteLength, std::string_view suggestedName) {
    boost::json::object request = envelope(session, requestId, type);
    request.insert({{"clipId", clipId},
                    {"generation", generation},
                    {"sha256", sha256},
                    {"byteLength", byteLength},
                    {"suggestedName", suggestedName}});
    return request;
}

std::string written(const boost::json::object& request) {
    return JsonWriter::write(request).value();
}

}  // namespace

std::string hello(const Session& session, std::string_view requestId) {
    boost::json::object request = envelope(session, requestId, "HELLO");
    request["extensionVersion"] = "0.1.0";
    return written(request);
}

std::string status(const Session& session, std::string_view requestId) {
    return written(envelope(session, requestId, "STATUS"));
}

std::string prepare(const Session& session, std::string_view requestId, std::string_view clipId,
                    std::int64_t generation, std::span<const std::uint8_t> midi,
                    std::string_view suggestedName) {
    boost::json::object request =
        clipRequest(session, requestId, "PREPARE", clipId, generation, Hashing::sha256Hex(midi),
                    static_cast<std::int64_t>(midi.size()), suggestedName);
    request["midiBase64"] = Base64::encode(midi.data(), midi.size());
    return written(request);
}

std::string arm(const Session& session, std::string_view requestId, std::string_view preparedId,
                std::string_view clipId, std::int64_t generation, std::string_view sha256) {
    boost::json::object request = envelope(session, requestId, "ARM");
    request["preparedId"] = preparedId;
    request["clipId"] = clipId;
    request["generation"] = generation;
    request["sha256"] = sha256;
    return written(request);
}

std::string armList(const Session& session, std::string_view requestId,
                    const std::vector<ListedClip>& clips) {
    boost::json::object request = envelope(session, requestId, "ARM");
    boost::json::array list;
    for (const ListedClip& clip : clips) {
        list.push_back({{"preparedId", clip.preparedId},
                        {"clipId", clip.clipId},
                        {"generation", clip.generation},
                        {"sha256", clip.sha256}});
    }
    request["clips"] = std::move(list);
    return written(request);
}

std::string upload(const Session& session, std::string_view requestId, std::string_view clipId,
                   std::int64_t generation, std::string_view sha256, std::int64_t byteLength,
                   std::string_view suggestedName, std::string_view format) {
    boost::json::object request = clipRequest(session, requestId, "UPLOAD", clipId, generation,
                                              sha256, byteLength, suggestedName);
    request["format"] = format;
    return written(request);
}

std::string uploadChunk(const Session& session, std::string_view requestId,
                        std::string_view uploadId, std::int64_t offset,
                        std::span<const std::uint8_t> bytes) {
    boost::json::object request = envelope(session, requestId, "UPLOAD_CHUNK");
    request.insert({{"uploadId", uploadId},
                    {"offset", offset},
                    {"dataBase64", Base64::encode(bytes.data(), bytes.size())}});
    return written(request);
}

std::string cancel(const Session& session, std::string_view requestId, std::string_view token) {
    boost::json::object request = envelope(session, requestId, "CANCEL");
    request["token"] = token;
    return written(request);
}

std::string release(const Session& session, std::string_view requestId,
                    std::string_view preparedId) {
    boost::json::object request = envelope(session, requestId, "RELEASE");
    request["preparedId"] = preparedId;
    return written(request);
}

boost::json::object parse(std::string_view frame) {
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(frame, error);
    if (error || !value.is_object()) {
        throw std::runtime_error("the host sent a frame that is not a JSON object: " +
                                 std::string(frame.substr(0, 200)));
    }
    return std::move(value.as_object());
}

std::string text(const boost::json::object& message, std::string_view key) {
    const boost::json::value* value = message.if_contains(key);
    if (value == nullptr || !value->is_string())
        return "";
    return std::string(value->as_string());
}

}  // namespace quenra::TestPeer::Requests
