// The drag half of the host session: arming one prepared clip or a list of them, the poll step that
// the runtime's watch timer drives, and ending a drag with or without publishing it.
#include <algorithm>
#include <new>
#include <utility>

#include "bridge_core/entry_lifecycle.h"
#include "bridge_core/files.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "bridge_core/log.h"

namespace quenra {

template <typename Step>
bool HostSession::attempt(Step step) {
    try {
        step();
        return true;
    } catch (const FileFailure&) {
        return false;
    } catch (const CacheFailure&) {
        return false;
    }
}

std::optional<ErrorCode> HostSession::findClips(std::span<const ArmRequest> requested,
                                                std::vector<ArmedClip>& clips) const {
    for (const ArmRequest& request : requested) {
        const auto found = preparations_.find(request.preparedId);
        if (found == preparations_.end()) {
            return ErrorCode::unknownPrepared;
        }
        const Preparation& preparation = found->second;
        if (preparation.clipId != request.clipId || preparation.generation != request.generation ||
            preparation.sha256 != request.sha256) {
            return ErrorCode::stale;
        }
        clips.push_back(ArmedClip{.entry = preparation.entry,
                                  .clipId = preparation.clipId,
                                  .generation = preparation.generation});
    }
    return std::nullopt;
}

std::string HostSession::arm(std::span<const ArmRequest> requested, bool isList,
                             const std::string& requestId, const SessionID& session) {
    std::vector<ArmedClip> clips;
    if (const auto refused = findClips(requested, clips)) {
        return failure(*refused, requestId);
    }
    const Limits& limits = environment_.limits;
    const double now = environment_.clock.monotonicNow();
    if (isArmedWith(clips)) {
        armed_->deadline = now + limits.armLease;
        return armedReply(requestId, *armed_);
    }

    std::optional<ArmLease> lease;
    if (armed_) {
        // Switching clips ends the old drag silently (the extension asked for the new one), and
        // its lease moves to the new drag: no other host can take it in between.
        lease = disarm();
    } else {
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
    }

    // The records stay as they are until ARMED is out; settle() then writes the armed ones and
    // puts them in place, all flushed together, before the first poll claims anything: the
    // page waits for ARMED, the disk need not hold it up. Here a record is only made in memory, and
    // one with a time JSON cannot hold refuses the ARM; one the disk refuses fails the drag before
    // anything can claim it.
    RecordBatch records;
    if (!stageArmed(clips, records)) {
        Log::note("record-arm-failed");
        return failure(ErrorCode::internal, requestId);
    }
    if (!placeLibraryFiles(clips)) {
        Log::note("library-unavailable");
        return failure(ErrorCode::internal, requestId);
    }

    std::string token = environment_.random.base64URL(16);
    std::string marker = Takeover::marker(session.id, token);
    const std::int64_t baseline = environment_.board.changeCount();
    auto drag = std::make_unique<ArmedDrag>(std::move(token), std::move(marker), std::move(clips),
                                            isList, std::move(*lease), std::move(records),
                                            now + limits.armLease, baseline);
    std::string reply = armedReply(requestId, *drag);
    Log::note("armed");
    armed_ = std::move(drag);
    return reply;
}

bool HostSession::placeLibraryFiles(std::vector<ArmedClip>& clips) {
    try {
        for (ArmedClip& clip : clips) {
            if (!clip.entry->record().format) {
                continue;
            }
            const auto published = publishedLibraryFiles_.find(clip.entry->preparedId());
            if (published != publishedLibraryFiles_.end() &&
                AudioLibrary::isIntact(published->second)) {
                clip.libraryFile = published->second;
                continue;
            }
            clip.libraryFile = library_.place(*clip.entry);
            clip.libraryFileIsNew = true;
        }
        return true;
    } catch (const FileFailure&) {
        removeNewLibraryFiles(clips);
        return false;
    } catch (const std::bad_alloc&) {
        removeNewLibraryFiles(clips);
        throw;
    }
}

void HostSession::removeNewLibraryFiles(const std::vector<ArmedClip>& clips) {
    for (const ArmedClip& clip : clips) {
        if (clip.libraryFile && clip.libraryFileIsNew) {
            AudioLibrary::remove(*clip.libraryFile);
        }
    }
}

bool HostSession::stageArmed(std::vector<ArmedClip>& clips, RecordBatch& records) {
    const double retainFrom = environment_.clock.wallNow() + environment_.limits.retention;
    for (ArmedClip& clip : clips) {
        OwnedEntry& entry = *clip.entry;
        // Read only now: ending the drag armed before may just have put the record back.
        clip.stateBeforeArm = entry.record().state;
        const EntryState armedState = EntryLifecycle::armed(clip.stateBeforeArm);
        const double retainUntil = std::max(entry.record().retainUntil.value_or(0), retainFrom);
        if (!attempt([&] { environment_.cache.stage(records, entry, armedState, retainUntil); })) {
            return false;
        }
    }
    return true;
}

bool HostSession::isArmedWith(const std::vector<ArmedClip>& clips) const {
    return armed_ && std::equal(armed_->clips.begin(), armed_->clips.end(), clips.begin(),
                                clips.end(), [](const ArmedClip& armed, const ArmedClip& asked) {
                                    return armed.entry->preparedId() == asked.entry->preparedId();
                                });
}

std::string HostSession::armedReply(const std::string& requestId, const ArmedDrag& drag) {
    const auto leaseMs = static_cast<std::int64_t>(environment_.limits.armLease * 1000);
    if (!drag.isList) {
        const ArmedClip& clip = drag.clips.front();
        return reply(MessageType::armed, requestId,
                     {
                         {"preparedId", clip.entry->preparedId()},
                         {"clipId", clip.clipId},
                         {"generation", clip.generation},
                         {"token", drag.token},
                         {"marker", drag.marker},
                         {"leaseMs", leaseMs},
                     });
    }
    Outgoing::Message body{
        {"token", drag.token},
        {"marker", drag.marker},
        {"leaseMs", leaseMs},
    };
    // Made in place: an initializer list would copy the list whole.
    boost::json::array& clips = body["clips"].emplace_array();
    clips.reserve(drag.clips.size());
    for (const ArmedClip& clip : drag.clips) {
        clips.emplace_back(boost::json::object{{"preparedId", clip.entry->preparedId()},
                                               {"clipId", clip.clipId},
                                               {"generation", clip.generation}});
    }
    return reply(MessageType::armed, requestId, std::move(body));
}

bool HostSession::isUnsettled() const {
    return armed_ && !armed_->records.empty();
}

std::vector<std::string> HostSession::settle() {
    thread_.check();
    if (!armed_ || armed_->records.empty()) {
        return {};
    }
    if (!attempt([&] { environment_.cache.commit(armed_->records); })) {
        // Whatever did reach the disk stays: armed records only keep their clips longer.
        Log::note("record-arm-failed");
        return dragFailed(finishArm(), ErrorCode::internal);
    }
    return {};
}

std::vector<std::string> HostSession::tick() {
    thread_.check();
    // No claim before the records are in place, whoever drives the session.
    if (std::vector<std::string> failed = settle(); !failed.empty()) {
        return failed;
    }
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
        case PollOutcome::Kind::published:
            return {published(finishArm())};
        case PollOutcome::Kind::failed:
            return dragFailed(finishArm(), outcome.code);
    }
    return {};
}

std::vector<std::string> HostSession::dragFailed(std::unique_ptr<ArmedDrag> drag, ErrorCode code) {
    removeNewLibraryFiles(drag->clips);
    Log::note("drag-failed");
    return {event(MessageType::dragFailed,
                  {{"token", drag->token}, {"code", ErrorCodes::wireText(code)}})};
}

std::unique_ptr<ArmedDrag> HostSession::finishArm() {
    std::unique_ptr<ArmedDrag> drag = std::move(armed_);
    drag->lease.release();
    return drag;
}

ArmLease HostSession::disarm() {
    const std::unique_ptr<ArmedDrag> drag = std::move(armed_);
    removeNewLibraryFiles(drag->clips);
    // Records still staged never moved, and go with the drag.
    if (drag->records.empty()) {
        std::vector<RecordChange> changes;
        for (const ArmedClip& clip : drag->clips) {
            if (EntryLifecycle::restoresOnUnpublishedEnd(clip.stateBeforeArm)) {
                changes.push_back({clip.entry.get(), EntryState::prepared, std::nullopt});
            }
        }
        rewriteRecords(changes, "record-unarm-failed");
    }
    return std::move(drag->lease);
}

void HostSession::endArm() {
    disarm().release();
}

std::string HostSession::published(std::unique_ptr<ArmedDrag> drag) {
    const double retainUntil = environment_.clock.wallNow() + environment_.limits.retention;
    std::vector<RecordChange> changes;
    for (const ArmedClip& clip : drag->clips) {
        changes.push_back({clip.entry.get(), EntryState::published, retainUntil});
    }
    rewriteRecords(changes, "record-publication-failed");
    // The user's files now: a later drag of the clip offers the same one.
    for (const ArmedClip& clip : drag->clips) {
        if (clip.libraryFile) {
            publishedLibraryFiles_.insert_or_assign(clip.entry->preparedId(), *clip.libraryFile);
        }
    }
    boost::json::array clips;
    for (const ArmedClip& clip : drag->clips) {
        clips.push_back(boost::json::object{{"preparedId", clip.entry->preparedId()},
                                            {"generation", clip.generation}});
    }
    Log::note("published");
    if (!drag->isList) {
        const ArmedClip& clip = drag->clips.front();
        return event(MessageType::published, {{"token", drag->token},
                                              {"preparedId", clip.entry->preparedId()},
                                              {"generation", clip.generation}});
    }
    return event(MessageType::published, {{"token", drag->token}, {"clips", std::move(clips)}});
}

void HostSession::rewriteRecords(std::span<const RecordChange> changes, std::string_view note) {
    RecordBatch batch;
    std::size_t failed = 0;
    for (const RecordChange& change : changes) {
        if (!attempt([&] {
                environment_.cache.stage(batch, *change.entry, change.state, change.retainUntil);
            })) {
            ++failed;
        }
    }
    if (!attempt([&] { environment_.cache.commit(batch); })) {
        failed += batch.size();
    }
    for (std::size_t index = 0; index < failed; ++index) {
        Log::note(note);
    }
}

}  // namespace quenra
