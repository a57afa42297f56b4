// The protocol brain of one native-host connection: binds to one browser session, drops stale,
// early and repeated requests, rate-limits and stores clips, keeps the table of prepared clips,
// arms drags and runs the takeover poll. It never touches the connection: each call returns
// the encoded JSON of the messages to send, and framing and writing are the runtime's job.
// Confined to the main thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "bridge_core/arm_lease.h"
#include "bridge_core/cache.h"
#include "bridge_core/framing.h"
#include "bridge_core/outgoing.h"
#include "bridge_core/request_parser.h"
#include "bridge_core/request_reader.h"
#include "bridge_core/session_environment.h"
#include "bridge_core/takeover.h"

namespace quenra {

class HostSession {
  public:
    using Environment = SessionEnvironment;
    using Preparation = quenra::Preparation;
    // The UTF-8 JSON of one outgoing message, not yet framed.
    using Payload = std::string;

    explicit HostSession(Environment environment);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // The replies to one decoded item: one for every item but a corrupt one. A frame's body
    // is read as RequestReader reads it while a frame arrives.
    std::vector<Payload> receive(const FrameDecoder::Item& item);
    // The same replies; the body is the session's, and its memory is given back once it is
    // read.
    std::vector<Payload> receive(FrameDecoder::Item&& item);
    // The one reply to a frame that was read as it arrived. Memory that runs out while it is
    // handled makes that reply an INTERNAL error for the request (its id and session when it
    // was read); memory that runs out for that reply too is thrown.
    std::vector<Payload> receive(ReadRequest request);
    // One poll of the armed drag: no event, or its one PUBLISHED, DRAG_FAILED or EXPIRED.
    std::vector<Payload> tick();
    // Ends an armed drag and gives up every entry this connection holds: prepared ones are
    // deleted, armed and published ones stay on disk for their retention.
    void shutdown();
    SweepReport sweep();
    // True exactly while a drag is armed; the runtime polls with tick() while it is.
    bool isWatching() const { return armed_ != nullptr; }

    // Read-only views for diagnostics and tests.
    const std::optional<SessionID>& bound() const { return bound_; }
    const std::map<std::string, Preparation>& preparations() const { return preparations_; }
    const ArmedDrag* armed() const { return armed_.get(); }

  private:
    // ownedBody, when given, is the item's body, released once it is read.
    std::vector<Payload> answer(const FrameDecoder::Item& item, ByteBuffer* ownedBody);
    Payload handle(ReadRequest& read);
    Payload failure(ErrorCode code, const std::optional<std::string>& requestId,
                    const std::optional<SessionID>& session = std::nullopt);
    Payload reply(std::string_view type, const std::string& requestId, Outgoing::Message body);
    Payload event(std::string_view type, Outgoing::Message body);
    const SessionID& envelopeSession() const;
    bool remember(const std::string& requestId);

    Payload hello(const std::string& requestId);
    Payload status(const std::string& requestId);
    Payload prepare(PrepareRequest& request, const std::string& requestId);
    Payload cancel(const std::string& token, const std::string& requestId);
    Payload release(const std::string& preparedId, const std::string& requestId);
    void forget(Preparation& preparation);

    // The drag half, in host_session_drag.cc.
    Payload arm(const ArmRequest& request, const std::string& requestId, const SessionID& session);
    Payload armedReply(const std::string& requestId, const ArmedDrag& drag);
    // Ends a drag without publishing: the record goes back to prepared if it was.
    void endArm(std::shared_ptr<ArmedDrag> drag);
    // Clears the armed drag and gives the lease up, leaving the record as it is.
    void finishArm(const std::shared_ptr<ArmedDrag>& drag);
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
    // Set and cleared together.
    std::shared_ptr<ArmedDrag> armed_;
    std::optional<ArmLease> lease_;
    std::deque<std::string> recentRequestIds_;
    std::unordered_set<std::string> rememberedRequestIds_;
    std::deque<PrepareAttempt> recentPrepares_;
};

}  // namespace quenra
