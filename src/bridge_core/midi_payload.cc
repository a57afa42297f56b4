#include "bridge_core/midi_payload.h"

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "bridge_core/midi_file.h"

namespace quenra {

std::vector<std::uint8_t> MIDIPayload::decode(const PrepareRequest& request) {
    auto bytes = Base64::decode(request.midiBase64.view());
    if (!bytes) {
        throw ProtocolFailure(ErrorCode::badRequest, "midiBase64 isn't base64");
    }
    if (static_cast<std::int64_t>(bytes->size()) != request.byteLength) {
        throw ProtocolFailure(ErrorCode::lengthMismatch, "decoded length differs");
    }
    if (Hashing::sha256Hex(*bytes) != request.sha256) {
        throw ProtocolFailure(ErrorCode::hashMismatch, "hash differs");
    }
    if (!MIDIFile::isValid(*bytes, Limits::standard().maxMidiBytes)) {
        throw ProtocolFailure(ErrorCode::notMIDI, "not a standard MIDI file");
    }
    return std::move(*bytes);
}

}  // namespace quenra
