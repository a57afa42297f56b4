#include "native_host/connection.h"

#include <utility>

#include "bridge_core/log.h"

namespace quenra {

Connection::Connection(EventLoop& loop, ServedSession& session, Exits exits)
    : loop_(loop), session_(session), exits_(std::move(exits)) {}

void Connection::startSweepTimer() {
    if (sweepTimer_)
        return;
    sweepTimer_ = loop_.addRepeatingTimer(sweepInterval, [this] { session_.sweep(); });
}

void Connection::handle(ReadRequest request) {
    send(session_.receive(std::move(request)));
    updateWatchTimer();
}

void Connection::refuse(const FrameDecoder::Item& item) {
    if (item.kind == FrameDecoder::Item::Kind::corrupt) {
        Log::note("corrupt-frame-length");
        end(1);
        return;
    }
    send(session_.receive(item));
    updateWatchTimer();
}

void Connection::endOfInput(bool midFrame) {
    if (midFrame)
        Log::note("eof-mid-frame");
    end(0);
}

void Connection::send(const std::vector<std::string>& payloads) {
    for (const std::string& payload : payloads) {
        if (!exits_.write(FrameEncoder::frame(payload))) {
            end(0);
            return;
        }
    }
}

void Connection::updateWatchTimer() {
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
    send(session_.tick());
    updateWatchTimer();
}

void Connection::end(int status) {
    session_.shutdown();
    exits_.exit(status);
}

}  // namespace quenra
