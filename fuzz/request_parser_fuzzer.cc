// Reading arbitrary bytes as a request frame must only ever give a request or a refusal; a
// PREPARE's payload checks only pass or throw ProtocolFailure; an error reply built from what
// salvage finds must always encode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge_core/limits.h"
#include "bridge_core/midi_file.h"
#include "bridge_core/midi_payload.h"
#include "bridge_core/outgoing.h"
#include "bridge_core/request_parser.h"
#include "support/read_request.h"

using namespace quenra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ReadRequest read = testing::readRequest(text);
    if (const auto* request = std::get_if<HostRequest>(&read)) {
        if (const auto* prepare = std::get_if<PrepareRequest>(&request->body)) {
            try {
                MIDIPayload::check(*prepare);
                if (static_cast<std::int64_t>(prepare->midiBase64.bytes().size()) !=
                    prepare->byteLength) {
                    std::abort();
                }
            } catch (const ProtocolFailure&) {
            }
        }
    } else {
        const auto& salvaged = std::get<RefusedRequest>(read).salvaged;
        const auto reply = Outgoing::error(
            ErrorCode::badRequest, salvaged.session.value_or(Outgoing::unboundSession),
            salvaged.requestId.value_or(std::string(Outgoing::unparsedRequestId)));
        if (Outgoing::encode(reply, Limits::standard().maxResponseFrameBytes).size() >
            static_cast<std::size_t>(Limits::standard().maxResponseFrameBytes)) {
            std::abort();
        }
    }
    // The character rules and the MIDI check see the raw bytes too.
    RequestParser::trimmedJavaScriptStyle(text);
    RequestParser::isVersion(text);
    MIDIFile::isValid(std::span(data, size), Limits::standard().maxMidiBytes);
    return 0;
}
