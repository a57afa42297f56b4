#include "bridge_core/request_reader.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <string>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "support/allocation_faults.h"
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

std::string repeated(std::string_view unit, std::size_t count, std::string_view separator = "") {
    std::string text;
    for (std::size_t index = 0; index < count; ++index) {
        text += index > 0 ? separator : "";
        text += unit;
    }
    return text;
}

// A HELLO of 8 values and 94 bytes outside any payload (58 of keys, 35 of strings, the epoch's
// one digit), with room to add members before its end.
const std::string hello =
    R"({"protocolVersion":"1.0","session":{"id":"session_ABCDEF-0123",)"
    R"("epoch":3},"requestId":"req-1","type":"HELLO","extensionVersion":"1.0")";

TEST(RequestReader, RefusesAFrameThatHoldsTooMuchOutsideItsPayloadWithWhatWasRead) {
    const std::string tooLarge = "the request is too large outside the payload";
    const SessionID session{"session_ABCDEF-0123", 3};
    const RequestParser::Salvage both{"req-1", session};
    const std::string head = R"({"type":"HELLO",)";
    struct Case {
        const char* name;
        std::string text;
        std::string detail;  // of the failure; empty for a request
        RequestParser::Salvage salvaged;
    };
    const std::vector<Case> cases = {
        // 8 + 1 + 1015 values, and one more.
        {"1024 values", hello + R"(,"a":[)" + repeated("0", 1015, ",") + "]}", "", {}},
        {"1025 values", hello + R"(,"a":[)" + repeated("0", 1016, ",") + "]}", tooLarge, both},
        // 94 + 1 + 65441 bytes, and one more.
        {"65536 bytes", hello + R"(,"a":")" + std::string(65441, 'x') + R"("})", "", {}},
        {"65537 bytes", hello + R"(,"a":")" + std::string(65442, 'x') + R"("})", tooLarge, both},
        {"zeros", head + R"("a":[)" + repeated("0", 5000, ",") + "]}", tooLarge, {}},
        {"empty objects", head + R"("a":[)" + repeated("{}", 5000, ",") + "]}", tooLarge, {}},
        {"one key repeated", head + repeated(R"("a":0)", 5000, ",") + "}", tooLarge, {}},
        {"a long key", head + R"(")" + std::string(70000, 'k') + R"(":0})", tooLarge, {}},
        {"a long number", head + R"("a":)" + std::string(70000, '1') + "}", tooLarge, {}},
        {"many short strings",
         head + R"("a":[)" + repeated(R"("ab")", 5000, ",") + "]}",
         tooLarge,
         {}},
        {"escapes that unfold",
         head + R"("a":")" + repeated(R"(\ud83d\ude00)", 16400) + R"("})",
         tooLarge,
         {}},
        {"a nested payload",
         prepare + R"(,"x":{"midiBase64":")" + std::string(70000, 'A') + R"("}})", tooLarge, both},
        {"the id after the bulk is not read",
         R"({"session":{"id":"session_ABCDEF-0123","epoch":3},"a":[)" + repeated("0", 2000, ",") +
             R"(],"requestId":"req-1"})",
         tooLarge, RequestParser::Salvage{std::nullopt, session}},
        {"the last of two ids read wins",
         R"({"requestId":"req-0","requestId":"req-1","a":[)" + repeated("0", 2000, ",") + "]}",
         tooLarge, RequestParser::Salvage{"req-1", std::nullopt}},
        {"refused before the text turns bad", hello + R"(,"a":[)" + repeated("0", 2000, ",") + "!",
         tooLarge, both},
        {"bad before the count is passed",
         hello + R"(,"a":[!)" + repeated("0", 2000, ","),
         "not JSON",
         {}},
        {"in a top-level array", "[" + repeated("0", 2000, ",") + "]", tooLarge, {}},
        // A text is refused at the byte that passes the limit, not at its end: what follows,
        // its end included, is never read.
        {"a long string that turns bad past the limit",
         hello + R"(,"a":")" + std::string(65442, 'x') + "\x01" + R"("})", tooLarge, both},
        {"a long string that never ends", hello + R"(,"a":")" + std::string(70000, 'x'), tooLarge,
         both},
        {"a long string that turns bad within the limit",
         hello + R"(,"a":")" + std::string(100, 'x') + "\x01" + std::string(70000, 'x') + R"("})",
         "not JSON",
         {}},
        {"a long key that turns bad past the limit",
         head + R"(")" + std::string(70000, 'k') + "\x01" + R"(":0})",
         tooLarge,
         {}},
        {"escapes that unfold past the limit, then a bad one",
         head + R"("a":")" + repeated(R"(\ud83d\ude00)", 16400) + R"(\q"})",
         tooLarge,
         {}},
        {"blanks after values that fill the limit",
         hello + R"(,"a":")" + std::string(65441, 'x') + R"(")" + std::string(5000, ' ') + "}",
         "",
         {}},
        {"blanks that pass the limit in a string, which then turns bad",
         hello + R"(,"a":")" + std::string(65400, 'x') + std::string(5000, ' ') + "\x01" + R"("})",
         tooLarge, both},
        {"a space that passes the limit in a string just before a line end",
         hello + R"(,"a":")" + std::string(65441, 'x') + " \n\t" + R"("})", tooLarge, both},
        {"a long number that turns bad past the limit",
         head + R"("a":)" + std::string(70000, '1') + ".e}",
         tooLarge,
         {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        for (const std::size_t piece :
             {std::size_t{1}, std::size_t{7}, std::size_t{4096}, test.text.size() + 1}) {
            const ReadRequest read = readInPieces(test.text, piece);
            EXPECT_EQ(detailOf(read), test.detail) << "in pieces of " << piece;
            const auto* refused = std::get_if<RefusedRequest>(&read);
            if (refused != nullptr && test.detail == tooLarge) {
                EXPECT_EQ(refused->failure.code, ErrorCode::badRequest);
                EXPECT_EQ(refused->salvaged, test.salvaged) << "in pieces of " << piece;
            }
        }
    }
}

TEST(RequestReader, ReadsTheLargestRealRequestsAsTheWholeTextGivesThem) {
    // Sixteen clips of four members and a 200-character name each, in the longest spelling:
    // every character of the name outside the BMP, and escaped.
    const std::string name = repeated(R"(\ud83c\udfb9)", 100);
    std::string clips;
    for (int clip = 0; clip < 16; ++clip) {
        clips += std::string(clip > 0 ? "," : "") + R"({"preparedId":")" + std::string(32, 'a') +
                 R"(","clipId":")" + std::string(64, 'c') + R"(","generation":9007199254740991,)" +
                 R"("sha256":")" + std::string(64, 'f') + R"(","name":")" + name + R"("})";
    }
    const std::vector<std::string> texts = {
        R"({"protocolVersion":"1.0","session":{"id":")" + std::string(64, 's') +
            R"(","epoch":2147483647},"requestId":")" + std::string(64, 'r') +
            R"(","type":"ARM","clips":[)" + clips + "]}",
        prepare + R"(,"midiBase64":"AAEC","suggestedName":")" + name + R"("})",
    };
    for (const std::string& text : texts) {
        const ReadRequest whole = readWhole(text);
        EXPECT_NE(detailOf(whole), "not JSON");
        EXPECT_EQ(readInPieces(text, 5), whole);
    }
}

// Each top-level "midiBase64" replaces the one before it. Of 96 KiB of text each, every one
// passes the point from which room is made for the largest clip the frame could hold, three
// quarters of it; that room is made once, not once for each.
TEST(RequestReader, ManyPayloadsInOneFrameAreGivenRoomOnce) {
    std::string frame = R"({"type":"HELLO")";
    for (int payload = 0; payload < 12; ++payload) {
        frame += R"(,"midiBase64":")" + std::string(96 << 10, 'A') + "\"";
    }
    frame += "}";
    const std::uint64_t before = testing::AllocationFaults::allocatedBytes();
    const ReadRequest read = readInPieces(frame, 65536);
    const std::uint64_t allocated = testing::AllocationFaults::allocatedBytes() - before;
    EXPECT_EQ(std::get<RefusedRequest>(read).failure.code, ErrorCode::badRequest);
    ASSERT_GT(allocated, 0u) << "allocations are counted where operator new is replaced";
    EXPECT_LT(allocated, frame.size());
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
    EXPECT_EQ(ByteBuffer(payload.bytes().begin(), payload.bytes().end()), clip);
    EXPECT_EQ(Hashing::hex(payload.sha256()), Hashing::sha256Hex(clip));
    EXPECT_EQ(payload, testing::readPayload(Base64::encode(clip)));
}

}  // namespace
}  // namespace quenra
