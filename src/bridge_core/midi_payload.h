// Checking the MIDI bytes that a PREPARE carries: strict base64, the announced length, the
// announced SHA-256, and the Standard MIDI File structure, in that order. The decoding and
// hashing happen as the payload is read (Base64Payload); these are the verdicts.
#pragma once

#include "bridge_core/request_parser.h"

namespace quenra::MIDIPayload {

// Throws the ProtocolFailure of the first check the payload fails; the clip is then
// request.midiBase64.bytes().
void check(const PrepareRequest& request);

}  // namespace quenra::MIDIPayload
