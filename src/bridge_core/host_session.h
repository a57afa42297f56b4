// The protocol brain of one native-host connection: binds to one browser session, drops stale,
// early and repeated requests, rate-limits and stores clips, keeps the table of prepared clips,
// arms drags and runs the takeover poll. It never touches the connection: each call returns
// the encoded JSON of the messages to send, and framing and writing are the runtime's job.
// Confined to the thread that made it (the main thread), which every public method checks.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "bridge_core/audio_file.h"
#include "bridge_core/cache.h"
#include "bridge_core/framing.h"
#include "bridge_core/outgoing.h"
#include "bridge_core/request_parser.h"
#include "bridge_core/request_reader.h"
#include "bridge_core/served_session.h"
#include "bridge_core/session_environment.h"
#include "bridge_core/takeover.h"
#include "bridge_core/thread_checker.h"
#include "platform/sha256.h"

namespace quenra {

// One clip prepared by this connection: a row of the session's table. While it lives, its
// entry's owner lock is held.
struct Preparation {
    std::string clipId;
    std::int64_t generation = 0;
    std::string sha256;
    std::shared_ptr<OwnedEntry> entry;
};

// An audio clip this connection is uploading: what its UPLOAD announced, and its bytes so far,
// written to the cache's staging, hashed and checked as they come.
struct OpenUpload {
    std::string clipId;
    std::int64_t generation = 0;
    std::string sha256;
    std::string suggestedName;
    AudioFormat format = AudioFormat::wav;
    Upload file;
    Sha256::Incremental digest;
    AudioFileCheck check;
};

class HostSession final : public ServedSession {
  public:
    using Environment = SessionEnvironment;

    explicit HostSession(Environment environment);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Memory that runs out while a request is handled makes its reply an INTERNAL error with
    // its id and session; memory that runs out for that reply too is thrown.
    std::vector<std::string> receive(ReadRequest request) override;
    // TOO_LARGE or BAD_REQUEST, with the request id "unparsed"; nothing for a corrupt length.
    std::vector<std::string> receive(const FrameDecoder::Item& item) override;
    // The records an ARM staged are made durable, all in one flush: no event, or DRAG_FAILED
    // when they cannot be.
    std::vector<std::string> settle() override;
    bool isUnsettled() const override;
    // No event, or the armed drag's one PUBLISHED, DRAG_FAILED or EXPIRED.
    std::vector<std::string> tick() override;
    bool isWatching() const override {
        thread_.check();
        return armed_ != nullptr;
    }
    void sweep() override;
    // Prepared entries are deleted; armed and published ones stay on disk for their retention.
    void shutdown() override;

    // Read-only views for diagnostics and tests.
    const std::optional<SessionID>& bound() const {
        thread_.check();
        return bound_;
    }
    const std::map<std::string, Preparation>& preparations() const {
        thread_.check();
        return preparations_;
    }
    const std::map<std::string, OpenUpload>& uploads() const {
        thread_.check();
        return uploads_;
    }
    const ArmedDrag* armed() const {
        thread_.check();
        return armed_.get();
    }

  private:
    std::string handle(HostRequest& request);
    std::string failure(ErrorCode code, const std::optional<std::string>& requestId,
                        const std::optional<SessionID>& session = std::nullopt);
    std::string reply(std::string_view type, const std::string& requestId, Outgoing::Message body);
    std::string event(std::string_view type, Outgoing::Message body);
    const SessionID& envelopeSession() const;
    bool remember(const std::string& requestId);

    std::string hello(const std::string& requestId);
    std::string status(const std::string& requestId);
    std::string prepare(PrepareRequest& request, const std::string& requestId);
    // Counts the upload in the rate window; false when the window is already full.
    bool admitPrepare(std::int64_t bytes);
    // Forgets the clip's lower generations, ending a drag armed on one of them.
    void supersedeOlderGenerations(const std::string& clipId, std::int64_t generation);
    // The audio half, in host_session_upload.cc.
    std::string upload(const UploadRequest& request, const std::string& requestId);
    std::string uploadChunk(UploadChunkRequest& request, const std::string& requestId);
    std::string uploading(const std::string& requestId, const std::string& uploadId,
                          const OpenUpload& open);
    // The upload's last chunk arrived: its PREPARED, or the refusal that ends it.
    std::string completeUpload(std::map<std::string, OpenUpload>::iterator found,
                               const std::string& requestId);
    // Makes a checked clip's new entry this connection's preparation, superseding lower
    // generations of the clip: its PREPARED.
    std::string prepared(Preparation preparation, const std::string& requestId);
    // The answer to a create or upload the cache refused: CACHE_FULL, else INTERNAL.
    std::string cacheFailure(const CacheFailure& failed, const std::string& requestId);
    std::string cancel(const std::string& token, const std::string& requestId);
    std::string release(const std::string& preparedId, const std::string& requestId);
    void forget(Preparation& preparation);

    // The drag half, in host_session_drag.cc.
    // One clip (isList false) or a "clips" list; the replies take the request's form.
    std::string arm(std::span<const ArmRequest> requested, bool isList,
                    const std::string& requestId, const SessionID& session);
    // The clip of each request in order, or the refusal of the first that names no
    // preparation (unknownPrepared) or another generation or content (stale).
    std::optional<ErrorCode> findClips(std::span<const ArmRequest> requested,
                                       std::vector<ArmedClip>& clips) const;
    // Makes each audio clip's file ready in the library (the one an earlier drag of it
    // published, when that is still there); false, with nothing new left behind, when one
    // cannot be made.
    bool placeLibraryFiles(std::vector<ArmedClip>& clips);
    // Removes the library files a drag made, which ends unpublished.
    static void removeNewLibraryFiles(const std::vector<ArmedClip>& clips);
    // Stages every clip's armed record, noting each one's state before; false when one cannot
    // be written (the batch then takes back what it holds).
    bool stageArmed(std::vector<ArmedClip>& clips, RecordBatch& records);
    // The armed drag is of exactly these prepared clips, in this order.
    bool isArmedWith(const std::vector<ArmedClip>& clips) const;
    std::string armedReply(const std::string& requestId, const ArmedDrag& drag);
    // Records every clip of a claimed drag as published; its PUBLISHED event.
    std::string published(std::unique_ptr<ArmedDrag> drag);
    // Ends a drag whose files were not claimed: its DRAG_FAILED event.
    std::vector<std::string> dragFailed(std::unique_ptr<ArmedDrag> drag, ErrorCode code);
    // Takes the armed drag out and gives its lease up; every record stays as it is (a drag
    // that was published or failed).
    std::unique_ptr<ArmedDrag> finishArm();
    // Takes the armed drag out, and each record that was prepared before arming goes back to
    // prepared (a drag that ends unpublished); the lease, still held, is the caller's.
    ArmLease disarm();
    // disarm, giving the lease up.
    void endArm();
    bool isArmedOn(const Preparation& preparation) const;
    // A record a drag's end rewrites.
    struct RecordChange {
        OwnedEntry* entry;
        EntryState state;
        std::optional<double> retainUntil;
    };
    // Rewrites the records in one batch; each record that does not reach the disk is logged
    // with note and left as it was.
    void rewriteRecords(std::span<const RecordChange> changes, std::string_view note);
    // Runs a Cache step, false when it threw a FileFailure or CacheFailure.
    template <typename Step>
    static bool attempt(Step step);

    struct PrepareAttempt {
        double time = 0;
        std::int64_t bytes = 0;
    };

    Environment environment_;
    std::optional<SessionID> bound_;
    std::map<std::string, Preparation> preparations_;
    std::map<std::string, OpenUpload> uploads_;
    AudioLibrary library_;
    // The library file a drag of the prepared audio clip published: a later drag of the same
    // clip offers it again rather than a copy of it.
    std::map<std::string, LibraryFile> publishedLibraryFiles_;
    std::unique_ptr<ArmedDrag> armed_;
    std::deque<std::string> recentRequestIds_;
    std::unordered_set<std::string> rememberedRequestIds_;
    std::deque<PrepareAttempt> recentPrepares_;
    ThreadChecker thread_{
        "HostSession"};  // the thread that made the session: the only one that may use it
};

}  // namespace quenra
