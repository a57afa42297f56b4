// What a served connection drives: the host session in the program, a substitute in tests.
// Every call returns the UTF-8 JSON of the messages to send, in order, not yet framed. All
// calls come from the main thread.
#pragma once

#include <string>
#include <vector>

#include "bridge_core/framing.h"
#include "bridge_core/request_reader.h"

namespace quenra {

class ServedSession {
  public:
    virtual ~ServedSession() = default;

    // The one reply to a frame, read as it arrived.
    virtual std::vector<std::string> receive(ReadRequest request) = 0;
    // The replies to an item that is not a frame (tooLarge, empty or corrupt): one for every
    // such item but a corrupt one.
    virtual std::vector<std::string> receive(const FrameDecoder::Item& item) = 0;
    // The work an answer leaves for after it is written, so that the reply does not wait for
    // it: no event, or the armed drag's one event when that work ends the drag. tick() does it
    // first, should it still be waiting.
    virtual std::vector<std::string> settle() = 0;
    // True while settle() has work to do.
    virtual bool isUnsettled() const = 0;
    // One poll of the armed drag: no event, or its one event.
    virtual std::vector<std::string> tick() = 0;
    // True exactly while a drag is armed; the connection polls with tick() while it is.
    virtual bool isWatching() const = 0;
    virtual void sweep() = 0;
    // Ends an armed drag and gives up every cache entry the connection owns.
    virtual void shutdown() = 0;
};

}  // namespace quenra
