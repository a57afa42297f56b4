#include "bridge_core/request_reader.h"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>
#include <optional>
#include <utility>

namespace quenra {

namespace {

namespace json = boost::json;

constexpr std::string_view payloadKey = "midiBase64";

// Takes Boost.JSON's parse events as its own whole-text parser does, into the same value
// stack, so that duplicate keys, escapes and numbers come out alike (of a duplicate key, the
// last member wins). The one exception is the string of the top-level "midiBase64": its pieces
// go to a Base64Payload::Reader, and the value gets an empty string in its place.
class Handler {
  public:
    // The whole-text parser's own limits, so that the same texts are refused.
    static constexpr std::size_t max_object_size = json::object::max_size();
    static constexpr std::size_t max_array_size = json::array::max_size();
    static constexpr std::size_t max_key_size = json::string::max_size();
    static constexpr std::size_t max_string_size = json::string::max_size();

    explicit Handler(std::size_t frameBytes) : frameBytes_(frameBytes) { stack_.reset(); }

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code&) { return enter(); }
    bool on_object_end(std::size_t size, json::error_code&) {
        --depth_;
        stack_.push_object(size);
        return true;
    }
    bool on_array_begin(json::error_code&) { return enter(); }
    bool on_array_end(std::size_t size, json::error_code&) {
        --depth_;
        stack_.push_array(size);
        return true;
    }

    bool on_key_part(json::string_view part, std::size_t total, json::error_code&) {
        matchKey(part, total);
        stack_.push_chars(part);
        return true;
    }
    bool on_key(json::string_view part, std::size_t total, json::error_code&) {
        matchKey(part, total);
        payloadNext_ = keyMatches_ && total == payloadKey.size();
        stack_.push_key(part);
        return true;
    }

    bool on_string_part(json::string_view part, std::size_t, json::error_code&) {
        if (payloadNext_) {
            readPayload(part);
        } else {
            stack_.push_chars(part);
        }
        return true;
    }
    bool on_string(json::string_view part, std::size_t, json::error_code&) {
        if (!payloadNext_) {
            stack_.push_string(part);
            return true;
        }
        readPayload(part);
        payload_ = std::move(*reading_).finish();
        reading_.reset();
        payloadNext_ = false;
        stack_.push_string({});
        return true;
    }

    bool on_number_part(json::string_view, json::error_code&) { return true; }
    bool on_int64(std::int64_t number, json::string_view, json::error_code&) {
        payloadNext_ = false;
        stack_.push_int64(number);
        return true;
    }
    bool on_uint64(std::uint64_t number, json::string_view, json::error_code&) {
        payloadNext_ = false;
        stack_.push_uint64(number);
        return true;
    }
    bool on_double(double number, json::string_view, json::error_code&) {
        payloadNext_ = false;
        stack_.push_double(number);
        return true;
    }
    bool on_bool(bool flag, json::error_code&) {
        payloadNext_ = false;
        stack_.push_bool(flag);
        return true;
    }
    bool on_null(json::error_code&) {
        payloadNext_ = false;
        stack_.push_null();
        return true;
    }

    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

    json::value release() { return stack_.release(); }
    std::optional<Base64Payload> takePayload() { return std::exchange(payload_, std::nullopt); }

  private:
    bool enter() {
        ++depth_;
        payloadNext_ = false;
        return true;
    }

    // Whether the key read so far, of which part is the latest piece, is the top level's
    // "midiBase64". Keys arrive unescaped, so an escaped spelling matches too, as it does in
    // the value.
    void matchKey(json::string_view part, std::size_t total) {
        const std::size_t offset = total - part.size();
        if (offset == 0) {
            keyMatches_ = depth_ == 1;
        }
        keyMatches_ = keyMatches_ && total <= payloadKey.size() &&
                      payloadKey.substr(offset, part.size()) == std::string_view(part);
    }

    void readPayload(json::string_view part) {
        if (!reading_) {
            // A later "midiBase64" replaces an earlier one, as it does in the value. The text
            // fits in the frame, so its bytes take at most three quarters of the frame.
            payload_.reset();
            reading_.emplace(frameBytes_ / 4 * 3);
        }
        reading_->append(part);
    }

    const std::size_t frameBytes_;
    json::value_stack stack_;
    // 1 inside the top-level object (or array), more inside the values nested in it.
    std::size_t depth_ = 0;
    bool keyMatches_ = false;
    // The value about to be read is that of the top-level "midiBase64".
    bool payloadNext_ = false;
    std::optional<Base64Payload::Reader> reading_;
    std::optional<Base64Payload> payload_;
};

}  // namespace

struct RequestReader::Parser {
    explicit Parser(std::size_t frameBytes) : parser(json::parse_options(), frameBytes) {}

    // The whole-text parser's default options: strict JSON, at most 32 levels deep.
    json::basic_parser<Handler> parser;
    bool failed = false;
};

RequestReader::RequestReader(std::size_t frameBytes)
    : parser_(std::make_unique<Parser>(frameBytes)) {}

RequestReader::~RequestReader() = default;

void RequestReader::append(std::span<const std::uint8_t> bytes) {
    append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void RequestReader::append(std::string_view bytes) {
    if (parser_->failed) {
        return;
    }
    json::error_code error;
    const std::size_t used = parser_->parser.write_some(true, bytes.data(), bytes.size(), error);
    // Bytes left over follow a complete value: a second JSON text.
    parser_->failed = error.failed() || used < bytes.size();
}

ReadRequest RequestReader::finish() {
    Parser& state = *parser_;
    if (!state.failed) {
        json::error_code error;
        state.parser.write_some(false, nullptr, 0, error);
        state.failed = error.failed() || !state.parser.done();
    }
    if (state.failed) {
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, "not JSON"), {}};
    }
    const json::value value = state.parser.handler().release();
    try {
        return RequestParser::parse(value, state.parser.handler().takePayload());
    } catch (const ProtocolFailure& failed) {
        return RefusedRequest{failed, RequestParser::salvage(value)};
    } catch (const std::exception& failed) {
        // The checks read hostile input; whatever else they throw is still a bad request.
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, failed.what()),
                              RequestParser::salvage(value)};
    }
}

}  // namespace quenra
