// The structural check of an audio clip in one of the four formats a clip may have. It walks the
// headers, chunk lists and frame headers as the bytes arrive, keeping a few dozen bytes of
// state, and never decodes a sample; every length it reads is bounded by the bytes that remain
// of the announced length.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "bridge_core/audio_file_walkers.h"
#include "bridge_core/bytes.h"

namespace quenra {

enum class AudioFormat { wav, aiff, flac, mp3 };

// A refused file names the rule it broke in a short stable tag ("wav-chunk-past-end"), which the
// host's log line carries; an accepted one has none.
struct AudioVerdict {
    std::string_view brokenRule;

    bool accepted() const { return brokenRule.empty(); }
};

// Checks a file of byteLength bytes fed in pieces of any size, in order. Feeding never
// allocates; once a rule is broken the rest is ignored. The verdict does not depend on how the
// bytes were split.
class AudioFileCheck {
  public:
    AudioFileCheck(AudioFormat format, std::uint64_t byteLength);

    void feed(ByteView bytes);
    // The verdict on the bytes fed; more or fewer than byteLength in all break
    // "file-longer-than-announced" or "file-shorter-than-announced", whatever they hold.
    AudioVerdict finish();

  private:
    using Walker = std::variant<AudioWalk::Wav, AudioWalk::Aiff, AudioWalk::Flac, AudioWalk::Mpeg>;

    void take(AudioWalk::Step step);
    std::size_t feedPiece(ByteView bytes);

    Walker walker_;
    std::uint64_t byteLength_;
    std::uint64_t fed_ = 0;
    std::string_view brokenRule_;
    AudioWalk::Step step_;
    std::size_t held_ = 0;
    std::array<std::uint8_t, AudioWalk::maxRead> piece_{};
};

namespace AudioFile {

// The format of its wire name ("wav", "aiff", "flac", "mp3", exactly), or none.
std::optional<AudioFormat> formatNamed(std::string_view name);
std::string_view wireName(AudioFormat format);
// The file name extension a clip of the format gets: ".wav", ".aif", ".flac", ".mp3".
std::string_view extension(AudioFormat format);

// The verdict on a whole file at once.
AudioVerdict check(AudioFormat format, ByteView bytes);

}  // namespace AudioFile

}  // namespace quenra
