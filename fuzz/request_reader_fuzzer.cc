// The host reads each request frame as its bytes arrive (RequestReader). This target holds it
// to the whole-frame reading it replaced, kept here as the oracle: the frame parsed by
// Boost.JSON's DOM parser, the request checks run over that value with the base64 text in it,
// the text decoded whole and hashed in one go. For any bytes, cut into pieces anywhere, both
// must give the same request or the same failure (code and detail) with the same salvage, and
// for a PREPARE the same payload verdict and the same clip.
//
// Input: one byte that chooses how the body is cut, then the body.
#include <boost/json/parse.hpp>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "bridge_core/hashing.h"
#include "bridge_core/identity.h"
#include "bridge_core/limits.h"
#include "bridge_core/midi_file.h"
#include "bridge_core/midi_payload.h"
#include "bridge_core/request_reader.h"
#include "support/fuzz_checks.h"

using namespace quenra;
using FuzzChecks::require;

namespace {

// The whole-frame reading, as the host did it before it read frames as they arrive.
namespace oracle {

using boost::json::object;
using boost::json::value;

struct Prepare {
    std::string clipId;
    std::int64_t generation = 0;
    std::int64_t byteLength = 0;
    std::string sha256;
    std::string midiBase64;
    std::string suggestedName;
};

using Body = std::variant<HelloRequest, Prepare, ArmRequest, CancelRequest, ReleaseRequest,
                          StatusRequest, ArmListRequest>;

struct Request {
    std::string requestId;
    std::string protocolVersion;
    SessionID session;
    Body body;
};

constexpr double largestWholeNumber = 9007199254740991.0;
constexpr std::int64_t largestGeneration = 9007199254740991;

[[noreturn]] void fail(std::string detail, ErrorCode code = ErrorCode::badRequest) {
    throw ProtocolFailure(code, std::move(detail));
}

// Only base64 characters, with at most two "=" at the end.
bool isBase64(std::string_view text) {
    const std::size_t end = text.find_last_not_of('=') + 1;
    return text.size() - end <= 2 &&
           text.substr(0, end).find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") ==
               std::string_view::npos;
}

std::optional<std::string_view> stringMember(const object& container, std::string_view key) {
    const value* member = container.if_contains(key);
    if (member == nullptr || !member->is_string()) {
        return std::nullopt;
    }
    return std::string_view(member->as_string());
}

template <typename Rule>
std::string checkedString(const object& container, std::string_view key, std::size_t maxUnits,
                          Rule rule) {
    const auto text = stringMember(container, key);
    if (!text || RequestParser::utf16Length(*text) > maxUnits || !rule(*text)) {
        fail(std::string(key) + " is missing or malformed");
    }
    return std::string(*text);
}

std::int64_t integer(const object& container, std::string_view key, std::int64_t min,
                     std::int64_t max) {
    const value* member = container.if_contains(key);
    if (member == nullptr || !member->is_number()) {
        fail(std::string(key) + " must be a number");
    }
    const double number = member->to_number<double>();
    if (!std::isfinite(number) || std::fabs(number) > largestWholeNumber ||
        std::round(number) != number) {
        fail(std::string(key) + " must be a whole number");
    }
    if (number < static_cast<double>(min) || number > static_cast<double>(max)) {
        fail(std::string(key) + " is out of range");
    }
    return static_cast<std::int64_t>(number);
}

SessionID readSession(const object& request) {
    const value* member = request.if_contains("session");
    if (member == nullptr || !member->is_object()) {
        fail("session must be an object");
    }
    const object& session = member->as_object();
    std::string id = checkedString(session, "id", 64, [](std::string_view text) {
        return RequestParser::isIdentifier(text, 16, 64);
    });
    return SessionID{std::move(id), integer(session, "epoch", 1, 2147483647)};
}

std::string identifierMember(const object& request, std::string_view key, std::size_t min,
                             std::size_t max) {
    return checkedString(request, key, max, [min, max](std::string_view text) {
        return RequestParser::isIdentifier(text, min, max);
    });
}

std::string lowerHexMember(const object& request, std::string_view key, std::size_t count) {
    return checkedString(request, key, count, [count](std::string_view text) {
        return RequestParser::isLowerHex(text, count);
    });
}

Prepare readPrepare(const object& request) {
    const Limits& limits = Limits::standard();
    Prepare prepare;
    prepare.clipId = identifierMember(request, "clipId", 1, 64);
    prepare.generation = integer(request, "generation", 1, largestGeneration);
    prepare.sha256 = lowerHexMember(request, "sha256", 64);
    prepare.byteLength = integer(request, "byteLength", 1, largestGeneration);
    if (prepare.byteLength > limits.maxMidiBytes) {
        fail("the clip is over the limit", ErrorCode::tooLarge);
    }
    const auto payload = stringMember(request, "midiBase64");
    const auto expectedUnits = static_cast<std::size_t>(4 * ((prepare.byteLength + 2) / 3));
    if (!payload || payload->size() != expectedUnits || !isBase64(*payload)) {
        fail("midiBase64 must be base64 of exactly byteLength bytes");
    }
    const auto name = stringMember(request, "suggestedName");
    if (!name ||
        RequestParser::utf16Length(*name) > static_cast<std::size_t>(limits.maxNameLength)) {
        fail("suggestedName is missing or malformed");
    }
    if (RequestParser::trimmedJavaScriptStyle(*name).empty()) {
        fail("suggestedName is empty");
    }
    prepare.midiBase64 = std::string(*payload);
    prepare.suggestedName = std::string(*name);
    return prepare;
}

ArmRequest readArm(const object& request) {
    ArmRequest arm;
    arm.preparedId = lowerHexMember(request, "preparedId", 32);
    arm.clipId = identifierMember(request, "clipId", 1, 64);
    arm.generation = integer(request, "generation", 1, largestGeneration);
    arm.sha256 = lowerHexMember(request, "sha256", 64);
    return arm;
}

// "clips": 2 to 16 objects of exactly the four one-clip members, no prepared id twice, and
// none of those members beside the list.
ArmListRequest readArmList(const object& request) {
    static constexpr const char* members[] = {"preparedId", "clipId", "generation", "sha256"};
    for (const char* key : members) {
        if (request.contains(key)) {
            fail("clips cannot come with preparedId, clipId, generation or sha256");
        }
    }
    if (!request.at("clips").is_array()) {
        fail("clips must be an array");
    }
    const boost::json::array& list = request.at("clips").as_array();
    if (list.size() < 2 || list.size() > 16) {
        fail("clips must hold 2 to 16 clips");
    }
    ArmListRequest arm;
    for (std::size_t index = 0; index < list.size(); ++index) {
        const std::string place = "clips[" + std::to_string(index) + "]";
        const object* clip = list[index].if_object();
        bool exact = clip != nullptr && clip->size() == 4;
        for (const char* key : members) {
            exact = exact && clip->contains(key);
        }
        if (!exact) {
            fail(place + " must be an object of exactly preparedId, clipId, generation and sha256");
        }
        try {
            arm.clips.push_back(readArm(*clip));
        } catch (const ProtocolFailure& failed) {
            fail(place + ": " + failed.detail);
        }
        for (std::size_t earlier = 0; earlier < index; ++earlier) {
            if (arm.clips[earlier].preparedId == arm.clips[index].preparedId) {
                fail(place + " repeats a preparedId");
            }
        }
    }
    return arm;
}

Body readBody(const object& request) {
    const auto type = stringMember(request, "type");
    if (type == "HELLO") {
        return HelloRequest{
            checkedString(request, "extensionVersion", 16, RequestParser::isVersion)};
    }
    if (type == "PREPARE") {
        return readPrepare(request);
    }
    if (type == "ARM") {
        if (request.contains("clips")) {
            return readArmList(request);
        }
        return readArm(request);
    }
    if (type == "CANCEL") {
        return CancelRequest{checkedString(request, "token", 43, [](std::string_view text) {
            return RequestParser::isIdentifier(text, 22, 43);
        })};
    }
    if (type == "RELEASE") {
        return ReleaseRequest{lowerHexMember(request, "preparedId", 32)};
    }
    if (type == "STATUS") {
        return StatusRequest{};
    }
    fail("unknown request type");
}

Request parse(const value& parsed) {
    if (!parsed.is_object()) {
        fail("the request must be an object");
    }
    const object& request = parsed.as_object();
    Request result;
    result.protocolVersion =
        checkedString(request, "protocolVersion", 16, RequestParser::isVersion);
    const std::string_view major =
        std::string_view(result.protocolVersion).substr(0, result.protocolVersion.find('.'));
    int majorNumber = 0;
    for (const char digit : major) {
        majorNumber = majorNumber * 10 + (digit - '0');
    }
    if (majorNumber != Identity::protocolMajor) {
        fail("another major version", ErrorCode::unsupportedVersion);
    }
    result.session = readSession(request);
    result.requestId = identifierMember(request, "requestId", 1, 64);
    result.body = readBody(request);
    return result;
}

using Outcome = std::variant<Request, RefusedRequest>;

Outcome read(std::string_view frame) {
    boost::system::error_code error;
    const value parsed = boost::json::parse(frame, error);
    if (error) {
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, "not JSON"), {}};
    }
    try {
        return parse(parsed);
    } catch (const ProtocolFailure& failed) {
        return RefusedRequest{failed, RequestParser::salvage(parsed)};
    } catch (const std::exception& failed) {
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, failed.what()),
                              RequestParser::salvage(parsed)};
    }
}

// The whole text decoded strictly in one go: canonical base64 or nothing.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
    static constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        std::size_t value = 0;
        if (index < text.size() - padding) {
            value = alphabet.find(text[index]);
            if (value == std::string_view::npos) {
                return std::nullopt;
            }
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (index % 4 == 3) {
            bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
            bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
            bytes.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
        }
    }
    // Canonical form only: the bits that padding stands for must be zero.
    if (padding > 0 && bytes.back() != 0) {
        return std::nullopt;
    }
    if (padding == 2 && bytes[bytes.size() - 2] != 0) {
        return std::nullopt;
    }
    bytes.resize(bytes.size() - padding);
    return bytes;
}

std::variant<std::vector<std::uint8_t>, ProtocolFailure> decode(const Prepare& request) {
    auto bytes = decodeBase64(request.midiBase64);
    if (!bytes) {
        return ProtocolFailure(ErrorCode::badRequest, "midiBase64 isn't base64");
    }
    if (static_cast<std::int64_t>(bytes->size()) != request.byteLength) {
        return ProtocolFailure(ErrorCode::lengthMismatch, "decoded length differs");
    }
    if (Hashing::sha256Hex(*bytes) != request.sha256) {
        return ProtocolFailure(ErrorCode::hashMismatch, "hash differs");
    }
    if (!MIDIFile::isValid(*bytes, Limits::standard().maxMidiBytes)) {
        return ProtocolFailure(ErrorCode::notMIDI, "not a standard MIDI file");
    }
    return std::move(*bytes);
}

}  // namespace oracle

std::variant<std::vector<std::uint8_t>, ProtocolFailure> decode(const PrepareRequest& request) {
    try {
        MIDIPayload::check(request);
        return request.midiBase64.bytes();
    } catch (const ProtocolFailure& failed) {
        return failed;
    }
}

void requireSame(const oracle::Outcome& expected, const ReadRequest& actual) {
    require(expected.index() == actual.index(), "the same verdict");
    if (const auto* refused = std::get_if<RefusedRequest>(&expected)) {
        require(*refused == std::get<RefusedRequest>(actual),
                "the same failure, detail and salvage");
        return;
    }
    const oracle::Request& want = std::get<oracle::Request>(expected);
    const HostRequest& got = std::get<HostRequest>(actual);
    require(want.requestId == got.requestId && want.protocolVersion == got.protocolVersion &&
                want.session == got.session && want.body.index() == got.body.index(),
            "the same envelope and type");
    const auto* prepare = std::get_if<oracle::Prepare>(&want.body);
    if (prepare == nullptr) {
        const bool same = std::visit(
            [&](const auto& body) {
                using Body = std::decay_t<decltype(body)>;
                if constexpr (std::is_same_v<Body, oracle::Prepare>) {
                    return false;
                } else {
                    return body == std::get<Body>(got.body);
                }
            },
            want.body);
        require(same, "the same body");
        return;
    }
    const PrepareRequest& read = std::get<PrepareRequest>(got.body);
    require(prepare->clipId == read.clipId && prepare->generation == read.generation &&
                prepare->byteLength == read.byteLength && prepare->sha256 == read.sha256 &&
                prepare->suggestedName == read.suggestedName,
            "the same PREPARE fields");
    require(oracle::decode(*prepare) == decode(read), "the same payload verdict and clip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string_view frame(reinterpret_cast<const char*>(data + 1), size - 1);
    const oracle::Outcome expected = oracle::read(frame);

    RequestReader whole(frame.size());
    whole.append(frame);
    requireSame(expected, whole.finish());

    // Pieces of 1 to longest bytes, as reads and frame boundaries may cut a body anywhere:
    // inside a key, an escape, a UTF-8 sequence, a number or a base64 group.
    static constexpr std::size_t longest[8] = {1, 2, 3, 5, 8, 17, 64, 1024};
    std::uint32_t state = data[0] * 2654435761u + 1;
    RequestReader cut(frame.size());
    std::size_t offset = 0;
    while (offset < frame.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t length =
            std::min(frame.size() - offset, 1 + (state >> 16) % longest[data[0] & 7]);
        cut.append(frame.substr(offset, length));
        offset += length;
    }
    requireSame(expected, cut.finish());
    return 0;
}
