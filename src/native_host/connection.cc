#include "native_host/connection.h"

#include <array>
#include <cstddef>
#include <new>
#include <utility>

#include "bridge_core/log.h"

namespace quenra {

namespace {

struct EndingRow {
    Connection::Ending ending;
    const char* logLine;  // nullptr: none
    int status;
};

// Every ending, in the order the enumeration declares them: its log line and exit status.
constexpr std::array<EndingRow, 6> endings{{
    {Connection::Ending::inputEnded, nullptr, 0},
    {Connection::Ending::inputEndedMidFrame, "eof-mid-frame", 0},
    {Connection::Ending::corruptStream, "corrupt-frame-length", 1},
    {Connection::Ending::outputClosed, nullptr, 0},
    {Connection::Ending::outOfMemory, "out-of-memory", 1},
    {Connection::Ending::readerUnavailable, "reader-unavailable", 1},
}};

constexpr bool inDeclarationOrder() {
    for (std::size_t index = 0; index < endings.size(); ++index) {
        if (static_cast<std::size_t>(endings[index].ending) != index) {
            return false;
        }
    }
    return true;
}
static_assert(inDeclarationOrder(), "one row per ending, in declaration order");

EndingRow rowOf(Connection::Ending ending) {
    return endings.at(static_cast<std::size_t>(ending));
}

}  // namespace

Connection::Connection(EventLoop& loop, ServedSession& session, Exits exits)
    : loop_(loop), session_(session), exits_(std::move(exits)) {}

void Connection::startSweepTimer() {
    thread_.check();
    if (sweepTimer_)
        return;
    sweepTimer_ =
        loop_.addRepeatingTimer(sweepInterval, [this] { guarded([&] { session_.sweep(); }); });
}

template <typename Work>
void Connection::guarded(Work&& work) {
    try {
        work();
    } catch (const std::bad_alloc&) {
        end(Ending::outOfMemory);
    }
}

void Connection::handle(ReadRequest request) {
    thread_.check();
    guarded([&] { answer(session_.receive(std::move(request))); });
}

void Connection::refuse(const FrameDecoder::Item& item) {
    thread_.check();
    if (item.kind == FrameDecoder::Item::Kind::corrupt) {
        end(Ending::corruptStream);
        return;
    }
    guarded([&] { answer(session_.receive(item)); });
}

void Connection::answer(const std::vector<std::string>& replies) {
    if (!send(replies)) {
        return;
    }
    updateWatchTimer();
    if (session_.isUnsettled() && !settleTimer_) {
        settleTimer_ = loop_.addRepeatingTimer(settleDelay, [this] { settleFired(); });
    }
    if (!sweptOnce_) {
        // The cache's first sweep waits for the first answer (the extension's HELLO), so that
        // the browser never waits for a full cache to be read. No answer depends on when it
        // runs: until a HELLO has bound the session, every other request is refused without a
        // look at the cache, so the first item never reads the cache nor adds to it.
        sweptOnce_ = true;
        session_.sweep();
    }
}

bool Connection::send(const std::vector<std::string>& payloads) {
    thread_.check();
    for (const std::string& payload : payloads) {
        if (!exits_.write(FrameEncoder::frame(payload))) {
            end(Ending::outputClosed);
            return false;
        }
    }
    return true;
}

void Connection::updateWatchTimer() {
    thread_.check();
    if (session_.isWatching()) {
        if (!watchTimer_) {
            watchTimer_ = loop_.addRepeatingTimer(watchInterval, [this] { watchFired(); });
        }
    } else if (watchTimer_) {
        loop_.cancelTimer(*watchTimer_);
        watchTimer_.reset();
    }
}

void Connection::settleFired() {
    loop_.cancelTimer(*settleTimer_);
    settleTimer_.reset();
    guarded([&] {
        if (send(session_.settle())) {
            updateWatchTimer();
        }
    });
}

void Connection::watchFired() {
    guarded([&] {
        send(session_.tick());
        updateWatchTimer();
    });
}

void Connection::end(Ending ending) {
    thread_.check();
    const EndingRow row = rowOf(ending);
    if (row.logLine != nullptr) {
        Log::note(row.logLine);
    }
    try {
        session_.shutdown();
    } catch (const std::bad_alloc&) {
        // The entries it could not give up stay for the sweep; the exit comes all the same.
    }
    exits_.exit(row.status);
}

}  // namespace quenra
