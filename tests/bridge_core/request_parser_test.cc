#include "bridge_core/request_parser.h"

#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>
#include <boost/json/value_from.hpp>
#include <functional>

#include "support/read_request.h"

namespace quenra {
namespace {

using boost::json::object;
using boost::json::value;

const std::string sha(64, 'a');
const std::string preparedId(32, '0');

object envelope(std::string_view type) {
    return {{"protocolVersion", "1.0"},
            {"session", {{"id", "session_ABCDEF-0123"}, {"epoch", 3}}},
            {"requestId", "req-1"},
            {"type", type}};
}

object hello() {
    object request = envelope("HELLO");
    request["extensionVersion"] = "0.4.2";
    return request;
}

object prepare() {
    object request = envelope("PREPARE");
    request["clipId"] = "clip_1";
    request["generation"] = 2;
    request["sha256"] = sha;
    request["byteLength"] = 4;
    request["midiBase64"] = "AAECAw==";
    request["suggestedName"] = "Bass line";
    return request;
}

object arm() {
    object request = envelope("ARM");
    request["preparedId"] = preparedId;
    request["clipId"] = "clip_1";
    request["generation"] = 2;
    request["sha256"] = sha;
    return request;
}

object cancel() {
    object request = envelope("CANCEL");
    request["token"] = std::string(22, 't');
    return request;
}

object release() {
    object request = envelope("RELEASE");
    request["preparedId"] = preparedId;
    return request;
}

using Edit = std::function<void(object&)>;

value text(const std::string& text) {
    return value(std::string_view(text));
}

Edit set(std::string_view key, value member) {
    return [key = std::string(key), member](object& request) { request[key] = member; };
}

Edit erase(std::string_view key) {
    return [key = std::string(key)](object& request) { request.erase(key); };
}

Edit setSession(std::string_view key, value member) {
    return [key = std::string(key), member](object& request) {
        request["session"].as_object()[key] = member;
    };
}

Edit eraseSession(std::string_view key) {
    return [key = std::string(key)](object& request) { request["session"].as_object().erase(key); };
}

Edit both(Edit first, Edit second) {
    return [first, second](object& request) {
        first(request);
        second(request);
    };
}

// n copies of a UTF-8 text.
std::string repeat(std::string_view text, std::size_t count) {
    std::string result;
    for (std::size_t index = 0; index < count; ++index) {
        result += text;
    }
    return result;
}

struct FailureCase {
    const char* name;
    std::function<object()> base;
    Edit edit;
    ErrorCode code;
    std::string detail;
};

constexpr auto bad = ErrorCode::badRequest;

std::vector<FailureCase> failureCases() {
    const std::string whole = " must be a whole number";
    const std::string number = " must be a number";
    const std::string range = " is out of range";
    return {
        // Protocol version.
        {"version missing", hello, erase("protocolVersion"), bad,
         "protocolVersion is missing or malformed"},
        {"version as a number", hello, set("protocolVersion", 1.0), bad,
         "protocolVersion is missing or malformed"},
        {"version of one part", hello, set("protocolVersion", "1"), bad,
         "protocolVersion is missing or malformed"},
        {"version of four parts", hello, set("protocolVersion", "1.2.3.4"), bad,
         "protocolVersion is missing or malformed"},
        {"version with a four-digit part", hello, set("protocolVersion", "1.0000"), bad,
         "protocolVersion is missing or malformed"},
        {"version with an empty part", hello, set("protocolVersion", "1..0"), bad,
         "protocolVersion is missing or malformed"},
        {"version with a sign", hello, set("protocolVersion", "+1.0"), bad,
         "protocolVersion is missing or malformed"},
        {"version 2.0 with everything else wrong", hello,
         both(set("protocolVersion", "2.0"), erase("session")), ErrorCode::unsupportedVersion,
         "another major version"},
        {"version 0.9", hello, set("protocolVersion", "0.9"), ErrorCode::unsupportedVersion,
         "another major version"},
        {"version 010.0", hello, set("protocolVersion", "010.0"), ErrorCode::unsupportedVersion,
         "another major version"},
        // Session.
        {"session missing", hello, erase("session"), bad, "session must be an object"},
        {"session an array", hello, set("session", boost::json::array{}), bad,
         "session must be an object"},
        {"id missing", hello, eraseSession("id"), bad, "id is missing or malformed"},
        {"id of 15", hello, setSession("id", text(std::string(15, 'i'))), bad,
         "id is missing or malformed"},
        {"id of 65", hello, setSession("id", text(std::string(65, 'i'))), bad,
         "id is missing or malformed"},
        {"id with a dot", hello, setSession("id", "abcdefgh.ijklmnop"), bad,
         "id is missing or malformed"},
        {"id a number", hello, setSession("id", 1234567890123456789), bad,
         "id is missing or malformed"},
        {"epoch missing", hello, eraseSession("epoch"), bad, "epoch" + number},
        {"epoch true", hello, setSession("epoch", true), bad, "epoch" + number},
        {"epoch a string", hello, setSession("epoch", "3"), bad, "epoch" + number},
        {"epoch null", hello, setSession("epoch", nullptr), bad, "epoch" + number},
        {"epoch 1.5", hello, setSession("epoch", 1.5), bad, "epoch" + whole},
        {"epoch -0.5", hello, setSession("epoch", -0.5), bad, "epoch" + whole},
        {"epoch 2^53", hello, setSession("epoch", 9007199254740992.0), bad, "epoch" + whole},
        {"epoch huge unsigned", hello, setSession("epoch", std::uint64_t{18446744073709551615u}),
         bad, "epoch" + whole},
        {"epoch 0", hello, setSession("epoch", 0), bad, "epoch" + range},
        {"epoch -1", hello, setSession("epoch", -1), bad, "epoch" + range},
        {"epoch 2147483648", hello, setSession("epoch", 2147483648), bad, "epoch" + range},
        {"bad session beats bad request id", hello,
         both(setSession("id", "short"), set("requestId", "")), bad, "id is missing or malformed"},
        // Request id and type.
        {"request id missing", hello, erase("requestId"), bad, "requestId is missing or malformed"},
        {"request id empty", hello, set("requestId", ""), bad, "requestId is missing or malformed"},
        {"request id of 65", hello, set("requestId", text(std::string(65, 'r'))), bad,
         "requestId is missing or malformed"},
        {"request id with a blank", hello, set("requestId", "a b"), bad,
         "requestId is missing or malformed"},
        {"request id a number", hello, set("requestId", 7), bad,
         "requestId is missing or malformed"},
        {"type missing", hello, erase("type"), bad, "unknown request type"},
        {"type in lower case", hello, set("type", "hello"), bad, "unknown request type"},
        {"type a number", hello, set("type", 1), bad, "unknown request type"},
        {"type unknown", hello, set("type", "PUBLISH"), bad, "unknown request type"},
        // HELLO.
        {"extension version missing", hello, erase("extensionVersion"), bad,
         "extensionVersion is missing or malformed"},
        {"extension version 1", hello, set("extensionVersion", "1"), bad,
         "extensionVersion is missing or malformed"},
        {"extension version 17 units", hello,
         set("extensionVersion", text("1.2.3" + std::string(12, ' '))), bad,
         "extensionVersion is missing or malformed"},
        // PREPARE, in field order.
        {"clip id missing", prepare, erase("clipId"), bad, "clipId is missing or malformed"},
        {"clip id of 65", prepare, set("clipId", text(std::string(65, 'c'))), bad,
         "clipId is missing or malformed"},
        {"clip id before generation", prepare, both(set("clipId", ""), set("generation", 0)), bad,
         "clipId is missing or malformed"},
        {"generation true", prepare, set("generation", true), bad, "generation" + number},
        {"generation 1.5", prepare, set("generation", 1.5), bad, "generation" + whole},
        {"generation 2^53", prepare, set("generation", std::int64_t{9007199254740992}), bad,
         "generation" + whole},
        {"generation 0", prepare, set("generation", 0), bad, "generation" + range},
        {"generation before sha256", prepare, both(set("generation", 0), set("sha256", "")), bad,
         "generation" + range},
        {"sha256 upper case", prepare, set("sha256", text(std::string(64, 'A'))), bad,
         "sha256 is missing or malformed"},
        {"sha256 of 63", prepare, set("sha256", text(std::string(63, 'a'))), bad,
         "sha256 is missing or malformed"},
        {"sha256 of 65", prepare, set("sha256", text(std::string(65, 'a'))), bad,
         "sha256 is missing or malformed"},
        {"sha256 with g", prepare, set("sha256", text(std::string(63, 'a') + "g")), bad,
         "sha256 is missing or malformed"},
        {"byte length missing", prepare, erase("byteLength"), bad, "byteLength" + number},
        {"byte length 4.5", prepare, set("byteLength", 4.5), bad, "byteLength" + whole},
        {"byte length 0", prepare, set("byteLength", 0), bad, "byteLength" + range},
        {"byte length over the clip limit, empty payload", prepare,
         both(set("byteLength", 16777217), set("midiBase64", "")), ErrorCode::tooLarge,
         "the clip is over the limit"},
        {"byte length over the clip limit, no payload at all", prepare,
         both(set("byteLength", 9007199254740991), erase("midiBase64")), ErrorCode::tooLarge,
         "the clip is over the limit"},
        {"byte length at the clip limit reaches the payload check", prepare,
         set("byteLength", 16777216), bad, "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload missing", prepare, erase("midiBase64"), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload a number", prepare, set("midiBase64", 5), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload one short", prepare, set("midiBase64", "AAECAw="), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload one long", prepare, set("midiBase64", "AAECAw==="), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload for byte length 1 of 3 units", prepare,
         both(set("byteLength", 1), set("midiBase64", "AA=")), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload with a blank", prepare, set("midiBase64", "AAEC Aw="), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload with inner padding", prepare, set("midiBase64", "AA=CAw=="), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload of the right UTF-16 length with a non-ASCII letter", prepare,
         set("midiBase64", "AAECAw=\xC3\xA9"), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"payload in URL-safe alphabet", prepare, set("midiBase64", "AA-_Aw=="), bad,
         "midiBase64 must be base64 of exactly byteLength bytes"},
        {"name missing", prepare, erase("suggestedName"), bad,
         "suggestedName is missing or malformed"},
        {"name a number", prepare, set("suggestedName", 3), bad,
         "suggestedName is missing or malformed"},
        {"name of 201 units", prepare, set("suggestedName", text(std::string(201, 'n'))), bad,
         "suggestedName is missing or malformed"},
        {"name of 101 non-BMP scalars is 202 units", prepare,
         set("suggestedName", text(repeat("\xF0\x9F\x8E\xB5", 101))), bad,
         "suggestedName is missing or malformed"},
        {"name empty", prepare, set("suggestedName", ""), bad, "suggestedName is empty"},
        {"name of ideographic spaces and tabs", prepare,
         set("suggestedName", "\xE3\x80\x80\t\xE3\x80\x80\t"), bad, "suggestedName is empty"},
        {"name of every JavaScript blank", prepare,
         set("suggestedName",
             "\t\n\v\f\r \xC2\xA0\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA8\xE2\x80\xA9"
             "\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80\xEF\xBB\xBF"),
         bad, "suggestedName is empty"},
        // ARM.
        {"prepared id upper case", arm, set("preparedId", text(std::string(32, 'F'))), bad,
         "preparedId is missing or malformed"},
        {"prepared id of 31", arm, set("preparedId", text(std::string(31, 'f'))), bad,
         "preparedId is missing or malformed"},
        {"arm prepared id before clip id", arm, both(set("preparedId", 1), erase("clipId")), bad,
         "preparedId is missing or malformed"},
        {"arm clip id", arm, set("clipId", "clip 1"), bad, "clipId is missing or malformed"},
        {"arm generation", arm, set("generation", "2"), bad, "generation" + number},
        {"arm generation beyond", arm, set("generation", 1e300), bad, "generation" + whole},
        {"arm sha256 upper case", arm, set("sha256", text(std::string(64, 'B'))), bad,
         "sha256 is missing or malformed"},
        // CANCEL, RELEASE.
        {"token of 21", cancel, set("token", text(std::string(21, 't'))), bad,
         "token is missing or malformed"},
        {"token of 44", cancel, set("token", text(std::string(44, 't'))), bad,
         "token is missing or malformed"},
        {"token with a plus", cancel, set("token", text(std::string(21, 't') + "+")), bad,
         "token is missing or malformed"},
        {"token missing", cancel, erase("token"), bad, "token is missing or malformed"},
        {"release prepared id missing", release, erase("preparedId"), bad,
         "preparedId is missing or malformed"},
        {"release prepared id of 33", release, set("preparedId", text(std::string(33, '0'))), bad,
         "preparedId is missing or malformed"},
    };
}

TEST(RequestParser, EveryFailureHasItsCodeAndDetail) {
    for (const FailureCase& test : failureCases()) {
        SCOPED_TRACE(test.name);
        object request = test.base();
        test.edit(request);
        try {
            testing::parseRequest(boost::json::serialize(request));
            ADD_FAILURE() << "parsed";
        } catch (const ProtocolFailure& failure) {
            EXPECT_EQ(ErrorCodes::wireText(failure.code), ErrorCodes::wireText(test.code));
            EXPECT_EQ(failure.detail, test.detail);
            EXPECT_STREQ(failure.what(), test.detail.c_str());
        }
    }
}

TEST(RequestParser, TheReaderIsStrictButReadsScalars) {
    for (const char* text : {"", "{", "{\"a\":1,}", "[1,]", "/*c*/{}", "{} // c", "'x'", "\"\xFF\"",
                             "\"\xC0\xAF\"", "\"\xED\xA0\x80\"", "NaN", "{} {}", "{\"a\":01}"}) {
        SCOPED_TRACE(text);
        try {
            testing::parseRequest(text);
            ADD_FAILURE() << "read";
        } catch (const ProtocolFailure& failure) {
            EXPECT_EQ(failure, ProtocolFailure(ErrorCode::badRequest, "not JSON"));
        }
    }
    for (const char* text : {"\"HELLO\"", "42", "null", "[]", "true"}) {
        SCOPED_TRACE(text);
        try {
            testing::parseRequest(text);
            ADD_FAILURE() << "parsed";
        } catch (const ProtocolFailure& failure) {
            EXPECT_EQ(failure,
                      ProtocolFailure(ErrorCode::badRequest, "the request must be an object"));
        }
    }
}

struct SuccessCase {
    const char* name;
    std::function<object()> base;
    Edit edit;
    std::function<void(const HostRequest&)> check;
};

TEST(RequestParser, AcceptedRequests) {
    const std::vector<SuccessCase> cases = {
        {"hello", hello, [](object&) {},
         [](const HostRequest& request) {
             EXPECT_EQ(
                 request,
                 (HostRequest{"req-1", "1.0", {"session_ABCDEF-0123", 3}, HelloRequest{"0.4.2"}}));
         }},
        {"version 01.5 kept as sent", hello, set("protocolVersion", "01.5"),
         [](const HostRequest& request) { EXPECT_EQ(request.protocolVersion, "01.5"); }},
        {"version 1.2.3", hello, set("protocolVersion", "1.2.3"),
         [](const HostRequest& request) { EXPECT_EQ(request.protocolVersion, "1.2.3"); }},
        {"version 001.999", hello, set("protocolVersion", "001.999"),
         [](const HostRequest& request) { EXPECT_EQ(request.protocolVersion, "001.999"); }},
        {"extension version of another major", hello, set("extensionVersion", "7.0.0"),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<HelloRequest>(request.body).extensionVersion, "7.0.0");
         }},
        {"id of 16 and epoch 2147483647", hello,
         both(setSession("id", text(std::string(16, 'a'))), setSession("epoch", 2147483647)),
         [](const HostRequest& request) {
             EXPECT_EQ(request.session, (SessionID{std::string(16, 'a'), 2147483647}));
         }},
        {"id of 64 and epoch 1e3", hello,
         both(setSession("id", text(std::string(64, 'Z'))), setSession("epoch", 1e3)),
         [](const HostRequest& request) {
             EXPECT_EQ(request.session, (SessionID{std::string(64, 'Z'), 1000}));
         }},
        {"request id of 64 and unknown keys", hello,
         both(set("requestId", text(std::string(64, '_'))), set("extra", object{{"x", 1}})),
         [](const HostRequest& request) { EXPECT_EQ(request.requestId, std::string(64, '_')); }},
        {"prepare", prepare, [](object&) {},
         [](const HostRequest& request) {
             EXPECT_EQ(request.body,
                       RequestBody(PrepareRequest{"clip_1", 2, 4, sha,
                                                  testing::readPayload("AAECAw=="), "Bass line"}));
         }},
        {"generation 2^53-1 as 5.0e0 style", prepare,
         both(set("generation", 9007199254740991), set("byteLength", 4.0)),
         [](const HostRequest& request) {
             const auto& prepare = std::get<PrepareRequest>(request.body);
             EXPECT_EQ(prepare.generation, 9007199254740991);
             EXPECT_EQ(prepare.byteLength, 4);
         }},
        {"byte length 1 with one padding character passes the parser", prepare,
         both(set("byteLength", 1), set("midiBase64", "AAA=")),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<PrepareRequest>(request.body).midiBase64,
                       testing::readPayload("AAA="));
         }},
        {"name with blanks kept untrimmed", prepare, set("suggestedName", " \xE3\x80\x80x\t "),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<PrepareRequest>(request.body).suggestedName, " \xE3\x80\x80x\t ");
         }},
        {"name of 200 units", prepare, set("suggestedName", text(std::string(200, 'n'))),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<PrepareRequest>(request.body).suggestedName.size(), 200u);
         }},
        {"name of 100 non-BMP scalars", prepare,
         set("suggestedName", text(repeat("\xF0\x9F\x8E\xB5", 100))),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<PrepareRequest>(request.body).suggestedName.size(), 400u);
         }},
        {"name of 200 two-byte letters", prepare,
         set("suggestedName", text(repeat("\xC3\xA9", 200))),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<PrepareRequest>(request.body).suggestedName.size(), 400u);
         }},
        {"name with a zero-width space is not empty", prepare, set("suggestedName", "\xE2\x80\x8B"),
         [](const HostRequest& request) {
             EXPECT_EQ(std::get<PrepareRequest>(request.body).suggestedName, "\xE2\x80\x8B");
         }},
        {"arm", arm, [](object&) {},
         [](const HostRequest& request) {
             EXPECT_EQ(request.body, RequestBody(ArmRequest{preparedId, "clip_1", 2, sha}));
         }},
        {"token of 22", cancel, [](object&) {},
         [](const HostRequest& request) {
             EXPECT_EQ(request.body, RequestBody(CancelRequest{std::string(22, 't')}));
         }},
        {"token of 43", cancel, set("token", text(std::string(43, '-'))),
         [](const HostRequest& request) {
             EXPECT_EQ(request.body, RequestBody(CancelRequest{std::string(43, '-')}));
         }},
        {"release", release, [](object&) {},
         [](const HostRequest& request) {
             EXPECT_EQ(request.body, RequestBody(ReleaseRequest{preparedId}));
         }},
        {"status with nothing else", [] { return envelope("STATUS"); }, [](object&) {},
         [](const HostRequest& request) { EXPECT_EQ(request.body.index(), 5u); }},
    };
    for (const SuccessCase& test : cases) {
        SCOPED_TRACE(test.name);
        object request = test.base();
        test.edit(request);
        try {
            test.check(testing::parseRequest(boost::json::serialize(request)));
        } catch (const ProtocolFailure& failure) {
            ADD_FAILURE() << failure.detail;
        }
    }
}

TEST(RequestParser, SalvageKeepsWhatCanBeRead) {
    const SessionID session{"session_ABCDEF-0123", 3};
    struct Case {
        const char* name;
        std::optional<value> input;
        RequestParser::Salvage expected;
    };
    object badSession = hello();
    badSession["session"].as_object()["epoch"] = 0;
    object badId = hello();
    badId["requestId"] = std::string(65, 'r');
    object bothBad = badSession;
    bothBad["requestId"] = 3;
    object failsLater = prepare();
    failsLater["protocolVersion"] = "9.0";
    const std::vector<Case> cases = {
        {"nothing", std::nullopt, {}},
        {"a string", value("req-1"), {}},
        {"an array", value(boost::json::array{hello()}), {}},
        {"good request", value(hello()), {"req-1", session}},
        {"bad session keeps the id", value(badSession), {"req-1", std::nullopt}},
        {"bad id keeps the session", value(badId), {std::nullopt, session}},
        {"both bad", value(bothBad), {}},
        {"another version still correlates", value(failsLater), {"req-1", session}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(RequestParser::salvage(test.input ? &*test.input : nullptr), test.expected);
    }
}

TEST(RequestParser, CharacterRules) {
    for (const char* text : {"1.0", "01.5", "1.2.3", "999.999.999", "0.0"}) {
        EXPECT_TRUE(RequestParser::isVersion(text)) << text;
    }
    for (const char* text : {"", "1", ".", "1.", ".1", "1..2", "1.2.3.4", "1000.0", "1.0a", "1,0",
                             " 1.0", "\xD9\xA1.0"}) {
        EXPECT_FALSE(RequestParser::isVersion(text)) << text;
    }
    EXPECT_TRUE(RequestParser::isIdentifier("aZ09_-", 1, 6));
    EXPECT_FALSE(RequestParser::isIdentifier("aZ09_-", 1, 5));
    EXPECT_FALSE(RequestParser::isIdentifier("aZ09_-", 7, 9));
    EXPECT_FALSE(RequestParser::isIdentifier("a.b", 1, 5));
    EXPECT_FALSE(RequestParser::isIdentifier("\xC3\xA9", 1, 5));
    EXPECT_TRUE(RequestParser::isLowerHex("0123456789abcdef", 16));
    EXPECT_FALSE(RequestParser::isLowerHex("0123456789abcdeF", 16));
    EXPECT_FALSE(RequestParser::isLowerHex("0123456789abcdef", 15));
}

TEST(RequestParser, TrimsExactlyTheJavaScriptBlanks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {" a b ", "a b"},
        {"\xEF\xBB\xBF"
         "a\xE3\x80\x80",
         "a"},
        {"\xE2\x80\x8B"
         "a",
         "\xE2\x80\x8B"
         "a"},  // U+200B is not a blank
        {"\xC2\x85"
         "a",
         "\xC2\x85"
         "a"},  // nor U+0085
        {"\xE1\xA0\x8E"
         "a",
         "\xE1\xA0\x8E"
         "a"},                               // nor U+180E
        {"a\xE2\x80\x89\xE2\x80\x80", "a"},  // U+2009, U+2000
        {"\xF0\x9F\x8E\xB5 ", "\xF0\x9F\x8E\xB5"},
        {"\xFF ", "\xFF"},
        {" \x80", "\x80"},
        {"\xC0\x89"
         "a\xC0\xA0",
         "\xC0\x89"
         "a\xC0\xA0"},  // overlong tab and blank
        {"\xF8\x80\x80\x89"
         "a",
         "\xF8\x80\x80\x89"
         "a"},
        {"\xE0\x80\xA0"
         "a",
         "\xE0\x80\xA0"
         "a"},
    };
    for (const auto& [text, trimmed] : cases) {
        EXPECT_EQ(RequestParser::trimmedJavaScriptStyle(text), trimmed) << text;
    }
}

TEST(RequestParser, CountsUtf16Units) {
    EXPECT_EQ(RequestParser::utf16Length(""), 0u);
    EXPECT_EQ(RequestParser::utf16Length("abc"), 3u);
    EXPECT_EQ(RequestParser::utf16Length("\xC3\xA9\xE3\x80\x80"), 2u);
    EXPECT_EQ(RequestParser::utf16Length("\xF0\x9F\x8E\xB5"
                                         "a"),
              3u);
}

}  // namespace
}  // namespace quenra
