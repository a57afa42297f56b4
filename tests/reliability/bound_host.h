// What the tests that kill real hosts stand on: a private home, whose cache they audit, and
// hosts started in it as Chrome starts them, each greeted with HELLO.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/temporary_directory.h"
#include "test_peer/host_process.h"
#include "test_peer/requests.h"

namespace quenra::testing {

class BoundHostTest : public ::testing::Test {
  protected:
    // The built host, answered HELLO_OK; throws std::runtime_error otherwise.
    TestPeer::HostProcess startBound() {
        TestPeer::HostProcess host = TestPeer::HostProcess::spawn(
            TestPeer::defaultHostPath(), {"chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/"},
            environment_);
        host.send(TestPeer::Requests::hello(session_, "hello"));
        const auto reply = host.readFrame();
        if (!reply ||
            TestPeer::Requests::text(TestPeer::Requests::parse(*reply), "type") != "HELLO_OK") {
            throw std::runtime_error("the host did not answer HELLO");
        }
        return host;
    }

    // The hosts' cache.
    std::string root() const { return home_.join(".cache/tech.ostrell.quenra.bridge"); }

    TemporaryDirectory home_;
    std::vector<std::string> environment_ = TestPeer::isolatedEnvironment(home_.path());
    TestPeer::Requests::Session session_{"killed-host-session-001", 1};
};

}  // namespace quenra::testing
