#include "bridge_core/host_session.h"

#include <algorithm>
#include <new>
#include <utility>
#include <variant>

#include "bridge_core/entry_lifecycle.h"
#include "bridge_core/file_names.h"
#include "bridge_core/identity.h"
#include "bridge_core/limits.h"
#include "bridge_core/log.h"
#include "bridge_core/midi_payload.h"
#include "platform/platform.h"

namespace quenra {

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers without aggregate deduction (clang 14, which builds the fuzzers).
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

}  // namespace

HostSession::HostSession(Environment environment)
    : environment_(std::move(environment)), library_(environment_.audioLibrary) {}

std::vector<std::string> HostSession::receive(ReadRequest read) {
    thread_.check();
    if (const auto* refused = std::get_if<RefusedRequest>(&read)) {
        return {
            failure(refused->failure.code, refused->salvaged.requestId, refused->salvaged.session)};
    }
    HostRequest& request = std::get<HostRequest>(read);
    try {
        // Made before the request is handled, so that a request that did its work is never
        // answered INTERNAL for want of the memory to hand its reply over.
        std::vector<std::string> replies;
        replies.reserve(1);
        replies.push_back(handle(request));
        return replies;
    } catch (const std::bad_alloc&) {
        // Whatever the request had done stays done; it is answered INTERNAL with its own id.
        return {failure(ErrorCode::internal, request.requestId, request.session)};
    }
}

std::vector<std::string> HostSession::receive(const FrameDecoder::Item& item) {
    thread_.check();
    using Kind = FrameDecoder::Item::Kind;
    switch (item.kind) {
        case Kind::tooLarge:
            return {failure(ErrorCode::tooLarge, std::nullopt)};
        case Kind::corrupt:
            return {};
        case Kind::empty:
            return {failure(ErrorCode::badRequest, std::nullopt)};
    }
    return {};
}

std::string HostSession::handle(HostRequest& request) {
    const bool isHello = std::holds_alternative<HelloRequest>(request.body);
    if (isHello) {
        if (bound_ && *bound_ != request.session) {
            return failure(ErrorCode::stale, request.requestId, request.session);
        }
        bound_ = request.session;
    }
    if (!bound_) {
        return failure(ErrorCode::notReady, request.requestId, request.session);
    }
    if (request.session != *bound_) {
        return failure(ErrorCode::stale, request.requestId, request.session);
    }
    if (!remember(request.requestId)) {
        return failure(ErrorCode::duplicateRequest, request.requestId);
    }

    const std::string& requestId = request.requestId;
    return std::visit(
        Overloaded{
            [&](const HelloRequest&) { return hello(requestId); },
            [&](PrepareRequest& prepareRequest) { return prepare(prepareRequest, requestId); },
            [&](const ArmRequest& armRequest) {
                return arm(std::span(&armRequest, 1), false, requestId, *bound_);
            },
            [&](const ArmListRequest& armRequest) {
                return arm(armRequest.clips, true, requestId, *bound_);
            },
            [&](const CancelRequest& cancelRequest) {
                return cancel(cancelRequest.token, requestId);
            },
            [&](const ReleaseRequest& releaseRequest) {
                return release(releaseRequest.preparedId, requestId);
            },
            [&](const StatusRequest&) { return status(requestId); },
            [&](const UploadRequest& uploadRequest) { return upload(uploadRequest, requestId); },
            [&](UploadChunkRequest& chunk) { return uploadChunk(chunk, requestId); },
        },
        request.body);
}

const SessionID& HostSession::envelopeSession() const {
    return bound_ ? *bound_ : Outgoing::unboundSession;
}

std::string HostSession::failure(ErrorCode code, const std::optional<std::string>& requestId,
                                 const std::optional<SessionID>& session) {
    if (code == ErrorCode::internal) {
        Log::note("internal-error");
    }
    const SessionID& envelope = bound_ ? *bound_ : session ? *session : Outgoing::unboundSession;
    return Outgoing::encode(
        Outgoing::error(code, envelope,
                        requestId ? std::string_view(*requestId) : Outgoing::unparsedRequestId),
        environment_.limits.maxResponseFrameBytes);
}

std::string HostSession::reply(std::string_view type, const std::string& requestId,
                               Outgoing::Message body) {
    return Outgoing::encode(Outgoing::reply(type, envelopeSession(), requestId, std::move(body)),
                            environment_.limits.maxResponseFrameBytes);
}

std::string HostSession::event(std::string_view type, Outgoing::Message body) {
    return Outgoing::encode(Outgoing::event(type, envelopeSession(), std::move(body)),
                            environment_.limits.maxResponseFrameBytes);
}

bool HostSession::remember(const std::string& requestId) {
    if (rememberedRequestIds_.contains(requestId)) {
        return false;
    }
    recentRequestIds_.push_back(requestId);
    rememberedRequestIds_.insert(requestId);
    while (static_cast<std::int64_t>(recentRequestIds_.size()) >
           environment_.limits.requestIdMemory) {
        rememberedRequestIds_.erase(recentRequestIds_.front());
        recentRequestIds_.pop_front();
    }
    return true;
}

std::string HostSession::hello(const std::string& requestId) {
    Log::note("hello");
    boost::json::array capabilities;
    for (const std::string& capability : Identity::capabilities()) {
        capabilities.emplace_back(capability);
    }
    const Platform& platform = environment_.platform;
    return reply(
        MessageType::helloOK, requestId,
        {
            {"helperVersion", Identity::helperVersion},
            {"platform",
             {{"os", platform.os}, {"version", platform.version}, {"arch", platform.arch}}},
            {"capabilities", std::move(capabilities)},
        });
}

std::string HostSession::status(const std::string& requestId) {
    const CacheUsage usage = environment_.cache.usage();
    return reply(MessageType::status, requestId,
                 {
                     {"helperVersion", Identity::helperVersion},
                     {"armed", isWatching()},
                     {"preparations", static_cast<std::int64_t>(preparations_.size())},
                     {"cache", {{"entries", usage.entries}, {"bytes", usage.bytes}}},
                 });
}

bool HostSession::admitPrepare(std::int64_t bytes) {
    const Limits& limits = environment_.limits;
    const double now = environment_.clock.monotonicNow();
    std::erase_if(recentPrepares_, [&](const PrepareAttempt& attempt) {
        return attempt.time <= now - limits.rateWindow;
    });
    std::int64_t windowBytes = 0;
    for (const PrepareAttempt& attempt : recentPrepares_) {
        windowBytes += attempt.bytes;
    }
    // The window's bytes never exceed prepareBurstBytes, so this sum cannot overflow.
    if (static_cast<std::int64_t>(recentPrepares_.size()) >= limits.prepareBurst ||
        windowBytes + bytes > limits.prepareBurstBytes) {
        return false;
    }
    recentPrepares_.push_back({now, bytes});
    return true;
}

void HostSession::supersedeOlderGenerations(const std::string& clipId, std::int64_t generation) {
    // Equal or higher generations of the clip stay: an older PREPARE arriving late must not
    // remove a newer one.
    for (auto it = preparations_.begin(); it != preparations_.end();) {
        Preparation& older = it->second;
        if (older.clipId != clipId || older.generation >= generation) {
            ++it;
            continue;
        }
        if (isArmedOn(older)) {
            endArm();
        }
        forget(older);
        it = preparations_.erase(it);
    }
}

std::string HostSession::prepare(PrepareRequest& request, const std::string& requestId) {
    // Counted before the content checks: a refused clip still used up its upload.
    if (!admitPrepare(request.byteLength)) {
        return failure(ErrorCode::rateLimited, requestId);
    }
    try {
        MIDIPayload::check(request);
    } catch (const ProtocolFailure& failed) {
        return failure(failed.code, requestId);
    }
    const ClipBuffer midi = request.midiBase64.takeBytes();
    const std::string fileName = FileNames::safeName(request.suggestedName);

    try {
        return prepared(Preparation{request.clipId, request.generation, request.sha256,
                                    std::make_shared<OwnedEntry>(environment_.cache.create(
                                        midi.bytes(), fileName, request.sha256))},
                        requestId);
    } catch (const CacheFailure& failed) {
        return cacheFailure(failed, requestId);
    }
}

std::string HostSession::cacheFailure(const CacheFailure& failed, const std::string& requestId) {
    if (failed.kind() == CacheFailure::Kind::full) {
        Log::note("cache-full");
        return failure(ErrorCode::cacheFull, requestId);
    }
    Log::note("cache-write-failed");
    return failure(ErrorCode::internal, requestId);
}

std::string HostSession::prepared(Preparation preparation, const std::string& requestId) {
    supersedeOlderGenerations(preparation.clipId, preparation.generation);
    const EntryRecord& record = preparation.entry->record();
    Outgoing::Message body{
        {"preparedId", record.preparedId},      {"clipId", preparation.clipId},
        {"generation", preparation.generation}, {"sha256", preparation.sha256},
        {"byteLength", record.byteLength},      {"fileName", record.fileName},
    };
    if (record.format) {
        body["format"] = *record.format;
    }
    const std::string preparedId = record.preparedId;
    preparations_.insert_or_assign(preparedId, std::move(preparation));
    Log::note("prepared");
    return reply(MessageType::prepared, requestId, std::move(body));
}

std::string HostSession::cancel(const std::string& token, const std::string& requestId) {
    const bool wasActive = armed_ && armed_->token == token;
    if (wasActive) {
        endArm();
    }
    return reply(MessageType::cancelled, requestId, {{"token", token}, {"wasActive", wasActive}});
}

std::string HostSession::release(const std::string& preparedId, const std::string& requestId) {
    // An open upload's id ends the upload, and its bytes go with it.
    uploads_.erase(preparedId);
    const auto found = preparations_.find(preparedId);
    if (found != preparations_.end()) {
        Preparation preparation = std::move(found->second);
        preparations_.erase(found);
        if (isArmedOn(preparation)) {
            endArm();
        }
        forget(preparation);
    }
    return reply(MessageType::released, requestId, {{"preparedId", preparedId}});
}

void HostSession::forget(Preparation& preparation) {
    OwnedEntry& entry = *preparation.entry;
    publishedLibraryFiles_.erase(entry.preparedId());
    if (EntryLifecycle::onRelease(entry.record().state) == EntryLifecycle::Release::remove) {
        environment_.cache.deleteEntry(entry);
    } else {
        environment_.cache.relinquish(entry);
    }
}

void HostSession::shutdown() {
    thread_.check();
    uploads_.clear();
    if (armed_) {
        endArm();
    }
    for (auto& [preparedId, preparation] : preparations_) {
        forget(preparation);
    }
    preparations_.clear();
}

void HostSession::sweep() {
    thread_.check();
    (void)environment_.cache.sweep();
}

bool HostSession::isArmedOn(const Preparation& preparation) const {
    return armed_ &&
           std::any_of(armed_->clips.begin(), armed_->clips.end(), [&](const ArmedClip& clip) {
               return clip.entry->preparedId() == preparation.entry->preparedId();
           });
}

}  // namespace quenra
