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

#include "bridge_core/cache.h"
#include "bridge_core/framing.h"
#include "bridge_core/outgoing.h"
#include "bridge_core/request_parser.h"
#include "bridge_core/request_reader.h"
#include "bridge_core/served_session.h"
#include "bridge_core/session_environment.h"
#include "bridge_core/takeover.h"
#include "bridge_core/thread_checker.h"

namespace quenra {

// One clip prepared by this connection: a row of the session's table. While it lives, its
// entry's owner lock is held.
struct Preparation {
    std::string clipId;
    std::int64_t generation = 0;
    std::string sha256;
    std::shared_ptr<OwnedEntry> entry;
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
    // Moves every clip's record to armed, noting each one's state and retention before; false
    // when one cannot be written. recorded counts the records moved, for unrecordArmed.
    bool recordArmed(std::vector<ArmedClip>& clips, std::size_t& recorded);
    // Puts each clip's record back to what it was before arming; a record that cannot be
    // rewritten is logged and left.
    void unrecordArmed(std::span<const ArmedClip> clips) noexcept;
    // The armed drag is of exactly these prepared clips, in this order.
    bool isArmedWith(const std::vector<ArmedClip>& clips) const;
    std::string armedReply(const std::string& requestId, const ArmedDrag& drag);
    // Records every clip of a claimed drag as published; its PUBLISHED event.
    std::string published(std::unique_ptr<ArmedDrag> drag);
    // Takes the armed drag out and gives its lease up; every record stays as it is (a drag
    // that was published or failed).
    std::unique_ptr<ArmedDrag> finishArm();
    // Takes the armed drag out, and each record that was prepared before arming goes back to
    // prepared (a drag that ends unpublished); the lease, still held, is the caller's.
    ArmLease disarm();
    // disarm, giving the lease up.
    void endArm();
    bool isArmedOn(const Preparation& preparation) const;
    // Cache::update, false when it threw; the record is then unchanged on disk and in memory.
    bool updateRecord(OwnedEntry& entry, EntryState state, std::optional<double> retainUntil);

    struct PrepareAttempt {
        double time = 0;
        std::int64_t bytes = 0;
    };

    Environment environment_;
    std::optional<SessionID> bound_;
    std::map<std::string, Preparation> preparations_;
    std::unique_ptr<ArmedDrag> armed_;
    std::deque<std::string> recentRequestIds_;
    std::unordered_set<std::string> rememberedRequestIds_;
    std::deque<PrepareAttempt> recentPrepares_;
    ThreadChecker thread_{
        "HostSession"};  // the thread that made the session: the only one that may use it
};

}  // namespace quenra
