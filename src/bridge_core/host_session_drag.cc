// The drag half of the host session: arming a prepared clip, the poll step that the runtime's
// watch timer drives, and ending a drag with or without publishing it.
#include <algorithm>
#include <utility>

#include "bridge_core/files.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "bridge_core/log.h"

namespace quenra {

std::string HostSession::arm(const ArmRequest& request, const std::string& requestId,
                             const SessionID& session) {
    const auto found = preparations_.find(request.preparedId);
    if (found == preparations_.end()) {
        return failure(ErrorCode::unknownPrepared, requestId);
    }
    const Preparation& preparation = found->second;
    if (preparation.clipId != request.clipId || preparation.generation != request.generation ||
        preparation.sha256 != request.sha256) {
        return failure(ErrorCode::stale, requestId);
    }
    const Limits& limits = environment_.limits;
    const double now = environment_.clock.monotonicNow();
    if (armed_) {
        if (isArmedOn(preparation)) {
            armed_->deadline = now + limits.armLease;
            return armedReply(requestId, *armed_);
        }
        // Switching clips ends the old drag silently: the extension asked for the new one.
        endArm();
    }

    std::optional<ArmLease> lease;
    try {
        lease = ArmLease::acquire(environment_.cache.armLockURL());
    } catch (const FileFailure&) {
        Log::note("lease-unavailable");
        return failure(ErrorCode::internal, requestId);
    }
    if (!lease) {
        Log::note("busy");
        return failure(ErrorCode::busy, requestId);
    }

    OwnedEntry& entry = *preparation.entry;
    const EntryState stateBeforeArm = entry.record().state;
    const EntryState armedState =
        stateBeforeArm == EntryState::prepared ? EntryState::armed : stateBeforeArm;
    const double retainUntil = std::max(entry.record().retainUntil.value_or(0),
                                        environment_.clock.wallNow() + limits.retention);
    if (!updateRecord(entry, armedState, retainUntil)) {
        Log::note("record-arm-failed");
        return failure(ErrorCode::internal, requestId);
    }

    std::string token = environment_.random.base64URL(16);
    std::string marker = Takeover::marker(session.id, token);
    const std::int64_t baseline = environment_.board.changeCount();
    armed_ = std::make_unique<ArmedDrag>(
        std::move(token), std::move(marker),
        ArmedClip{preparation.entry, preparation.clipId, preparation.generation, stateBeforeArm},
        std::move(*lease), now + limits.armLease, baseline);
    Log::note("armed");
    return armedReply(requestId, *armed_);
}

std::string HostSession::armedReply(const std::string& requestId, const ArmedDrag& drag) {
    const ArmedClip& clip = drag.clip;
    return reply(MessageType::armed, requestId,
                 {
                     {"preparedId", clip.entry->preparedId()},
                     {"clipId", clip.clipId},
                     {"generation", clip.generation},
                     {"token", drag.token},
                     {"marker", drag.marker},
                     {"leaseMs", static_cast<std::int64_t>(environment_.limits.armLease * 1000)},
                 });
}

std::vector<std::string> HostSession::tick() {
    if (!armed_) {
        return {};
    }
    const PollOutcome outcome = Takeover::poll(*armed_, environment_);
    switch (outcome.kind) {
        case PollOutcome::Kind::waiting:
            return {};
        case PollOutcome::Kind::expired: {
            const std::string token = armed_->token;
            endArm();
            Log::note("expired");
            return {event(MessageType::expired, {{"token", token}})};
        }
        case PollOutcome::Kind::published: {
            const std::unique_ptr<ArmedDrag> drag = finishArm();
            OwnedEntry& entry = *drag->clip.entry;
            if (!updateRecord(entry, EntryState::published,
                              environment_.clock.wallNow() + environment_.limits.retention)) {
                Log::note("record-publication-failed");
            }
            Log::note("published");
            return {event(MessageType::published, {{"token", drag->token},
                                                   {"preparedId", entry.preparedId()},
                                                   {"generation", drag->clip.generation}})};
        }
        case PollOutcome::Kind::failed: {
            const std::unique_ptr<ArmedDrag> drag = finishArm();
            Log::note("drag-failed");
            return {event(MessageType::dragFailed,
                          {{"token", drag->token}, {"code", ErrorCodes::wireText(outcome.code)}})};
        }
    }
    return {};
}

std::unique_ptr<ArmedDrag> HostSession::finishArm() {
    std::unique_ptr<ArmedDrag> drag = std::move(armed_);
    drag->lease.release();
    return drag;
}

void HostSession::endArm() {
    const std::unique_ptr<ArmedDrag> drag = finishArm();
    const ArmedClip& clip = drag->clip;
    if (clip.stateBeforeArm == EntryState::prepared &&
        !updateRecord(*clip.entry, EntryState::prepared, std::nullopt)) {
        Log::note("record-unarm-failed");
    }
}

bool HostSession::updateRecord(OwnedEntry& entry, EntryState state,
                               std::optional<double> retainUntil) {
    try {
        environment_.cache.update(entry, state, retainUntil);
        return true;
    } catch (const FileFailure&) {
        return false;
    } catch (const CacheFailure&) {
        return false;
    }
}

}  // namespace quenra
