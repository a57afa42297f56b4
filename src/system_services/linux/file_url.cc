#include "system_services/linux/file_url.h"

#include <algorithm>
#include <cctype>

#include "bridge_core/hex.h"

namespace quenra {
namespace {

constexpr std::string_view scheme = "file://";

bool keptInPath(unsigned char byte) {
    if (std::isalnum(byte) != 0 && byte < 0x80) {
        return true;
    }
    return std::string_view("-._~/!$&'()*+,=:@").find(static_cast<char>(byte)) !=
           std::string_view::npos;
}

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

}  // namespace

std::optional<std::string> FileURL::fromPath(std::string_view path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    std::string url(scheme);
    url.reserve(scheme.size() + path.size() * 3);
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        if (keptInPath(byte)) {
            url.push_back(character);
        } else {
            url.push_back('%');
            Hex::appendByte(url, byte, Hex::Case::upper);
        }
    }
    return url;
}

std::optional<std::string> FileURL::toPath(std::string_view url) {
    if (url.size() < scheme.size() || !equalsIgnoringCase(url.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !equalsIgnoringCase(host, "localhost")) {
        return std::nullopt;
    }
    const std::string_view encoded = rest.substr(slash);
    std::string path;
    path.reserve(encoded.size());
    for (std::size_t index = 0; index < encoded.size(); ++index) {
        if (encoded[index] != '%') {
            path.push_back(encoded[index]);
            continue;
        }
        if (encoded.size() - index < 3) {
            return std::nullopt;
        }
        const int high = hexValue(encoded[index + 1]);
        const int low = hexValue(encoded[index + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        const auto byte = static_cast<char>(high * 16 + low);
        if (byte == '/' || byte == '\0') {
            path.append(encoded.substr(index, 3));
        } else {
            path.push_back(byte);
        }
        index += 2;
    }
    return path;
}

}  // namespace quenra
