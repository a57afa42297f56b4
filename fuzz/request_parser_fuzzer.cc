// Parsing, salvaging and decoding arbitrary bytes must only ever succeed or throw
// ProtocolFailure; an error reply built from what salvage finds must always encode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge_core/limits.h"
#include "bridge_core/midi_file.h"
#include "bridge_core/midi_payload.h"
#include "bridge_core/outgoing.h"
#include "bridge_core/request_parser.h"

using namespace quenra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<boost::json::value> parsed;
    try {
        parsed = RequestParser::json(text);
    } catch (const ProtocolFailure& failure) {
        if (failure.code != ErrorCode::badRequest) {
            std::abort();
        }
    }
    if (parsed) {
        try {
            const HostRequest request = RequestParser::parse(*parsed);
            if (const auto* prepare = std::get_if<PrepareRequest>(&request.body)) {
                const auto bytes = MIDIPayload::decode(*prepare);
                if (static_cast<std::int64_t>(bytes.size()) != prepare->byteLength) {
                    std::abort();
                }
            }
        } catch (const ProtocolFailure&) {
            const auto salvaged = RequestParser::salvage(&*parsed);
            const auto reply = Outgoing::error(
                ErrorCode::badRequest, salvaged.session.value_or(Outgoing::unboundSession),
                salvaged.requestId.value_or(std::string(Outgoing::unparsedRequestId)));
            if (Outgoing::encode(reply, Limits::standard().maxResponseFrameBytes).size() >
                static_cast<std::size_t>(Limits::standard().maxResponseFrameBytes)) {
                std::abort();
            }
        }
    }
    // The character rules and the MIDI check see the raw bytes too.
    RequestParser::trimmedJavaScriptStyle(text);
    RequestParser::isBase64(text);
    RequestParser::isVersion(text);
    MIDIFile::isValid(std::span(data, size), Limits::standard().maxMidiBytes);
    return 0;
}
