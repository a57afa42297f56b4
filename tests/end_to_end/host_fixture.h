// What every end-to-end test stands on: a private HOME and runtime directory, the real host
// binary started in them with an allowed origin, and the extension's requests and replies.
#pragma once

#include <gtest/gtest.h>

#include <boost/json/object.hpp>
#include <string>
#include <vector>

#include "support/temporary_directory.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::testing {

namespace Requests = TestPeer::Requests;
using TestPeer::ExitStatus;
using TestPeer::HostProcess;
using TestPeer::milliseconds;

inline const std::string releaseOrigin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";

// One prepared clip, as PREPARED described it.
struct PreparedClip {
    std::string preparedId;
    std::string clipId;
    std::int64_t generation = 0;
    std::string sha256;
    std::string fileName;
};

class HostTest : public ::testing::Test {
  protected:
    HostTest();

    HostProcess startHost();
    // The quenra-drag-sim of the build, in the same environment; its standard output.
    std::string dragSim(const std::vector<std::string>& arguments);
    // The host at the given path (or the built one) run to its end with a maintenance switch.
    TestPeer::Completed runHost(const std::vector<std::string>& arguments,
                                std::string_view input = {});

    // Sends one request and reads the next frame as its reply; fails the test on a timeout.
    boost::json::object exchange(HostProcess& host, const std::string& request);
    // HELLO answered HELLO_OK.
    void hello(HostProcess& host, const std::string& requestId = "hello-1");
    // A generated clip prepared and answered PREPARED.
    PreparedClip prepare(HostProcess& host, const std::string& requestId, std::size_t size = 512,
                         const std::string& clipId = "clip-a");
    // A WAV uploaded in chunks of chunkBytes with the name suggested, each chunk answered
    // UPLOADING until the last is answered PREPARED.
    PreparedClip uploadWav(HostProcess& host, const std::string& requestId,
                           const std::vector<std::uint8_t>& wav, std::size_t chunkBytes,
                           const std::string& suggestedName = "Loop");
    // ARM of a prepared clip; the reply, whatever it is.
    boost::json::object arm(HostProcess& host, const std::string& requestId,
                            const PreparedClip& clip);
    // The next frame read back as JSON; fails the test on a timeout.
    boost::json::object next(HostProcess& host, milliseconds timeout = milliseconds(5000));

    std::string cacheRoot() const;

    TemporaryDirectory home;
    std::vector<std::string> environment;
    Requests::Session session{"end-to-end-session-0001", 7};
};

}  // namespace quenra::testing
