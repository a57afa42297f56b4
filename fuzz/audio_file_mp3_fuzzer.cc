// The audio check on any bytes declared as mp3; the oracle is AudioFuzz::check.
#include "support/audio_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return quenra::AudioFuzz::check(quenra::AudioFormat::mp3, data, size);
}
