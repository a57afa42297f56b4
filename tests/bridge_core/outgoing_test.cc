#include "bridge_core/outgoing.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quenra {
namespace {

const SessionID bound{"browserSession_0123", 7};

TEST(ErrorCode, FifteenCasesInOrderWithTheirWireTexts) {
    const std::vector<std::string_view> texts = {"BAD_REQUEST",
                                                 "UNSUPPORTED_VERSION",
                                                 "NOT_READY",
                                                 "TOO_LARGE",
                                                 "LENGTH_MISMATCH",
                                                 "HASH_MISMATCH",
                                                 "NOT_MIDI",
                                                 "UNKNOWN_PREPARED",
                                                 "STALE",
                                                 "BUSY",
                                                 "CACHE_FULL",
                                                 "RATE_LIMITED",
                                                 "DUPLICATE_REQUEST",
                                                 "INTERNAL",
                                                 "NOT_AUDIO"};
    ASSERT_EQ(ErrorCodes::allCases.size(), 15u);
    EXPECT_EQ(ErrorCodes::allCases.front(), ErrorCode::badRequest);
    EXPECT_EQ(ErrorCodes::allCases.back(), ErrorCode::notAudio);
    for (std::size_t index = 0; index < texts.size(); ++index) {
        const ErrorCode code = ErrorCodes::allCases[index];
        EXPECT_EQ(static_cast<std::size_t>(code), index);
        EXPECT_EQ(ErrorCodes::wireText(code), texts[index]);
    }
}

TEST(Outgoing, Constants) {
    EXPECT_EQ(Outgoing::unboundSession, (SessionID{"unbound-session-0", 1}));
    EXPECT_EQ(Outgoing::unparsedRequestId, "unparsed");
}

TEST(Outgoing, ErrorReplyBeforeHelloHasExactBytes) {
    const auto message =
        Outgoing::error(ErrorCode::tooLarge, Outgoing::unboundSession, Outgoing::unparsedRequestId);
    EXPECT_EQ(message.size(), 5u);
    EXPECT_EQ(Outgoing::encode(message, 65536),
              R"({"code":"TOO_LARGE","protocolVersion":"1.0","requestId":"unparsed",)"
              R"("session":{"epoch":1,"id":"unbound-session-0"},"type":"ERROR"})");
}

TEST(Outgoing, TheEnvelopeReplacesBodyMembersOfTheSameName) {
    const auto message = Outgoing::event(
        "PUBLISHED", bound,
        {{"type", "BODY"}, {"session", 3}, {"protocolVersion", "9.9"}, {"url", "file:///a/b.mid"}});
    EXPECT_EQ(Outgoing::encode(message, 65536),
              R"({"protocolVersion":"1.0","session":{"epoch":7,"id":"browserSession_0123"},)"
              R"("type":"PUBLISHED","url":"file:///a/b.mid"})");
    const auto reply = Outgoing::reply("STATUS", bound, "r-1", {{"requestId", "other"}, {"n", 2}});
    EXPECT_EQ(Outgoing::encode(reply, 65536),
              R"({"n":2,"protocolVersion":"1.0","requestId":"r-1",)"
              R"("session":{"epoch":7,"id":"browserSession_0123"},"type":"STATUS"})");
}

// A reply whose encoding is exactly size bytes.
Outgoing::Message replyOfSize(std::size_t size) {
    auto message = Outgoing::reply("STATUS", bound, "req-9", {{"pad", ""}});
    const std::size_t base = Outgoing::encode(message, 1 << 20).size();
    message["pad"] = std::string(size - base, 'p');
    return message;
}

TEST(Outgoing, TheLimitIsInclusiveAndOneByteMoreBecomesInternal) {
    const std::string internal =
        R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"req-9",)"
        R"("session":{"epoch":7,"id":"browserSession_0123"},"type":"ERROR"})";
    for (const std::int64_t limit : {std::int64_t{300}, std::int64_t{65536}}) {
        SCOPED_TRACE(limit);
        const auto exact = replyOfSize(static_cast<std::size_t>(limit));
        const std::string encoded = Outgoing::encode(exact, limit);
        EXPECT_EQ(encoded.size(), static_cast<std::size_t>(limit));
        EXPECT_EQ(encoded.substr(0, 8), R"({"pad":")");
        EXPECT_EQ(Outgoing::encode(replyOfSize(static_cast<std::size_t>(limit) + 1), limit),
                  internal);
    }
}

TEST(Outgoing, FallbackCorrelation) {
    struct Case {
        const char* name;
        Outgoing::Message message;
        std::string expected;
    };
    const std::string big(100, 'x');
    const std::vector<Case> cases = {
        {"an event gets unparsed", Outgoing::event("PUBLISHED", bound, {{"big", big}}),
         R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"unparsed",)"
         R"("session":{"epoch":7,"id":"browserSession_0123"},"type":"ERROR"})"},
        {"a session without epoch",
         {{"session", {{"id", "abcdefghijklmnop"}}}, {"requestId", "q"}, {"big", big}},
         R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"q",)"
         R"("session":{"epoch":1,"id":"unbound-session-0"},"type":"ERROR"})"},
        {"a fractional epoch",
         {{"session", {{"id", "abcdefghijklmnop"}, {"epoch", 1.5}}}, {"big", big}},
         R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"unparsed",)"
         R"("session":{"epoch":1,"id":"unbound-session-0"},"type":"ERROR"})"},
        {"a non-string request id",
         {{"session", "s"}, {"requestId", 5}, {"big", big}},
         R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"unparsed",)"
         R"("session":{"epoch":1,"id":"unbound-session-0"},"type":"ERROR"})"},
        {"a value JSON cannot hold, within the limit",
         Outgoing::reply("STATUS", bound, "r", {{"x", std::nan("")}}),
         R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"r",)"
         R"("session":{"epoch":7,"id":"browserSession_0123"},"type":"ERROR"})"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(Outgoing::encode(test.message, 100), test.expected);
    }
}

TEST(Outgoing, TheFallbackIsNotMeasuredAgainstTheLimit) {
    EXPECT_EQ(Outgoing::encode(Outgoing::event("X", bound), 0),
              R"({"code":"INTERNAL","protocolVersion":"1.0","requestId":"unparsed",)"
              R"("session":{"epoch":7,"id":"browserSession_0123"},"type":"ERROR"})");
}

}  // namespace
}  // namespace quenra
