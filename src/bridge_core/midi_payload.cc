#include "bridge_core/midi_payload.h"

#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "bridge_core/midi_file.h"

namespace quenra {

void MIDIPayload::check(const PrepareRequest& request) {
    const Base64Payload& payload = request.midiBase64;
    if (!payload.decodes()) {
        throw ProtocolFailure(ErrorCode::badRequest, "midiBase64 isn't base64");
    }
    if (static_cast<std::int64_t>(payload.bytes().size()) != request.byteLength) {
        throw ProtocolFailure(ErrorCode::lengthMismatch, "decoded length differs");
    }
    if (Hashing::hex(payload.sha256()) != request.sha256) {
        throw ProtocolFailure(ErrorCode::hashMismatch, "hash differs");
    }
    if (!MIDIFile::isValid(payload.bytes(), Limits::standard().maxMidiBytes)) {
        throw ProtocolFailure(ErrorCode::notMIDI, "not a standard MIDI file");
    }
}

}  // namespace quenra
