// The audio half of the host session: an UPLOAD opens an audio clip, its UPLOAD_CHUNKs bring
// the bytes in order, and the chunk that completes it is answered as a PREPARE is, once the
// bytes have the announced SHA-256 and are a file of the announced format.
#include <array>
#include <utility>

#include "bridge_core/file_names.h"
#include "bridge_core/hashing.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "bridge_core/log.h"

namespace quenra {

namespace {

// The extension a clip of the format is named with, and the ones a suggested name may already
// end in (longest first), which it replaces.
struct AudioName {
    std::string_view appended;
    std::array<std::string_view, 3> recognised;
    std::size_t count;
};

AudioName audioName(AudioFormat format) {
    switch (format) {
        case AudioFormat::wav:
            return {".wav", {".wave", ".wav"}, 2};
        case AudioFormat::aiff:
            return {".aif", {".aiff", ".aifc", ".aif"}, 3};
        case AudioFormat::flac:
            return {".flac", {".flac"}, 1};
        case AudioFormat::mp3:
            return {".mp3", {".mp3"}, 1};
    }
    return {".wav", {".wav"}, 1};
}

}  // namespace

std::string HostSession::upload(const UploadRequest& request, const std::string& requestId) {
    const Limits& limits = environment_.limits;
    // Paced as a PREPARE is, counted as one request of no bytes: the bytes come in chunks.
    if (!admitPrepare(0)) {
        return failure(ErrorCode::rateLimited, requestId);
    }
    if (static_cast<std::int64_t>(uploads_.size()) >= limits.maxOpenUploads) {
        return failure(ErrorCode::rateLimited, requestId);
    }
    const std::optional<AudioFormat> format = AudioFile::formatNamed(request.format);
    if (!format) {
        return failure(ErrorCode::badRequest, requestId);
    }
    std::optional<Upload> file;
    try {
        file.emplace(environment_.cache.beginUpload(request.byteLength));
    } catch (const CacheFailure& failed) {
        return cacheFailure(failed, requestId);
    }
    // A newer generation of the clip ends the uploads of older ones, as a PREPARE would.
    std::erase_if(uploads_, [&](const auto& open) {
        return open.second.clipId == request.clipId && open.second.generation < request.generation;
    });
    const std::string uploadId = environment_.random.hex(16);
    const auto [placed, inserted] = uploads_.try_emplace(
        uploadId, OpenUpload{.clipId = request.clipId,
                             .generation = request.generation,
                             .sha256 = request.sha256,
                             .suggestedName = request.suggestedName,
                             .format = *format,
                             .file = std::move(*file),
                             .digest = {},
                             .check = AudioFileCheck(
                                 *format, static_cast<std::uint64_t>(request.byteLength))});
    if (!inserted) {
        Log::note("cache-write-failed");
        return failure(ErrorCode::internal, requestId);
    }
    Log::note("uploading");
    return uploading(requestId, uploadId, placed->second);
}

std::string HostSession::uploading(const std::string& requestId, const std::string& uploadId,
                                   const OpenUpload& open) {
    return reply(MessageType::uploading, requestId,
                 {
                     {"uploadId", uploadId},
                     {"clipId", open.clipId},
                     {"generation", open.generation},
                     {"received", open.file.received()},
                     {"chunkMaxBytes", environment_.limits.chunkMaxBytes},
                 });
}

std::string HostSession::uploadChunk(UploadChunkRequest& request, const std::string& requestId) {
    const auto found = uploads_.find(request.uploadId);
    if (found == uploads_.end()) {
        return failure(ErrorCode::unknownPrepared, requestId);
    }
    OpenUpload& open = found->second;
    // Each refusal leaves the upload as it was, so that the client can send the chunk again.
    if (request.offset != open.file.received()) {
        return failure(ErrorCode::badRequest, requestId);
    }
    const Base64Payload& data = request.dataBase64;
    if (!data.isBase64() || !data.decodes()) {
        return failure(ErrorCode::badRequest, requestId);
    }
    const ByteView bytes = data.bytes();
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (size == 0 || size > environment_.limits.chunkMaxBytes ||
        size > open.file.byteLength() - open.file.received()) {
        return failure(ErrorCode::lengthMismatch, requestId);
    }
    try {
        environment_.cache.append(open.file, bytes);
    } catch (const FileFailure&) {
        uploads_.erase(found);
        Log::note("cache-write-failed");
        return failure(ErrorCode::internal, requestId);
    }
    open.digest.update(bytes);
    open.check.feed(bytes);
    if (open.file.received() < open.file.byteLength()) {
        return uploading(requestId, request.uploadId, open);
    }
    return completeUpload(found, requestId);
}

std::string HostSession::completeUpload(std::map<std::string, OpenUpload>::iterator found,
                                        const std::string& requestId) {
    // Taken out first: whatever the answer, the upload is over.
    OpenUpload open = std::move(found->second);
    uploads_.erase(found);
    if (Hashing::hex(open.digest.final()) != open.sha256) {
        return failure(ErrorCode::hashMismatch, requestId);
    }
    const AudioVerdict verdict = open.check.finish();
    if (!verdict.accepted()) {
        std::array<char, 96> note{};
        const std::string_view prefix = "not-audio: ";
        const std::size_t ruleBytes =
            std::min(verdict.brokenRule.size(), note.size() - prefix.size());
        std::copy(prefix.begin(), prefix.end(), note.begin());
        std::copy_n(verdict.brokenRule.begin(), ruleBytes, note.begin() + prefix.size());
        Log::note(std::string_view(note.data(), prefix.size() + ruleBytes));
        return failure(ErrorCode::notAudio, requestId);
    }
    const AudioName name = audioName(open.format);
    const std::string fileName = FileNames::safeName(open.suggestedName, name.appended,
                                                     std::span(name.recognised.data(), name.count));
    try {
        return prepared(Preparation{open.clipId, open.generation, open.sha256,
                                    std::make_shared<OwnedEntry>(environment_.cache.store(
                                        std::move(open.file), fileName, open.sha256,
                                        std::string(AudioFile::wireName(open.format))))},
                        requestId);
    } catch (const CacheFailure& failed) {
        return cacheFailure(failed, requestId);
    }
}

}  // namespace quenra
