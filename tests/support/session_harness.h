// A host session over a real cache in a temporary folder and substitute services, with
// helpers that send requests as frame bodies, read as the host reads them, and read the
// replies back as JSON.
#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge_core/cache.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "deterministic_random.h"
#include "manual_clock.h"
#include "platform/platform.h"
#include "scripted_drag_board.h"
#include "temporary_directory.h"

namespace quenra::testing {

// A session id of 16 or more identifier characters; its first 16 go into the marker.
inline const SessionID browserSession{"browserSession01xyz", 7};

// A valid Standard MIDI File with the parts a PREPARE announces.
struct Clip {
    std::vector<std::uint8_t> bytes;
    std::string base64;
    std::string sha256;
};
// One track whose only events are variant note-ons; different variants give different bytes.
Clip makeClip(int variant = 0);

class SessionHarness {
  public:
    explicit SessionHarness(const Limits& limits = Limits::standard(),
                            const Platform& platform = {"15.1.0", "arm64", "macOS"});

    // Every reply to one frame holding the request's JSON.
    std::vector<std::string> sendRaw(const std::string& frameBody);
    // The one reply to the request, parsed.
    boost::json::object send(const boost::json::object& request);
    // The one reply to the request, and the lines the session logged while answering it.
    struct LoggedReply {
        boost::json::object reply;
        std::string log;
    };
    LoggedReply sendLogged(const boost::json::object& request);

    // The envelope of a request of the given type with a fresh request id.
    boost::json::object request(const std::string& type, const SessionID& session = browserSession);
    boost::json::object helloRequest(const SessionID& session = browserSession);
    boost::json::object prepareRequest(const std::string& clipId, std::int64_t generation,
                                       const Clip& clip, const std::string& name = "Song");
    // An ARM for what a PREPARED reply announced.
    boost::json::object armRequest(const boost::json::object& prepared);

    void bind();
    // PREPARE, expecting PREPARED.
    boost::json::object prepare(const std::string& clipId, std::int64_t generation,
                                const Clip& clip);
    // ARM, expecting ARMED.
    boost::json::object arm(const boost::json::object& prepared);

    // The entry directory of a prepared id, and its record as on disk (empty when missing).
    std::string entryDirectory(const std::string& preparedId) const;
    std::string recordText(const std::string& preparedId) const;
    boost::json::object record(const std::string& preparedId) const;

    TemporaryDirectory folder;
    ManualClock clock;
    DeterministicRandom random;
    ScriptedDragBoard board;
    SettableMouse mouse;
    Limits limits;
    Cache cache;
    HostSession session;

  private:
    int nextRequest_ = 0;
};

}  // namespace quenra::testing
