#include "native_host/connection.h"

#include <new>
#include <utility>

#include "bridge_core/log.h"

namespace quenra {

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
        outOfMemory();
    }
}

void Connection::handle(ReadRequest request) {
    thread_.check();
    guarded([&] {
        send(session_.receive(std::move(request)));
        updateWatchTimer();
    });
}

void Connection::refuse(const FrameDecoder::Item& item) {
    thread_.check();
    if (item.kind == FrameDecoder::Item::Kind::corrupt) {
        Log::note("corrupt-frame-length");
        end(1);
        return;
    }
    guarded([&] {
        send(session_.receive(item));
        updateWatchTimer();
    });
}

void Connection::endOfInput(bool midFrame) {
    thread_.check();
    if (midFrame)
        Log::note("eof-mid-frame");
    end(0);
}

void Connection::outOfMemory() {
    Log::note("out-of-memory");
    end(1);
}

void Connection::send(const std::vector<std::string>& payloads) {
    thread_.check();
    for (const std::string& payload : payloads) {
        if (!exits_.write(FrameEncoder::frame(payload))) {
            end(0);
            return;
        }
    }
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

void Connection::watchFired() {
    guarded([&] {
        send(session_.tick());
        updateWatchTimer();
    });
}

void Connection::end(int status) {
    try {
        session_.shutdown();
    } catch (const std::bad_alloc&) {
        // The entries it could not give up stay for the sweep; the exit comes all the same.
    }
    exits_.exit(status);
}

}  // namespace quenra
