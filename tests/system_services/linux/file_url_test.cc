#include "system_services/linux/file_url.h"

#include <gtest/gtest.h>

namespace quenra {
namespace {

using namespace std::string_literals;

TEST(FileURL, FromPathEncodesWhatAURLPathCannotHold) {
    struct Case {
        std::string path;
        std::optional<std::string> url;
    };
    const std::vector<Case> cases = {
        {"/tmp/a.mid", "file:///tmp/a.mid"},
        {"/tmp/a b.mid", "file:///tmp/a%20b.mid"},
        {"/", "file:///"},
        {"/dir/", "file:///dir"},
        {"/dir//", "file:///dir"},
        {"/-._~!$&'()*+,=:@", "file:///-._~!$&'()*+,=:@"},
        {"/a#b?c%d;e", "file:///a%23b%3Fc%25d%3Be"},
        {"/[]{}|\\^`\"<>", "file:///%5B%5D%7B%7D%7C%5C%5E%60%22%3C%3E"},
        {"/\t\x7f", "file:///%09%7F"},
        {"/\xed\x95\x9c\xea\xb8\x80.mid", "file:///%ED%95%9C%EA%B8%80.mid"},
        {"/caf\xc3\xa9 (1).mid", "file:///caf%C3%A9%20(1).mid"},
        {"relative/a.mid", std::nullopt},
        {"", std::nullopt},
        {"/a\0b"s, std::nullopt},
    };
    for (const Case& item : cases) {
        EXPECT_EQ(FileURL::fromPath(item.path), item.url) << item.path;
        if (item.url && item.path.size() > 1 && item.path.back() != '/') {
            EXPECT_EQ(FileURL::toPath(*item.url), item.path) << *item.url;
        }
    }
}

TEST(FileURL, ToPathAcceptsOnlyLocalFileURLs) {
    struct Case {
        std::string url;
        std::optional<std::string> path;
    };
    const std::vector<Case> cases = {
        {"file:///tmp/x", "/tmp/x"},
        {"file://localhost/tmp/x", "/tmp/x"},
        {"FILE://LocalHost/tmp/x", "/tmp/x"},
        {"file:///a%20b%3b", "/a b;"},
        {"file:///a?query#fragment", "/a"},
        {"file:///a%2Fb", "/a%2Fb"},
        {"file:///a%00b", "/a%00b"},
        {"file:///", "/"},
        {"file:///a%zz", std::nullopt},
        {"file:///a%2", std::nullopt},
        {"file:///a%", std::nullopt},
        {"file://host/tmp/x", std::nullopt},
        {"file://", std::nullopt},
        {"file:/tmp/x", std::nullopt},
        {"http://localhost/tmp/x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& item : cases) {
        EXPECT_EQ(FileURL::toPath(item.url), item.path) << item.url;
    }
}

}  // namespace
}  // namespace quenra
