#include "bridge_core/request_reader.h"

#include <array>
#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace quenra {

namespace {

namespace json = boost::json;

// The keys whose top-level strings are payloads; a later payload replaces an earlier one of
// either key, so a frame never holds more than one.
constexpr std::array<std::string_view, 2> payloadKeys{RequestParser::midiPayloadKey,
                                                      RequestParser::chunkPayloadKey};

// Takes Boost.JSON's parse events as its own whole-text parser does, into the same value
// stack, so that duplicate keys, escapes and numbers come out alike (of a duplicate key, the
// last member wins). The members of a top-level object are built one at a time and kept in an
// object of their own, so that those read before a refusal can still be salvaged. The string
// of a top-level payload ("midiBase64", "dataBase64") goes to a Base64Payload::Reader, and the
// value gets an empty
// string in its place; everything else is counted against the limits outside the payload.
class Handler {
  public:
    // The whole-text parser's own limits, so that the same texts are refused.
    static constexpr std::size_t max_object_size = json::object::max_size();
    static constexpr std::size_t max_array_size = json::array::max_size();
    static constexpr std::size_t max_key_size = json::string::max_size();
    static constexpr std::size_t max_string_size = json::string::max_size();

    Handler(std::size_t frameBytes, const Limits& limits)
        : frameBytes_(frameBytes),
          maxValues_(static_cast<std::size_t>(limits.maxValuesOutsidePayload)),
          maxBytes_(static_cast<std::size_t>(limits.maxBytesOutsidePayload)) {
        stack_.reset();
    }

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code& error) {
        if (!countValue(0, error)) {
            return false;
        }
        topIsObject_ = topIsObject_ || depth_ == 0;
        return enter();
    }
    bool on_object_end(std::size_t size, json::error_code&) {
        --depth_;
        // The top-level object is members_, made as its members came.
        if (depth_ > 0 || !topIsObject_) {
            stack_.push_object(size);
            memberDone();
        }
        return true;
    }
    bool on_array_begin(json::error_code& error) { return countValue(0, error) && enter(); }
    bool on_array_end(std::size_t size, json::error_code&) {
        --depth_;
        stack_.push_array(size);
        memberDone();
        return true;
    }

    bool on_key_part(json::string_view part, std::size_t total, json::error_code& error) {
        matchKey(part, total);
        if (!textSoFar(total, error)) {
            return false;
        }
        keyPiece(part, total);
        return true;
    }
    bool on_key(json::string_view part, std::size_t total, json::error_code& error) {
        matchKey(part, total);
        textInProgress_ = 0;
        if (!countBytes(total, error)) {
            return false;
        }
        payloadNext_ = false;
        for (std::size_t index = 0; index < payloadKeys.size(); ++index) {
            if (keyMatches_[index] && total == payloadKeys[index].size()) {
                payloadNext_ = true;
                nextKey_ = index;
            }
        }
        if (isTopMember()) {
            keyPiece(part, total);
            stack_.reset();
        } else {
            stack_.push_key(part);
        }
        return true;
    }

    bool on_string_part(json::string_view part, std::size_t total, json::error_code& error) {
        if (payloadNext_) {
            readPayload(part);
            return true;
        }
        if (!textSoFar(total, error)) {
            return false;
        }
        stack_.push_chars(part);
        return true;
    }
    bool on_string(json::string_view part, std::size_t total, json::error_code& error) {
        textInProgress_ = 0;
        if (!payloadNext_) {
            if (!countValue(total, error)) {
                return false;
            }
            stack_.push_string(part);
            return scalarDone();
        }
        readPayload(part);
        payload_ = std::move(*reading_).finish();
        payloadKey_ = payloadKeys[nextKey_];
        reading_.reset();
        stack_.push_string({});
        return scalarDone();
    }

    bool on_number_part(json::string_view part, json::error_code& error) {
        numberBytes_ += part.size();
        return textSoFar(numberBytes_, error);
    }
    bool on_int64(std::int64_t number, json::string_view part, json::error_code& error) {
        if (!countNumber(part, error)) {
            return false;
        }
        stack_.push_int64(number);
        return scalarDone();
    }
    bool on_uint64(std::uint64_t number, json::string_view part, json::error_code& error) {
        if (!countNumber(part, error)) {
            return false;
        }
        stack_.push_uint64(number);
        return scalarDone();
    }
    bool on_double(double number, json::string_view part, json::error_code& error) {
        if (!countNumber(part, error)) {
            return false;
        }
        stack_.push_double(number);
        return scalarDone();
    }
    bool on_bool(bool flag, json::error_code& error) {
        if (!countValue(0, error)) {
            return false;
        }
        stack_.push_bool(flag);
        return scalarDone();
    }
    bool on_null(json::error_code& error) {
        if (!countValue(0, error)) {
            return false;
        }
        stack_.push_null();
        return scalarDone();
    }

    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

    // The value read: call once the document is complete.
    json::value release() {
        return topIsObject_ ? json::value(std::move(members_)) : stack_.release();
    }
    // The members of a top-level object read whole so far, for the salvage of a refusal.
    json::value membersRead() const { return topIsObject_ ? json::value(members_) : nullptr; }
    std::optional<Base64Payload> takePayload() { return std::exchange(payload_, std::nullopt); }
    // The key of the payload takePayload gives.
    std::string_view payloadKey() const { return payloadKey_; }
    // The parse stopped because the frame holds too much outside its payload.
    bool isOverLimits() const { return overLimits_; }

    // How much of rest to feed the parser next. A text outside the payload is seen only in
    // the pieces the parser reports, at the end of what it was fed (and at its own end), so a
    // text that passes the limit must be fed up to no further than the byte where it passes:
    // else the parse would go past that byte, and a fault after it (not JSON) would be found
    // first or not depending on how the frame was cut. Fed this way, the refusal comes at the
    // same byte for any cut, the byte at which it would come were the frame fed one byte at a
    // time.
    std::size_t nextSlice(std::string_view rest) const {
        // No text can pass the limit inside free bytes, nor at their last one: every byte adds
        // at most one byte of text, but for a character or escape begun before the slice,
        // which can add up to four at once.
        const std::size_t left = maxBytes_ - bytes_ - textInProgress_;
        const std::size_t free = left > pendingText ? left - pendingText : 1;
        if (rest.size() <= free) {
            return rest.size();
        }
        if (reading_) {
            // Inside the payload's text, which is not counted, only what follows its end can
            // pass the limit: the slice ends right after its first possible closing quote,
            // unless that comes within the last free bytes of rest.
            const std::size_t ends = rest.substr(0, rest.size() - free).find('"');
            return ends == std::string_view::npos ? rest.size() : ends + 1;
        }
        // A run of blanks of one kind is fed whole however little room is left, so that blanks
        // after values that fill the limit are read as fast as any others: spaces are text
        // inside a key or string and never bad there, so they may pass the limit but hide no
        // fault behind the byte that does; tabs and line ends inside a key or string are bad
        // at the run's first byte, before anything in it is counted. The two kinds go apart: a
        // space inside a string can pass the limit just before a line end turns it bad.
        const std::size_t run =
            rest.front() == ' ' ? rest.find_first_not_of(' ') : rest.find_first_not_of("\t\n\r");
        return std::max(free, std::min(run, rest.size()));
    }

  private:
    bool enter() {
        ++depth_;
        payloadNext_ = false;
        return true;
    }

    // Between the members of the top-level object: its keys, and its values once done.
    bool isTopMember() const { return topIsObject_ && depth_ == 1; }

    // One more value outside the payload, with total bytes of text: false, and the parse
    // stopped, once either count passes its limit. Counted where a value begins (objects,
    // arrays) or ends (the rest); a text too long is refused already on the piece that passes
    // the limit (textSoFar), and nextSlice makes that the same byte however the frame was cut.
    bool countValue(std::size_t total, json::error_code& error) {
        ++values_;
        return values_ <= maxValues_ ? countBytes(total, error) : over(error);
    }
    bool countBytes(std::size_t total, json::error_code& error) {
        if (!fits(total)) {
            return over(error);
        }
        bytes_ += total;
        return true;
    }
    bool countNumber(json::string_view last, json::error_code& error) {
        textInProgress_ = 0;
        return countValue(std::exchange(numberBytes_, 0) + last.size(), error);
    }
    // Whether a text of total bytes stays within the limit; bytes_ never passes it.
    bool fits(std::size_t total) const { return total <= maxBytes_ - bytes_; }
    // A text outside the payload that is total bytes long so far (it may be longer yet): false,
    // and the parse stopped, as soon as it passes the limit.
    bool textSoFar(std::size_t total, json::error_code& error) {
        if (!fits(total)) {
            return over(error);
        }
        textInProgress_ = total;
        return true;
    }
    bool over(json::error_code& error) {
        overLimits_ = true;
        error = json::error::object_too_large;
        return false;
    }

    // A scalar was pushed. A value that completes a member of the top-level object joins the
    // members read.
    bool scalarDone() {
        payloadNext_ = false;
        memberDone();
        return true;
    }
    void memberDone() {
        if (isTopMember()) {
            members_.insert_or_assign(key_, stack_.release());
        }
    }

    // A piece of a key, the total so far being total bytes: a top-level key is kept apart.
    void keyPiece(json::string_view part, std::size_t total) {
        if (!isTopMember()) {
            stack_.push_chars(part);
            return;
        }
        if (total == part.size()) {
            key_.clear();
        }
        key_.append(part);
    }

    // Whether the key read so far, of which part is the latest piece, is one of the top
    // level's payload keys. Keys arrive unescaped, so an escaped spelling matches too, as it
    // does in the value.
    void matchKey(json::string_view part, std::size_t total) {
        const std::size_t offset = total - part.size();
        for (std::size_t index = 0; index < payloadKeys.size(); ++index) {
            const std::string_view key = payloadKeys[index];
            if (offset == 0) {
                keyMatches_[index] = depth_ == 1;
            }
            keyMatches_[index] = keyMatches_[index] && total <= key.size() &&
                                 key.substr(offset, part.size()) == std::string_view(part);
        }
    }

    void readPayload(json::string_view part) {
        if (!reading_) {
            // A later payload replaces an earlier one, as a later key does in the value, and is
            // written into the earlier one's buffer: however many a frame holds, room for a
            // clip is made once. The text fits in the frame, so its bytes take at most three
            // quarters of the frame. Only a PREPARE's clip is hashed here: an upload hashes its
            // chunks itself, in order.
            ClipBuffer room = payload_ ? payload_->takeBytes() : ClipBuffer();
            payload_.reset();
            reading_.emplace(frameBytes_ / 4 * 3, std::move(room),
                             payloadKeys[nextKey_] == RequestParser::midiPayloadKey);
        }
        reading_->append(part);
    }

    const std::size_t frameBytes_;
    const std::size_t maxValues_;
    const std::size_t maxBytes_;
    json::value_stack stack_;
    // The members of a top-level object done so far, and the key of the one being read.
    json::object members_;
    std::string key_;
    bool topIsObject_ = false;
    // 1 inside the top-level object (or array), more inside the values nested in it.
    std::size_t depth_ = 0;
    std::array<bool, payloadKeys.size()> keyMatches_{};
    // The value about to be read is that of a top-level payload key, payloadKeys[nextKey_].
    bool payloadNext_ = false;
    std::size_t nextKey_ = 0;
    std::string_view payloadKey_ = RequestParser::midiPayloadKey;
    // Counted outside the payload; bytes_ never passes maxBytes_.
    std::size_t values_ = 0;
    std::size_t bytes_ = 0;
    // The number text read so far of a number not yet complete.
    std::size_t numberBytes_ = 0;
    // What the parser last reported of a key, string or number outside the payload that is not
    // yet complete; bytes_ + textInProgress_ never passes maxBytes_.
    std::size_t textInProgress_ = 0;
    // The most text one byte can complete: a four-byte character, or a surrogate pair.
    static constexpr std::size_t pendingText = 4;
    bool overLimits_ = false;
    std::optional<Base64Payload::Reader> reading_;
    std::optional<Base64Payload> payload_;
};

}  // namespace

struct RequestReader::Parser {
    Parser(std::size_t frameBytes, const Limits& limits)
        : parser(json::parse_options(), frameBytes, limits) {}

    // The whole-text parser's default options: strict JSON, at most 32 levels deep.
    json::basic_parser<Handler> parser;
    bool failed = false;
};

RequestReader::RequestReader(std::size_t frameBytes, const Limits& limits)
    : parser_(std::make_unique<Parser>(frameBytes, limits)) {}

RequestReader::~RequestReader() = default;

void RequestReader::append(std::span<const std::uint8_t> bytes) {
    append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void RequestReader::append(std::string_view bytes) {
    if (!parser_) {
        return;
    }
    try {
        while (!bytes.empty() && !parser_->failed) {
            const std::size_t slice = parser_->parser.handler().nextSlice(bytes);
            json::error_code error;
            const std::size_t used = parser_->parser.write_some(true, bytes.data(), slice, error);
            // Bytes left over follow a complete value: a second JSON text.
            parser_->failed = error.failed() || used < slice;
            bytes.remove_prefix(slice);
        }
    } catch (const std::bad_alloc&) {
        // Everything read so far goes, so that the host has its memory back for the reply.
        parser_.reset();
    }
}

ReadRequest RequestReader::finish() {
    try {
        if (parser_) {
            return read(*parser_);
        }
    } catch (const std::bad_alloc&) {
        parser_.reset();
    }
    return RefusedRequest{ProtocolFailure(ErrorCode::internal, "out of memory"), {}};
}

ReadRequest RequestReader::read(Parser& state) {
    Handler& handler = state.parser.handler();
    if (!state.failed) {
        json::error_code error;
        state.parser.write_some(false, "", 0, error);
        state.failed = error.failed() || !state.parser.done();
    }
    if (handler.isOverLimits()) {
        return RefusedRequest{
            ProtocolFailure(ErrorCode::badRequest, "the request is too large outside the payload"),
            RequestParser::salvage(handler.membersRead())};
    }
    if (state.failed) {
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, "not JSON"), {}};
    }
    const json::value value = handler.release();
    try {
        const std::string_view key = handler.payloadKey();
        return RequestParser::parse(value, handler.takePayload(), key);
    } catch (const ProtocolFailure& failed) {
        return RefusedRequest{failed, RequestParser::salvage(value)};
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& failed) {
        // The checks read hostile input; whatever else they throw is still a bad request.
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, failed.what()),
                              RequestParser::salvage(value)};
    }
}

}  // namespace quenra
