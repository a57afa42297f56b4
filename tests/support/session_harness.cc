#include "session_harness.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <utility>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "platform/platform.h"
#include "read_request.h"

namespace quenra::testing {

Clip makeClip(int variant) {
    const auto note = static_cast<std::uint8_t>(0x30 + (variant & 0x3F));
    Clip clip;
    clip.bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0,    0,    0,    1, 0,    0x60, 'M',
                  'T', 'r', 'k', 0,   0, 0, 8, 0, 0x90, note, 0x40, 0, 0xFF, 0x2F, 0};
    clip.base64 = Base64::encode(clip.bytes);
    clip.sha256 = Hashing::sha256Hex(clip.bytes);
    return clip;
}

SessionHarness::SessionHarness(const Limits& limits, const Platform& platform)
    : limits(limits),
      cache(folder.join("cache"), limits, clock, random),
      session(HostSession::Environment{
          .cache = cache,
          .board = board,
          .mouse = mouse,
          .clock = clock,
          .random = random,
          .limits = limits,
          .platform = platform,
          .audioLibrary = folder.join("Music/Quenra Bridge"),
      }) {}

std::vector<std::string> SessionHarness::sendRaw(const std::string& frameBody) {
    return session.receive(readRequest(frameBody));
}

boost::json::object SessionHarness::send(const boost::json::object& request) {
    const std::vector<std::string> replies = sendRaw(boost::json::serialize(request));
    EXPECT_EQ(replies.size(), 1u);
    if (replies.size() != 1) {
        return {};
    }
    return boost::json::parse(replies[0]).as_object();
}

SessionHarness::LoggedReply SessionHarness::sendLogged(const boost::json::object& request) {
    ::testing::internal::CaptureStderr();
    boost::json::object reply = send(request);
    return {std::move(reply), ::testing::internal::GetCapturedStderr()};
}

boost::json::object SessionHarness::request(const std::string& type, const SessionID& session) {
    return {
        {"type", type},
        {"protocolVersion", "1.0"},
        {"session", {{"id", session.id}, {"epoch", session.epoch}}},
        {"requestId", "req-" + std::to_string(++nextRequest_)},
    };
}

boost::json::object SessionHarness::helloRequest(const SessionID& session) {
    boost::json::object hello = request("HELLO", session);
    hello["extensionVersion"] = "1.4.2";
    return hello;
}

boost::json::object SessionHarness::prepareRequest(const std::string& clipId,
                                                   std::int64_t generation, const Clip& clip,
                                                   const std::string& name) {
    boost::json::object prepare = request("PREPARE");
    prepare["clipId"] = clipId;
    prepare["generation"] = generation;
    prepare["byteLength"] = static_cast<std::int64_t>(clip.bytes.size());
    prepare["sha256"] = clip.sha256;
    prepare["midiBase64"] = clip.base64;
    prepare["suggestedName"] = name;
    return prepare;
}

boost::json::object SessionHarness::armRequest(const boost::json::object& prepared) {
    boost::json::object arm = request("ARM");
    for (const char* key : {"preparedId", "clipId", "generation", "sha256"}) {
        arm[key] = prepared.at(key);
    }
    return arm;
}

void SessionHarness::bind() {
    const boost::json::object reply = send(helloRequest());
    ASSERT_EQ(reply.at("type"), "HELLO_OK");
}

boost::json::object SessionHarness::prepare(const std::string& clipId, std::int64_t generation,
                                            const Clip& clip) {
    boost::json::object reply = send(prepareRequest(clipId, generation, clip));
    EXPECT_EQ(reply.at("type"), "PREPARED") << boost::json::serialize(reply);
    return reply;
}

boost::json::object SessionHarness::arm(const boost::json::object& prepared) {
    boost::json::object reply = send(armRequest(prepared));
    EXPECT_EQ(reply.at("type"), "ARMED") << boost::json::serialize(reply);
    return reply;
}

std::string SessionHarness::entryDirectory(const std::string& preparedId) const {
    return cache.entriesDirectory() + "/" + preparedId;
}

std::string SessionHarness::recordText(const std::string& preparedId) const {
    return readFileText(entryDirectory(preparedId) + "/entry.json");
}

boost::json::object SessionHarness::record(const std::string& preparedId) const {
    const std::string text = recordText(preparedId);
    if (text.empty()) {
        return {};
    }
    return boost::json::parse(text).as_object();
}

}  // namespace quenra::testing
