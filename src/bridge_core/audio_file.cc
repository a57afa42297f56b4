#include "bridge_core/audio_file.h"

#include <algorithm>
#include <cstring>

namespace quenra {
namespace {

struct FormatNames {
    AudioFormat format;
    std::string_view wire;
    std::string_view extension;
};

constexpr FormatNames formatNames[] = {
    {AudioFormat::wav, "wav", ".wav"},
    {AudioFormat::aiff, "aiff", ".aif"},
    {AudioFormat::flac, "flac", ".flac"},
    {AudioFormat::mp3, "mp3", ".mp3"},
};

const FormatNames& namesOf(AudioFormat format) {
    return formatNames[static_cast<std::size_t>(format)];
}

}  // namespace

AudioFileCheck::AudioFileCheck(AudioFormat format, std::uint64_t byteLength)
    : walker_(std::in_place_type<AudioWalk::Wav>, byteLength), byteLength_(byteLength) {
    switch (format) {
        case AudioFormat::wav:
            break;
        case AudioFormat::aiff:
            walker_.emplace<AudioWalk::Aiff>(byteLength);
            break;
        case AudioFormat::flac:
            walker_.emplace<AudioWalk::Flac>(byteLength);
            break;
        case AudioFormat::mp3:
            walker_.emplace<AudioWalk::Mpeg>(byteLength);
            break;
    }
    take(std::visit([](auto& walker) { return walker.begin(); }, walker_));
}

void AudioFileCheck::take(AudioWalk::Step step) {
    step_ = step;
    held_ = 0;
    if (!step.broken.empty()) {
        brokenRule_ = step.broken;
    }
}

void AudioFileCheck::feed(ByteView bytes) {
    fed_ += bytes.size();
    if (fed_ > byteLength_ || !brokenRule_.empty()) {
        return;
    }
    while (!bytes.empty() && brokenRule_.empty()) {
        bytes = bytes.subspan(feedPiece(bytes));
    }
}

// Serves the step in hand from the front of bytes; returns how many it used.
std::size_t AudioFileCheck::feedPiece(ByteView bytes) {
    if (step_.skip > 0) {
        const std::size_t passed =
            static_cast<std::size_t>(std::min<std::uint64_t>(step_.skip, bytes.size()));
        step_.skip -= passed;
        return passed;
    }
    if (step_.scan) {
        take(std::visit([&](auto& walker) { return walker.scan(bytes); }, walker_));
        return bytes.size();
    }
    if (held_ == 0 && bytes.size() >= step_.read) {
        // The whole piece is here: no copy.
        const ByteView piece = bytes.first(step_.read);
        take(std::visit([&](auto& walker) { return walker.next(piece); }, walker_));
        return piece.size();
    }
    const std::size_t copied = std::min<std::size_t>(step_.read - held_, bytes.size());
    std::memcpy(piece_.data() + held_, bytes.data(), copied);
    held_ += copied;
    if (held_ == step_.read) {
        const ByteView piece(piece_.data(), held_);
        take(std::visit([&](auto& walker) { return walker.next(piece); }, walker_));
    }
    return copied;
}

AudioVerdict AudioFileCheck::finish() {
    // A length other than the announced one is named as such, whatever else the walk found.
    if (fed_ > byteLength_) {
        return {"file-longer-than-announced"};
    }
    if (fed_ < byteLength_) {
        return {"file-shorter-than-announced"};
    }
    if (!brokenRule_.empty()) {
        return {brokenRule_};
    }
    // Every step lies within the announced length, so with all of it fed the walk stands at the
    // end of the file, or scans to it.
    return {std::visit([](auto& walker) { return walker.finish(); }, walker_)};
}

std::optional<AudioFormat> AudioFile::formatNamed(std::string_view name) {
    for (const FormatNames& names : formatNames) {
        if (names.wire == name) {
            return names.format;
        }
    }
    return std::nullopt;
}

std::string_view AudioFile::wireName(AudioFormat format) {
    return namesOf(format).wire;
}

std::string_view AudioFile::extension(AudioFormat format) {
    return namesOf(format).extension;
}

AudioVerdict AudioFile::check(AudioFormat format, ByteView bytes) {
    AudioFileCheck check(format, bytes.size());
    check.feed(bytes);
    return check.finish();
}

}  // namespace quenra
