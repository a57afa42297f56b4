#include "bridge_core/request_reader.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <string>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "support/read_request.h"

namespace quenra {
namespace {

// What reading the whole text gives: Boost.JSON's DOM parser, then the checks over the value,
// with the top-level base64 text read whole.
ReadRequest readWhole(std::string_view text) {
    boost::system::error_code error;
    const boost::json::value value = boost::json::parse(text, error);
    if (error) {
        return RefusedRequest{ProtocolFailure(ErrorCode::badRequest, "not JSON"), {}};
    }
    std::optional<Base64Payload> payload;
    if (const auto* request = value.if_object()) {
        if (const auto* member = request->if_contains("midiBase64");
            member && member->is_string()) {
            payload = testing::readPayload(member->as_string());
        }
    }
    try {
        return RequestParser::parse(value, std::move(payload));
    } catch (const ProtocolFailure& failure) {
        return RefusedRequest{failure, RequestParser::salvage(value)};
    }
}

ReadRequest readInPieces(std::string_view text, std::size_t piece) {
    RequestReader reader(text.size());
    for (std::size_t offset = 0; offset < text.size(); offset += piece) {
        reader.append(text.substr(offset, piece));
    }
    return reader.finish();
}

std::string detailOf(const ReadRequest& read) {
    const auto* refused = std::get_if<RefusedRequest>(&read);
    return refused != nullptr ? refused->failure.detail : "";
}

// A PREPARE of the 3 bytes 00 01 02 ("AAEC"), with room to add members before its end.
const std::string sha = Hashing::sha256Hex(std::vector<std::uint8_t>{0, 1, 2});
const std::string prepare = R"({"protocolVersion":"1.0","session":{"id":"session_ABCDEF-0123",)"
                            R"("epoch":3},"requestId":"req-1","type":"PREPARE","clipId":"c",)"
                            R"("generation":1,"byteLength":3,"suggestedName":"n","sha256":")" +
                            sha + R"(")";

TEST(RequestReader, ReadsInAnyPiecesWhatTheWholeTextGives) {
    const std::string bad = "midiBase64 must be base64 of exactly byteLength bytes";
    struct Case {
        const char* name;
        std::string text;
        std::string detail;  // of the failure; empty for a request
    };
    const std::vector<Case> cases = {
        {"plain", prepare + R"(,"midiBase64":"AAEC"})", ""},
        {"escaped payload", prepare + R"(,"midiBase64":"\u0041A\u0045\u0043"})", ""},
        {"escaped key", prepare + R"(,"midi\u0042ase64":"AAEC"})", ""},
        {"escaped slashes in the payload", prepare + R"(,"byteLength":2,"midiBase64":"\/\/8="})",
         ""},
        {"an escaped letter for the last one", prepare + R"(,"midiBase64":"AAE\u0041"})", ""},
        {"non-ASCII payload", prepare + R"(,"midiBase64":"AAE\u00e9"})", bad},
        {"payload before the other members", R"({"midiBase64":"AAEC",)" + prepare.substr(1) + "}",
         ""},
        {"the last of two payloads wins", prepare + R"(,"midiBase64":"////","midiBase64":"AAEC"})",
         ""},
        {"a later number replaces the payload", prepare + R"(,"midiBase64":"AAEC","midiBase64":3})",
         bad},
        {"a later payload replaces a number", prepare + R"(,"midiBase64":3,"midiBase64":"AAEC"})",
         ""},
        {"a later session wins",
         prepare + R"(,"midiBase64":"AAEC","session":{"id":"x","epoch":1}})",
         "id is missing or malformed"},
        {"a nested payload is an ordinary value",
         prepare + R"(,"x":{"midiBase64":"!"},"y":[{"midiBase64":"AAEC"}]})", bad},
        {"a payload inside a top-level array", "[" + prepare + R"(,"midiBase64":"AAEC"}])",
         "the request must be an object"},
        {"32 levels",
         prepare + R"(,"midiBase64":"AAEC","x":)" + std::string(31, '[') + std::string(31, ']') +
             "}",
         ""},
        {"33 levels",
         prepare + R"(,"midiBase64":"AAEC","x":)" + std::string(32, '[') + std::string(32, ']') +
             "}",
         "not JSON"},
        {"invalid UTF-8 in the payload", prepare + ",\"midiBase64\":\"AAE\xC3\"}", "not JSON"},
        {"a lone surrogate in the payload", prepare + R"(,"midiBase64":"AAE\ud800"})", "not JSON"},
        {"trailing blanks", prepare + R"(,"midiBase64":"AAEC"} )" + "\n\t", ""},
        {"a second value", prepare + R"(,"midiBase64":"AAEC"} {})", "not JSON"},
        {"cut short", prepare + R"(,"midiBase64":"AAEC")", "not JSON"},
        {"a number alone", "1e3", "the request must be an object"},
        {"nothing", "", "not JSON"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const ReadRequest whole = readWhole(test.text);
        EXPECT_EQ(detailOf(whole), test.detail);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3},
                                        std::size_t{7}, test.text.size() + 1}) {
            EXPECT_EQ(readInPieces(test.text, piece), whole) << "in pieces of " << piece;
        }
    }
}

TEST(RequestReader, DecodesAndHashesALargeClipAsItArrives) {
    std::vector<std::uint8_t> clip(300000);
    for (std::size_t index = 0; index < clip.size(); ++index) {
        clip[index] = static_cast<std::uint8_t>(index * 31 + (index >> 9));
    }
    boost::json::object request = boost::json::parse(prepare + "}").as_object();
    request["byteLength"] = clip.size();
    request["sha256"] = Hashing::sha256Hex(clip);
    request["midiBase64"] = Base64::encode(clip);
    const std::string text = boost::json::serialize(request);
    // Cut as 64 KiB reads would cut it, inside base64 groups.
    const ReadRequest read = readInPieces(text, 65536);
    ASSERT_EQ(detailOf(read), "");
    const Base64Payload& payload =
        std::get<PrepareRequest>(std::get<HostRequest>(read).body).midiBase64;
    EXPECT_EQ(payload.bytes(), clip);
    EXPECT_EQ(Hashing::hex(payload.sha256()), Hashing::sha256Hex(clip));
    EXPECT_EQ(payload, testing::readPayload(Base64::encode(clip)));
}

}  // namespace
}  // namespace quenra
