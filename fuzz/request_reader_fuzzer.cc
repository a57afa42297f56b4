// The host reads each request frame as its bytes arrive (RequestReader). This target holds it
// to the whole-frame reading it replaced, kept here as the oracle: the frame parsed by
// Boost.JSON's DOM parser, the request checks run over that value with the base64 text in it,
// the text decoded whole and hashed in one go. For any bytes, cut into pieces anywhere, both
// must give the same request or the same failure (code and detail) with the same salvage, and
// for a PREPARE the same payload verdict and the same clip.
//
// The oracle applies the limits on what a frame holds outside its payload by a count of its
// own: the frame is fed to a counting parser, which counts a text's bytes as the parser reports
// them, so that fed one byte at a time the count passes its limit at the very byte that makes
// a text too long. When a count passes its limit, or the frame turns out not to be JSON (a
// text may have passed the limit before that), it is fed again one byte at a time to find
// whether a limit was passed first, and what is salvaged: that of the top-level members
// complete before the passing byte (the text up to there, closed). Each input is read under the
// standard limits and under small ones, so that the refusals come often. The heap the reader holds
// for one frame is measured too: never more than twice the frame plus what the limits allow.
//
// Input: one byte that chooses how the body is cut (low 3 bits) and the small limits (the
// rest), then the body.
#include <boost/json/basic_parser_impl.hpp>
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
#include "support/base64_alphabet.h"
#include "support/fuzz_checks.h"
#include "support/held_memory.h"

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

// An UPLOAD_CHUNK with its data text as sent.
struct Chunk {
    std::string uploadId;
    std::int64_t offset = 0;
    std::string dataBase64;
};

using Body = std::variant<HelloRequest, Prepare, ArmRequest, CancelRequest, ReleaseRequest,
                          StatusRequest, ArmListRequest, UploadRequest, Chunk>;

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

// The text of a payload member: the reader keeps only the last payload string of a frame, under
// whichever key, and an earlier one reads as empty.
std::optional<std::string_view> payloadMember(const object& request, std::string_view key,
                                              std::string_view lastPayloadKey) {
    const auto text = stringMember(request, key);
    if (text && key != lastPayloadKey) {
        return std::string_view();
    }
    return text;
}

// The four members that announce a clip, PREPARE's and UPLOAD's alike, in their order.
template <typename Announced>
Announced readAnnounced(const object& request) {
    Announced clip;
    clip.clipId = identifierMember(request, "clipId", 1, 64);
    clip.generation = integer(request, "generation", 1, largestGeneration);
    clip.sha256 = lowerHexMember(request, "sha256", 64);
    clip.byteLength = integer(request, "byteLength", 1, largestGeneration);
    return clip;
}

Prepare readPrepare(const object& request, std::string_view lastPayloadKey) {
    const Limits& limits = Limits::standard();
    Prepare prepare = readAnnounced<Prepare>(request);
    if (prepare.byteLength > limits.maxMidiBytes) {
        fail("the clip is over the limit", ErrorCode::tooLarge);
    }
    const auto payload = payloadMember(request, "midiBase64", lastPayloadKey);
    const auto expectedUnits = static_cast<std::size_t>(4 * ((prepare.byteLength + 2) / 3));
    if (!payload || payload->size() != expectedUnits || !testing::isBase64Text(*payload)) {
        fail("midiBase64 must be base64 of exactly byteLength bytes");
    }
    prepare.midiBase64 = std::string(*payload);
    prepare.suggestedName = suggestedName(request);
    return prepare;
}

UploadRequest readUpload(const object& request) {
    const Limits& limits = Limits::standard();
    UploadRequest upload = readAnnounced<UploadRequest>(request);
    upload.suggestedName = suggestedName(request);
    const auto format = stringMember(request, "format");
    if (!format ||
        (*format != "wav" && *format != "aiff" && *format != "flac" && *format != "mp3")) {
        fail("format must be wav, aiff, flac or mp3");
    }
    upload.format = std::string(*format);
    if (upload.byteLength > limits.maxAudioBytes) {
        fail("the clip is over the limit", ErrorCode::tooLarge);
    }
    return upload;
}

Chunk readChunk(const object& request, std::string_view lastPayloadKey) {
    Chunk chunk;
    chunk.uploadId = lowerHexMember(request, "uploadId", 32);
    chunk.offset = integer(request, "offset", 0, largestGeneration);
    const auto data = stringMember(request, "dataBase64");
    if (!data || lastPayloadKey != "dataBase64") {
        fail("dataBase64 must be a string");
    }
    chunk.dataBase64 = std::string(*data);
    return chunk;
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

Body readBody(const object& request, std::string_view lastPayloadKey) {
    const auto type = stringMember(request, "type");
    if (type == "HELLO") {
        return HelloRequest{
            checkedString(request, "extensionVersion", 16, RequestParser::isVersion)};
    }
    if (type == "PREPARE") {
        return readPrepare(request, lastPayloadKey);
    }
    if (type == "UPLOAD") {
        return readUpload(request);
    }
    if (type == "UPLOAD_CHUNK") {
        return readChunk(request, lastPayloadKey);
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

Request parse(const value& parsed, std::string_view lastPayloadKey) {
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
    result.body = readBody(request, lastPayloadKey);
    return result;
}

using Outcome = std::variant<Request, RefusedRequest>;

// Counts what a frame holds outside its top-level payloads ("midiBase64", "dataBase64"): every
// value (the top-level payload strings excepted), and the bytes of every key, string and number
// text. Told the offset of the byte being fed, it notes where the last member of a top-level object
// ended.
class Counter {
  public:
    static constexpr std::size_t max_object_size = boost::json::object::max_size();
    static constexpr std::size_t max_array_size = boost::json::array::max_size();
    static constexpr std::size_t max_key_size = boost::json::string::max_size();
    static constexpr std::size_t max_string_size = boost::json::string::max_size();

    explicit Counter(const Limits& limits) : limits_(limits) {}

    bool on_document_begin(boost::json::error_code&) { return true; }
    bool on_document_end(boost::json::error_code&) { return true; }
    bool on_object_begin(boost::json::error_code&) {
        if (depth_ == 0) {
            topIsObject_ = true;
            lastMemberEnd_ = at + 1;
        }
        ++depth_;
        return add(0);
    }
    bool on_object_end(std::size_t, boost::json::error_code&) { return close(); }
    bool on_array_begin(boost::json::error_code&) {
        ++depth_;
        return add(0);
    }
    bool on_array_end(std::size_t, boost::json::error_code&) { return close(); }
    bool on_key_part(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        key_.append(part);
        return textSoFar(key_.size());
    }
    bool on_key(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        key_.append(part);
        payloadNext_ =
            topIsObject_ && depth_ == 1 && (key_ == "midiBase64" || key_ == "dataBase64");
        nextKey_ = key_;
        bytes_ += key_.size();
        key_.clear();
        return check();
    }
    bool on_string_part(boost::json::string_view, std::size_t total, boost::json::error_code&) {
        return payloadNext_ || textSoFar(total);
    }
    bool on_string(boost::json::string_view, std::size_t total, boost::json::error_code&) {
        if (payloadNext_) {
            lastPayloadKey = nextKey_;
            return done();
        }
        return add(total) && done();
    }
    bool on_number_part(boost::json::string_view part, boost::json::error_code&) {
        number_ += part.size();
        return textSoFar(number_);
    }
    bool on_int64(std::int64_t, boost::json::string_view part, boost::json::error_code&) {
        return number(part);
    }
    bool on_uint64(std::uint64_t, boost::json::string_view part, boost::json::error_code&) {
        return number(part);
    }
    bool on_double(double, boost::json::string_view part, boost::json::error_code&) {
        return number(part);
    }
    bool on_bool(bool, boost::json::error_code&) { return add(0) && done(); }
    bool on_null(boost::json::error_code&) { return add(0) && done(); }
    bool on_comment_part(boost::json::string_view, boost::json::error_code&) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code&) { return true; }

    std::size_t at = 0;  // the offset of the byte being fed
    bool over = false;
    // The key of the last top-level payload string, whose text alone the reader keeps.
    std::string lastPayloadKey;
    bool notJSON = false;
    bool topIsObject() const { return topIsObject_; }
    std::size_t lastMemberEnd() const { return lastMemberEnd_; }

  private:
    bool add(std::size_t bytes) {
        payloadNext_ = false;
        ++values_;
        bytes_ += bytes;
        return check();
    }
    bool number(boost::json::string_view last) {
        const std::size_t text = number_ + last.size();
        number_ = 0;
        return add(text) && done();
    }
    bool check() {
        over = values_ > static_cast<std::uint64_t>(limits_.maxValuesOutsidePayload) ||
               bytes_ > static_cast<std::uint64_t>(limits_.maxBytesOutsidePayload);
        return !over;
    }
    // A text not yet complete, total bytes of it so far.
    bool textSoFar(std::size_t total) {
        over = bytes_ + total > static_cast<std::uint64_t>(limits_.maxBytesOutsidePayload);
        return !over;
    }
    bool close() {
        --depth_;
        return done();
    }
    // A value ended with the byte being fed (a number: with the byte after it).
    bool done() {
        payloadNext_ = false;
        if (topIsObject_ && depth_ == 1) {
            lastMemberEnd_ = at + 1;
        }
        return true;
    }

    const Limits& limits_;
    std::string key_;
    std::string nextKey_;
    bool topIsObject_ = false;
    bool payloadNext_ = false;
    std::size_t depth_ = 0;
    std::uint64_t values_ = 0;
    std::uint64_t bytes_ = 0;
    std::size_t number_ = 0;
    std::size_t lastMemberEnd_ = 0;
};

// Feeds the frame to a counting parser, whole or one byte at a time, until it ends, turns out
// not to be JSON, or passes a limit.
Counter count(std::string_view frame, const Limits& limits, bool bytewise) {
    boost::json::basic_parser<Counter> parser(boost::json::parse_options(), limits);
    Counter& counter = parser.handler();
    boost::system::error_code error;
    const std::size_t step = bytewise ? 1 : frame.size();
    // A handler that stops the parse says so by its own flag, not always by the error.
    for (std::size_t index = 0; index < frame.size() && !error && !counter.over; index += step) {
        counter.at = index;
        const std::size_t used = parser.write_some(true, frame.data() + index, step, error);
        if (used < step && !counter.over) {
            counter.notJSON = true;  // bytes after a complete value
            return counter;
        }
    }
    if (!error && !counter.over) {
        counter.at = frame.size();
        parser.write_some(false, "", 0, error);
    }
    counter.notJSON = !counter.over && (error || !parser.done());
    return counter;
}

// When the frame passes a limit before it turns out not to be JSON: the refusal, salvaging the
// top-level members complete by then.
std::optional<RefusedRequest> overLimits(std::string_view frame, const Limits& limits) {
    if (frame.empty()) {
        return std::nullopt;
    }
    // A text that passes the limit passes it at its end at the latest, so a frame read whole to
    // its end without passing a limit never passed one.
    const Counter whole = count(frame, limits, false);
    if (!whole.over && !whole.notJSON) {
        return std::nullopt;
    }
    RequestParser::Salvage salvaged;
    const Counter counter = count(frame, limits, true);
    if (!counter.over) {
        return std::nullopt;
    }
    if (counter.topIsObject()) {
        // The members up to the last one complete, without what came after it.
        std::string_view read = frame.substr(0, counter.lastMemberEnd());
        while (!read.empty() && read.find_last_of(" \t\n\r,") == read.size() - 1) {
            read.remove_suffix(1);
        }
        const value members = boost::json::parse(std::string(read) + "}");
        salvaged = RequestParser::salvage(members);
    }
    return RefusedRequest{
        ProtocolFailure(ErrorCode::badRequest, "the request is too large outside the payload"),
        salvaged};
}

Outcome read(std::string_view frame, const Limits& limits) {
    if (auto refused = overLimits(frame, limits)) {
        return *refused;
    }
    boost::system::error_code error;
    const value parsed = boost::json::parse(frame, error);
    if (error) {
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, "not JSON"), {}};
    }
    try {
        return parse(parsed, count(frame, limits, false).lastPayloadKey);
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
        const ByteView bytes = request.midiBase64.bytes();
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
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
    if (const auto* chunk = std::get_if<oracle::Chunk>(&want.body)) {
        const UploadChunkRequest& read = std::get<UploadChunkRequest>(got.body);
        const Base64Payload& data = read.dataBase64;
        const auto decoded = oracle::decodeBase64(chunk->dataBase64);
        require(chunk->uploadId == read.uploadId && chunk->offset == read.offset &&
                    chunk->dataBase64.size() == data.length(),
                "the same UPLOAD_CHUNK fields");
        require(decoded.has_value() == (data.isBase64() && data.decodes()) &&
                    (!decoded || std::equal(decoded->begin(), decoded->end(), data.bytes().begin(),
                                            data.bytes().end())),
                "the same chunk verdict and bytes");
        return;
    }
    const auto* prepare = std::get_if<oracle::Prepare>(&want.body);
    if (prepare == nullptr) {
        const bool same = std::visit(
            [&](const auto& body) {
                using Body = std::decay_t<decltype(body)>;
                if constexpr (std::is_same_v<Body, oracle::Prepare> ||
                              std::is_same_v<Body, oracle::Chunk>) {
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

// Reads the frame whole and checks the heap held meanwhile, the result included: the clip
// decoded (three quarters of the frame at most) in a buffer that may have doubled, and for the
// rest no more than the limits let through, at a generous price per value and byte.
ReadRequest readWholeWithin(std::string_view frame, const Limits& limits) {
    const std::size_t before = HeldMemory::restartPeak();
    std::optional<ReadRequest> read;
    {
        RequestReader reader(frame.size(), limits);
        reader.append(frame);
        read = reader.finish();
    }
    const auto bound = 2 * frame.size() + 128 * limits.maxValuesOutsidePayload +
                       4 * limits.maxBytesOutsidePayload + (8 << 10);
    require(HeldMemory::highest() - before <= static_cast<std::size_t>(bound),
            "the heap held for one frame within the bound");
    return std::move(*read);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string_view frame(reinterpret_cast<const char*>(data + 1), size - 1);
    Limits small;
    small.maxValuesOutsidePayload = 4 + 8 * (data[0] >> 3);
    small.maxBytesOutsidePayload = 16 * small.maxValuesOutsidePayload;

    requireSame(oracle::read(frame, Limits::standard()),
                readWholeWithin(frame, Limits::standard()));
    const oracle::Outcome expected = oracle::read(frame, small);
    requireSame(expected, readWholeWithin(frame, small));

    // Pieces of 1 to longest bytes, as reads and frame boundaries may cut a body anywhere:
    // inside a key, an escape, a UTF-8 sequence, a number or a base64 group.
    static constexpr std::size_t longest[8] = {1, 2, 3, 5, 8, 17, 64, 1024};
    std::uint32_t state = data[0] * 2654435761u + 1;
    RequestReader cut(frame.size(), small);
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
