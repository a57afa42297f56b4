// Memory that runs out while a request is read or answered: each allocation in turn is made to
// fail, and every outcome must be one the host can still answer with.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <string>

#include "bridge_core/log.h"
#include "bridge_core/request_reader.h"
#include "support/captured_standard_error.h"
#include "support/replaced_allocation.h"
#include "support/session_harness.h"

namespace quenra {
namespace {

namespace faults = testing::AllocationFaults;

const ReadRequest outOfMemory =
    RefusedRequest{ProtocolFailure(ErrorCode::internal, "out of memory"), {}};

// As the host's reader thread reads a frame: in 64 KiB pieces, and when not even the reader can
// be made, the frame is refused as out of memory.
ReadRequest readFrame(const std::string& text) {
    std::optional<RequestReader> made;
    try {
        made.emplace(text.size());
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    }
    RequestReader& reader = *made;
    for (std::size_t offset = 0; offset < text.size(); offset += 65536) {
        reader.append(std::string_view(text).substr(offset, 65536));
    }
    return reader.finish();
}

// The one reply to request, read whole first, when the failing-th allocation of its handling
// fails.
boost::json::object replyFailingAt(testing::SessionHarness& harness,
                                   const boost::json::object& request, std::uint64_t failing) {
    ReadRequest read = readFrame(boost::json::serialize(request));
    faults::failNth(failing);
    const std::vector<std::string> replies = harness.session.receive(std::move(read));
    faults::clear();
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? boost::json::object{}
                           : boost::json::parse(replies.front()).as_object();
}

TEST(OutOfMemory, AFrameReadGivesItsRequestOrAnInternalRefusalWhicheverAllocationFails) {
    // A clip large enough to be hashed on a thread of its own beside its decoding.
    const std::size_t clipBytes = 3 << 19;
    testing::SessionHarness harness;
    boost::json::object request =
        harness.prepareRequest("clip", 1, testing::makeClip(), std::string(200, 'n'));
    request["byteLength"] = clipBytes;
    request["midiBase64"] = std::string(clipBytes / 3 * 4, 'A');
    const std::string text = boost::json::serialize(request);
    const ReadRequest expected = readFrame(text);
    ASSERT_TRUE(std::holds_alternative<HostRequest>(expected));
    int same = 0;
    int refused = 0;
    for (std::uint64_t failing = 1;; ++failing) {
        SCOPED_TRACE(failing);
        faults::failNth(failing);
        const ReadRequest read = readFrame(text);
        faults::clear();
        if (faults::failed() == 0) {
            break;  // past the reading's last allocation
        }
        // A thread that cannot be had leaves the hash to the reading thread, for the same result.
        (read == expected ? same : refused) += 1;
        if (read != expected) {
            EXPECT_EQ(read, outOfMemory);
        }
    }
    EXPECT_GT(same, 0);
    EXPECT_GT(refused, 0);
}

TEST(OutOfMemory, ARequestWhoseAnswerRunsOutIsAnsweredInternalWithItsId) {
    testing::SessionHarness harness;
    harness.bind();
    for (std::uint64_t failing = 1;; ++failing) {
        SCOPED_TRACE(failing);
        const boost::json::object request = harness.request("STATUS");
        const boost::json::object reply = replyFailingAt(harness, request, failing);
        EXPECT_EQ(reply.at("requestId"), request.at("requestId"));
        EXPECT_EQ(reply.at("session"), request.at("session"));
        if (faults::failed() == 0) {
            EXPECT_EQ(reply.at("type"), "STATUS");
            break;
        }
        if (reply.at("type") != "STATUS") {
            EXPECT_EQ(reply.at("type"), "ERROR");
            EXPECT_EQ(reply.at("code"), "INTERNAL");
        }
    }
}

// An ARM of three clips that runs out of memory anywhere, records half moved included, arms
// nothing: every record stays prepared and the lease free, until an attempt gets through.
TEST(OutOfMemory, AnArmThatRunsOutLeavesNoRecordArmed) {
    testing::SessionHarness harness;
    harness.bind();
    std::vector<std::string> ids;
    boost::json::array clips;
    for (int variant = 1; variant <= 3; ++variant) {
        const boost::json::object prepared =
            harness.prepare("clip-" + std::to_string(variant), 1, testing::makeClip(variant));
        ids.emplace_back(prepared.at("preparedId").as_string());
        boost::json::object clip;
        for (const char* key : {"preparedId", "clipId", "generation", "sha256"}) {
            clip[key] = prepared.at(key);
        }
        clips.push_back(std::move(clip));
    }
    for (std::uint64_t failing = 1;; ++failing) {
        SCOPED_TRACE(failing);
        boost::json::object request = harness.request("ARM");
        request["clips"] = clips;
        const boost::json::object reply = replyFailingAt(harness, request, failing);
        if (reply.at("type") == "ARMED") {
            EXPECT_GT(failing, 1u);
            EXPECT_TRUE(harness.session.tick().empty());
            for (const std::string& id : ids) {
                EXPECT_EQ(harness.record(id).at("state"), "armed");
            }
            break;
        }
        EXPECT_EQ(reply.at("code"), "INTERNAL");
        EXPECT_FALSE(harness.session.isWatching());
        EXPECT_TRUE(ArmLease::acquire(harness.cache.armLockURL()).has_value());
        for (const std::string& id : ids) {
            EXPECT_EQ(harness.record(id).at("state"), "prepared") << id;
        }
    }
}

// The line that reports running out of memory is written when no allocation can succeed.
TEST(OutOfMemory, ALogLineNeedsNoMemory) {
    testing::CapturedStandardError error;
    const std::string message(200, 'm');
    faults::failFrom(1);
    Log::note(message);
    faults::clear();
    EXPECT_EQ(faults::failed(), 0u);
    EXPECT_EQ(error.text(), "quenra-native-host: " + message + "\n");
}

}  // namespace
}  // namespace quenra
