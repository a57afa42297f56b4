// What the GNUstep build's tests stand on: the end-to-end host fixture (a private HOME and
// runtime folder, the built host), the pasteboard server of gnustep/with-pasteboard-server,
// which every child reaches through TEMP, and quenra-pasteboard-peer playing the browser and the
// drop target.
#pragma once

#include <gtest/gtest.h>

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "end_to_end/host_fixture.h"
#include "support/temporary_directory.h"

namespace quenra::testing {

class PasteboardTest : public HostTest {
  protected:
    PasteboardTest() {
        const char* temp = std::getenv("TEMP");
        const char* configuration = std::getenv("GNUSTEP_CONFIG_FILE");
        if (temp == nullptr || configuration == nullptr) {
            return;  // SetUp fails the test
        }
        environment.push_back(std::string("TEMP=") + temp);
        // GNUstep finds the user's folders through its configuration, not HOME: the server's,
        // with this test's home in place of the server's. The host keeps its cache in the
        // user's caches folder, which it creates inside the user's Library, which it expects
        // (a Mac home always has ~/Library).
        const std::string ours = home.join("GNUstep.conf");
        writeFileText(ours, readFileText(configuration) +
                                "\nGNUSTEP_USER_DIR_LIBRARY=" + home.join("GNUstep/Library") +
                                "\nGNUSTEP_USER_DEFAULTS_DIR=" + home.join("GNUstep/Defaults") +
                                "\n");
        environment.push_back("GNUSTEP_CONFIG_FILE=" + ours);
        std::filesystem::create_directories(home.join("GNUstep/Library"));
    }

    // The folder this test's host keeps its cache in.
    std::string gnustepCacheRoot() const {
        return home.join("GNUstep/Library/Caches/tech.ostrell.quenra.bridge");
    }

    void SetUp() override {
        // Without the server a GNUstep client starts one of its own, which nobody stops.
        ASSERT_NE(std::getenv("QUENRA_PASTEBOARD_SERVER"), nullptr)
            << "run through gnustep/with-pasteboard-server, as ctest does";
    }

    std::string peer(const std::vector<std::string>& arguments) {
        TestPeer::Completed done = TestPeer::run(QUENRA_PASTEBOARD_PEER, arguments, environment);
        EXPECT_EQ(done.status, ExitStatus::exitedWith(0)) << done.error;
        return done.output;
    }

    // The browser starts a drag whose plain text is text; the change count it declared.
    std::int64_t browserDrag(const std::string& text) {
        return std::stoll(peer({"browser", text}));
    }

    // What a drop target reads off the drag pasteboard.
    boost::json::object dropTarget() { return boost::json::parse(peer({"drop"})).as_object(); }
};

}  // namespace quenra::testing
