#include "end_to_end/host_fixture.h"

#include <algorithm>
#include <boost/json/serialize.hpp>
#include <stdexcept>

#include "bridge_core/hashing.h"

namespace quenra::testing {

HostTest::HostTest() : environment(TestPeer::isolatedEnvironment(home.path())) {}

HostProcess HostTest::startHost() {
    return HostProcess::spawn(TestPeer::defaultHostPath(), {releaseOrigin}, environment);
}

std::string HostTest::dragSim(const std::vector<std::string>& arguments) {
    TestPeer::Completed done =
        TestPeer::run(TestPeer::defaultDragSimPath(), arguments, environment);
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0)) << done.error;
    return done.output;
}

TestPeer::Completed HostTest::runHost(const std::vector<std::string>& arguments,
                                      std::string_view input) {
    return TestPeer::run(TestPeer::defaultHostPath(), arguments, environment, input);
}

boost::json::object HostTest::next(HostProcess& host, milliseconds timeout) {
    std::optional<std::string> frame = host.readFrame(timeout);
    if (!frame)
        throw std::runtime_error("no frame from the host in time");
    return Requests::parse(*frame);
}

boost::json::object HostTest::exchange(HostProcess& host, const std::string& request) {
    if (!host.send(request))
        throw std::runtime_error("the host no longer reads");
    return next(host);
}

void HostTest::hello(HostProcess& host, const std::string& requestId) {
    boost::json::object reply = exchange(host, Requests::hello(session, requestId));
    ASSERT_EQ(Requests::text(reply, "type"), "HELLO_OK") << boost::json::serialize(reply);
}

PreparedClip HostTest::prepare(HostProcess& host, const std::string& requestId, std::size_t size,
                               const std::string& clipId) {
    std::vector<std::uint8_t> midi = TestPeer::MidiClip::generate(size);
    boost::json::object reply =
        exchange(host, Requests::prepare(session, requestId, clipId, 1, midi, "Clip"));
    EXPECT_EQ(Requests::text(reply, "type"), "PREPARED") << boost::json::serialize(reply);
    return PreparedClip{Requests::text(reply, "preparedId"), clipId, 1, Hashing::sha256Hex(midi),
                        Requests::text(reply, "fileName")};
}

PreparedClip HostTest::uploadWav(HostProcess& host, const std::string& requestId,
                                 const std::vector<std::uint8_t>& wav, std::size_t chunkBytes,
                                 const std::string& suggestedName) {
    const std::string clipId = "loop";
    const std::string sha256 = Hashing::sha256Hex(wav);
    boost::json::object reply = exchange(
        host, Requests::upload(session, requestId, clipId, 1, sha256,
                               static_cast<std::int64_t>(wav.size()), suggestedName, "wav"));
    const std::string uploadId = Requests::text(reply, "uploadId");
    for (std::size_t offset = 0; offset < wav.size(); offset += chunkBytes) {
        EXPECT_EQ(Requests::text(reply, "type"), "UPLOADING") << boost::json::serialize(reply);
        const std::size_t count = std::min(chunkBytes, wav.size() - offset);
        reply =
            exchange(host, Requests::uploadChunk(session, requestId + "-" + std::to_string(offset),
                                                 uploadId, static_cast<std::int64_t>(offset),
                                                 std::span(wav).subspan(offset, count)));
    }
    EXPECT_EQ(Requests::text(reply, "type"), "PREPARED") << boost::json::serialize(reply);
    return PreparedClip{Requests::text(reply, "preparedId"), clipId, 1, sha256,
                        Requests::text(reply, "fileName")};
}

boost::json::object HostTest::arm(HostProcess& host, const std::string& requestId,
                                  const PreparedClip& clip) {
    return exchange(host, Requests::arm(session, requestId, clip.preparedId, clip.clipId,
                                        clip.generation, clip.sha256));
}

std::string HostTest::cacheRoot() const {
    return home.join(".cache/tech.ostrell.quenra.bridge");
}

}  // namespace quenra::testing
