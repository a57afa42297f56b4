// The host under a umask that takes the owner's own bits away, and under one that takes nothing:
// a whole drag works, and every folder and file it leaves has exactly its private mode.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/json/serialize.hpp>
#include <cstdio>
#include <filesystem>

#include "end_to_end/host_fixture.h"

namespace quenra::testing {
namespace {

class UmaskTest : public HostTest, public ::testing::WithParamInterface<mode_t> {};

TEST_P(UmaskTest, AWholeDragLeavesOnlyPrivateFoldersAndFiles) {
    const mode_t previous = ::umask(GetParam());
    HostProcess host = startHost();
    ::umask(previous);
    hello(host);
    std::vector<Requests::ListedClip> listed;
    for (const char* clipId : {"drums", "bass"}) {
        const PreparedClip clip = prepare(host, std::string("prepare-") + clipId, 600, clipId);
        listed.push_back({clip.preparedId, clip.clipId, clip.generation, clip.sha256});
    }
    boost::json::object armed = exchange(host, Requests::armList(session, "arm-1", listed));
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED") << boost::json::serialize(armed);
    dragSim({"begin", Requests::text(armed, "marker")});
    EXPECT_EQ(Requests::text(next(host, milliseconds(1000)), "type"), "PUBLISHED");
    EXPECT_EQ(Requests::text(exchange(host, Requests::status(session, "status-1")), "type"),
              "STATUS");

    EXPECT_EQ(static_cast<unsigned>(std::filesystem::status(cacheRoot()).permissions()), 0700u);
    std::size_t checked = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(cacheRoot())) {
        const auto permissions =
            static_cast<unsigned>(std::filesystem::symlink_status(item).permissions());
        EXPECT_EQ(permissions, item.is_directory() ? 0700u : 0600u) << item.path();
        ++checked;
    }
    // The entries folder, both lock files, and two entries of a folder and three files each.
    EXPECT_GE(checked, 3u + 2u * 4u);
}

INSTANTIATE_TEST_SUITE_P(Umasks, UmaskTest, ::testing::Values(mode_t{0277}, mode_t{0000}),
                         [](const auto& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Umask%04o", info.param);
                             return std::string(name);
                         });

}  // namespace
}  // namespace quenra::testing
