#include "bridge_core/request_parser.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "bridge_core/hex.h"
#include "bridge_core/identity.h"
#include "bridge_core/limits.h"
#include "bridge_core/utf8.h"

namespace quenra {

ProtocolFailure::ProtocolFailure(ErrorCode code, std::string detail)
    : code(code), detail(std::move(detail)) {}

namespace {

using boost::json::object;
using boost::json::value;

constexpr double largestWholeNumber = 9007199254740991.0;  // 2^53 - 1
constexpr std::int64_t largestGeneration = 9007199254740991;

[[noreturn]] void fail(std::string detail, ErrorCode code = ErrorCode::badRequest) {
    throw ProtocolFailure(code, std::move(detail));
}

bool isIdentifierCharacter(char character) {
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
           (character >= '0' && character <= '9') || character == '_' || character == '-';
}

bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

// The string member under key, if it is one.
std::optional<std::string_view> stringMember(const object& container, std::string_view key) {
    const value* member = container.if_contains(key);
    if (member == nullptr || !member->is_string()) {
        return std::nullopt;
    }
    return std::string_view(member->as_string());
}

// A string member of at most maxUnits UTF-16 units that satisfies the rule.
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
    // Within 2^53 every whole double converts to int64_t and back exactly, and a fraction does
    // not survive the truncation; this keeps the host free of the math library.
    if (!std::isfinite(number) || std::fabs(number) > largestWholeNumber ||
        static_cast<double>(static_cast<std::int64_t>(number)) != number) {
        fail(std::string(key) + " must be a whole number");
    }
    if (number < static_cast<double>(min) || number > static_cast<double>(max)) {
        fail(std::string(key) + " is out of range");
    }
    return static_cast<std::int64_t>(number);
}

const object& objectMember(const value* member, std::string_view key) {
    if (member == nullptr || !member->is_object()) {
        fail(std::string(key) + " must be an object");
    }
    return member->as_object();
}

SessionID readSession(const object& request) {
    const object& session = objectMember(request.if_contains("session"), "session");
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

std::string versionMember(const object& request, std::string_view key) {
    return checkedString(request, key, 16, RequestParser::isVersion);
}

// The four members that announce a clip, a PREPARE's and an UPLOAD's alike, read in this order.
template <typename Announced>
Announced readAnnounced(const object& request) {
    Announced clip;
    clip.clipId = identifierMember(request, "clipId", 1, 64);
    clip.generation = integer(request, "generation", 1, largestGeneration);
    clip.sha256 = lowerHexMember(request, "sha256", 64);
    clip.byteLength = integer(request, "byteLength", 1, largestGeneration);
    return clip;
}

// "suggestedName": at most maxNameLength UTF-16 units, not empty once trimmed, kept as sent.
std::string suggestedName(const object& request) {
    const auto name = stringMember(request, "suggestedName");
    if (!name || RequestParser::utf16Length(*name) >
                     static_cast<std::size_t>(Limits::standard().maxNameLength)) {
        fail("suggestedName is missing or malformed");
    }
    if (RequestParser::trimmedJavaScriptStyle(*name).empty()) {
        fail("suggestedName is empty");
    }
    return std::string(*name);
}

PrepareRequest readPrepare(const object& request, std::optional<Base64Payload>& read) {
    const Limits& limits = Limits::standard();
    PrepareRequest prepare = readAnnounced<PrepareRequest>(request);
    // Before the payload is looked at: an oversized clip is refused whatever it carries.
    if (prepare.byteLength > limits.maxMidiBytes) {
        fail("the clip is over the limit", ErrorCode::tooLarge);
    }
    const auto payload = stringMember(request, RequestParser::midiPayloadKey);
    if (payload && read) {
        prepare.midiBase64 = std::move(*read);
    }
    const auto expectedUnits = static_cast<std::size_t>(4 * ((prepare.byteLength + 2) / 3));
    // isBase64 admits ASCII only, so the byte count is the UTF-16 length whenever it holds.
    if (!payload || !read || prepare.midiBase64.length() != expectedUnits ||
        !prepare.midiBase64.isBase64()) {
        fail("midiBase64 must be base64 of exactly byteLength bytes");
    }
    prepare.suggestedName = suggestedName(request);
    return prepare;
}

constexpr std::array<std::string_view, 4> audioFormats{"wav", "aiff", "flac", "mp3"};

UploadRequest readUpload(const object& request) {
    UploadRequest upload = readAnnounced<UploadRequest>(request);
    upload.suggestedName = suggestedName(request);
    const auto format = stringMember(request, "format");
    if (!format ||
        std::find(audioFormats.begin(), audioFormats.end(), *format) == audioFormats.end()) {
        fail("format must be wav, aiff, flac or mp3");
    }
    upload.format = std::string(*format);
    // After every member: a malformed UPLOAD is a bad request whatever length it announces.
    if (upload.byteLength > Limits::standard().maxAudioBytes) {
        fail("the clip is over the limit", ErrorCode::tooLarge);
    }
    return upload;
}

UploadChunkRequest readUploadChunk(const object& request, std::optional<Base64Payload>& read) {
    UploadChunkRequest chunk;
    chunk.uploadId = lowerHexMember(request, "uploadId", 32);
    chunk.offset = integer(request, "offset", 0, largestGeneration);
    if (!stringMember(request, RequestParser::chunkPayloadKey) || !read) {
        fail("dataBase64 must be a string");
    }
    chunk.dataBase64 = std::move(*read);
    return chunk;
}

constexpr std::array<std::string_view, 4> armMembers{"preparedId", "clipId", "generation",
                                                     "sha256"};

ArmRequest readArm(const object& request) {
    ArmRequest arm;
    arm.preparedId = lowerHexMember(request, "preparedId", 32);
    arm.clipId = identifierMember(request, "clipId", 1, 64);
    arm.generation = integer(request, "generation", 1, largestGeneration);
    arm.sha256 = lowerHexMember(request, "sha256", 64);
    return arm;
}

// Element index of "clips": an object of exactly the four members of a one-clip ARM, each
// checked as there.
ArmRequest readListedArm(const value& element, std::size_t index) {
    const auto place = [index] { return "clips[" + std::to_string(index) + "]"; };
    const object* clip = element.if_object();
    if (clip == nullptr || clip->size() != armMembers.size() ||
        !std::all_of(armMembers.begin(), armMembers.end(),
                     [&](std::string_view key) { return clip->contains(key); })) {
        fail(place() + " must be an object of exactly preparedId, clipId, generation and sha256");
    }
    try {
        return readArm(*clip);
    } catch (const ProtocolFailure& failed) {
        fail(place() + ": " + failed.detail);
    }
}

// The "clips" form of ARM: 2 to maxClipsPerDrag clips, none named twice, and none of the
// one-clip members beside it, so that one clip has one spelling.
ArmListRequest readArmList(const object& request, const value& clips) {
    if (std::any_of(armMembers.begin(), armMembers.end(),
                    [&](std::string_view key) { return request.contains(key); })) {
        fail("clips cannot come with preparedId, clipId, generation or sha256");
    }
    const boost::json::array* list = clips.if_array();
    if (list == nullptr) {
        fail("clips must be an array");
    }
    const auto most = static_cast<std::size_t>(Limits::standard().maxClipsPerDrag);
    if (list->size() < 2 || list->size() > most) {
        fail("clips must hold 2 to " + std::to_string(most) + " clips");
    }
    ArmListRequest arm;
    arm.clips.reserve(list->size());
    for (std::size_t index = 0; index < list->size(); ++index) {
        ArmRequest clip = readListedArm((*list)[index], index);
        for (const ArmRequest& earlier : arm.clips) {
            if (earlier.preparedId == clip.preparedId) {
                fail("clips[" + std::to_string(index) + "] repeats a preparedId");
            }
        }
        arm.clips.push_back(std::move(clip));
    }
    return arm;
}

// read is the payload the reader read under payloadKey; only the request that has its
// payload under that key gets it.
RequestBody readBody(const object& request, std::optional<Base64Payload>& read,
                     std::string_view payloadKey) {
    const auto type = stringMember(request, "type");
    std::optional<Base64Payload> none;
    const auto payloadOf = [&](std::string_view key) -> std::optional<Base64Payload>& {
        return payloadKey == key ? read : none;
    };
    if (type == MessageType::hello) {
        return HelloRequest{versionMember(request, "extensionVersion")};
    }
    if (type == MessageType::prepare) {
        return readPrepare(request, payloadOf(RequestParser::midiPayloadKey));
    }
    if (type == MessageType::upload) {
        return readUpload(request);
    }
    if (type == MessageType::uploadChunk) {
        return readUploadChunk(request, payloadOf(RequestParser::chunkPayloadKey));
    }
    if (type == MessageType::arm) {
        if (const value* clips = request.if_contains("clips")) {
            return readArmList(request, *clips);
        }
        return readArm(request);
    }
    if (type == MessageType::cancel) {
        return CancelRequest{checkedString(request, "token", 43, [](std::string_view text) {
            return RequestParser::isIdentifier(text, 22, 43);
        })};
    }
    if (type == MessageType::release) {
        return ReleaseRequest{lowerHexMember(request, "preparedId", 32)};
    }
    if (type == MessageType::status) {
        return StatusRequest{};
    }
    fail("unknown request type");
}

// The 25 scalars JavaScript's trim removes, ascending.
constexpr std::array<char32_t, 25> javaScriptWhitespace{
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x00A0, 0x1680, 0x2000,
    0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009,
    0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0xFEFF,
};

bool isJavaScriptWhitespace(char32_t scalar) {
    return std::binary_search(javaScriptWhitespace.begin(), javaScriptWhitespace.end(), scalar);
}

}  // namespace

HostRequest RequestParser::parse(const boost::json::value& parsed,
                                 std::optional<Base64Payload> payload,
                                 std::string_view payloadKey) {
    if (!parsed.is_object()) {
        fail("the request must be an object");
    }
    const object& request = parsed.as_object();
    HostRequest result;
    result.protocolVersion = versionMember(request, "protocolVersion");
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
    result.body = readBody(request, payload, payloadKey);
    return result;
}

RequestParser::Salvage RequestParser::salvage(const boost::json::value* parsed) {
    Salvage salvaged;
    if (parsed == nullptr || !parsed->is_object()) {
        return salvaged;
    }
    const object& request = parsed->as_object();
    if (const auto id = stringMember(request, "requestId"); id && isIdentifier(*id, 1, 64)) {
        salvaged.requestId = std::string(*id);
    }
    try {
        salvaged.session = readSession(request);
    } catch (const ProtocolFailure&) {
        // An unreadable session leaves the reply to fall back on another one.
    }
    return salvaged;
}

bool RequestParser::isVersion(std::string_view text) {
    std::size_t parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), isDigit)) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    return parts == 2 || parts == 3;
}

bool RequestParser::isIdentifier(std::string_view text, std::size_t min, std::size_t max) {
    // Every allowed character is ASCII, so bytes and characters agree whenever this holds.
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(), isIdentifierCharacter);
}

bool RequestParser::isLowerHex(std::string_view text, std::size_t count) {
    return Hex::isLower(text, count);
}

std::string RequestParser::trimmedJavaScriptStyle(std::string_view text) {
    // Bytes that are not well-formed UTF-8 read as U+FFFD, which is never whitespace.
    const std::vector<UTF8::Scalar> scalars = UTF8::decode(text);
    const auto isTrimmed = [](const UTF8::Scalar& scalar) {
        return scalar.wellFormed && isJavaScriptWhitespace(scalar.value);
    };
    auto first = scalars.begin();
    auto last = scalars.end();
    while (first != last && isTrimmed(*first)) {
        ++first;
    }
    while (last != first && isTrimmed(*(last - 1))) {
        --last;
    }
    if (first == last) {
        return {};
    }
    const std::size_t start = first->offset;
    const std::size_t end = (last - 1)->offset + (last - 1)->length;
    return std::string(text.substr(start, end - start));
}

std::size_t RequestParser::utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        // Each lead byte starts one unit; a four-byte sequence is a surrogate pair.
        units += static_cast<std::size_t>((value & 0xC0) != 0x80) +
                 static_cast<std::size_t>(value >= 0xF0);
    }
    return units;
}

}  // namespace quenra
