#include "bridge_core/file_names.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bridge_core/utf8.h"

namespace quenra {
namespace {

// Most suggested names are plain ASCII, and ASCII needs none of the Unicode tables: it is valid
// UTF-8 and already composed, its categories are fixed, and each of its characters is a
// grapheme cluster of its own except a CR followed by LF. Answering it directly spares a host
// the page faults of touching those tables for the first time in its first PREPARE.
bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char character) { return static_cast<unsigned char>(character) < 0x80; });
}

// What a scalar becomes in a base name.
enum class Role { kept, space, dropped, other };

// Letters and digits are L and Nd, the space is Zs, the controls are Cc, and the rest of ASCII
// is punctuation or symbols.
Role asciiRoleOf(char32_t scalar) {
    if ((scalar >= 'a' && scalar <= 'z') || (scalar >= 'A' && scalar <= 'Z') ||
        (scalar >= '0' && scalar <= '9')) {
        return Role::kept;
    }
    if (scalar == ' ') {
        return Role::space;
    }
    if (scalar < 0x20 || scalar == 0x7F) {
        return Role::dropped;
    }
    return Role::other;
}

Role unicodeRoleOf(char32_t scalar) {
    switch (utf8proc_category(static_cast<utf8proc_int32_t>(scalar))) {
        case UTF8PROC_CATEGORY_LU:
        case UTF8PROC_CATEGORY_LL:
        case UTF8PROC_CATEGORY_LT:
        case UTF8PROC_CATEGORY_LM:
        case UTF8PROC_CATEGORY_LO:
        case UTF8PROC_CATEGORY_MN:
        case UTF8PROC_CATEGORY_MC:
        case UTF8PROC_CATEGORY_ME:
        case UTF8PROC_CATEGORY_ND:
        case UTF8PROC_CATEGORY_NL:
        case UTF8PROC_CATEGORY_NO:
            return Role::kept;
        case UTF8PROC_CATEGORY_ZS:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return Role::space;
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
            return Role::dropped;
        default:
            return Role::other;
    }
}

// The scalars of text; a byte that does not start a valid UTF-8 sequence reads as U+FFFD.
std::vector<char32_t> scalarsOf(std::string_view text) {
    std::vector<char32_t> scalars;
    scalars.reserve(text.size());
    for (const UTF8::Scalar& scalar : UTF8::decode(text)) {
        scalars.push_back(scalar.value);
    }
    return scalars;
}

std::string utf8Of(const std::vector<char32_t>& scalars) {
    std::string text;
    for (const char32_t scalar : scalars) {
        UTF8::append(text, scalar);
    }
    return text;
}

std::string composed(std::string_view text) {
    if (isASCII(text)) {
        return std::string(text);
    }
    const std::string valid = utf8Of(scalarsOf(text));
    utf8proc_uint8_t* result = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(valid.data()),
                     static_cast<utf8proc_ssize_t>(valid.size()), &result,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(result, &std::free);
    if (length < 0) {
        // Only allocation can fail on valid input; the uncomposed text is still a fair name.
        return valid;
    }
    return std::string(reinterpret_cast<const char*>(result), static_cast<std::size_t>(length));
}

bool isTrimmed(char character) {
    return character == '.' || character == ' ';
}

void trimEnd(std::string& text) {
    while (!text.empty() && isTrimmed(text.back())) {
        text.pop_back();
    }
}

void trimBoth(std::string& text) {
    trimEnd(text);
    std::size_t start = 0;
    while (start < text.size() && isTrimmed(text[start])) {
        ++start;
    }
    text.erase(0, start);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view lowerSuffix) {
    if (text.size() < lowerSuffix.size()) {
        return false;
    }
    const std::string_view tail = text.substr(text.size() - lowerSuffix.size());
    for (std::size_t index = 0; index < tail.size(); ++index) {
        char character = tail[index];
        if (character >= 'A' && character <= 'Z') {
            character = static_cast<char>(character - 'A' + 'a');
        }
        if (character != lowerSuffix[index]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string FileNames::truncated(std::string_view text, std::size_t maxBytes) {
    if (isASCII(text)) {
        std::size_t length = std::min(text.size(), maxBytes);
        if (length > 0 && length < text.size() && text[length - 1] == '\r' &&
            text[length] == '\n') {
            --length;
        }
        return std::string(text.substr(0, length));
    }
    const std::vector<char32_t> scalars = scalarsOf(text);
    std::string result;
    std::string cluster;
    utf8proc_int32_t state = 0;
    for (std::size_t index = 0; index < scalars.size(); ++index) {
        if (index > 0 && utf8proc_grapheme_break_stateful(
                             static_cast<utf8proc_int32_t>(scalars[index - 1]),
                             static_cast<utf8proc_int32_t>(scalars[index]), &state)) {
            if (result.size() + cluster.size() > maxBytes) {
                return result;
            }
            result += cluster;
            cluster.clear();
        }
        UTF8::append(cluster, scalars[index]);
    }
    if (result.size() + cluster.size() <= maxBytes) {
        result += cluster;
    }
    return result;
}

std::string FileNames::safeName(std::string_view suggested) {
    static constexpr std::array<std::string_view, 2> midiExtensions{".midi", ".mid"};
    return safeName(suggested, ".mid", midiExtensions);
}

std::string FileNames::safeName(std::string_view suggested, std::string_view appended,
                                std::span<const std::string_view> recognised) {
    const std::string normal = composed(suggested);

    std::string_view lastPiece;
    std::size_t start = 0;
    while (start <= normal.size()) {
        std::size_t slash = normal.find('/', start);
        if (slash == std::string::npos) {
            slash = normal.size();
        }
        if (slash > start) {
            lastPiece = std::string_view(normal).substr(start, slash - start);
        }
        start = slash + 1;
    }

    const auto roleOf = isASCII(lastPiece) ? asciiRoleOf : unicodeRoleOf;
    std::string base;
    for (const char32_t scalar : scalarsOf(lastPiece)) {
        switch (roleOf(scalar)) {
            case Role::kept:
                UTF8::append(base, scalar);
                break;
            case Role::space:
                if (base.empty() || base.back() != ' ') {
                    base.push_back(' ');
                }
                break;
            case Role::dropped:
                break;
            case Role::other:
                if (scalar < 0x80 &&
                    allowedPunctuation.find(static_cast<char>(scalar)) != std::string_view::npos) {
                    base.push_back(static_cast<char>(scalar));
                } else {
                    base.push_back('-');
                }
                break;
        }
    }

    trimEnd(base);
    for (const std::string_view extension : recognised) {
        if (endsWithIgnoringCase(base, extension)) {
            base.resize(base.size() - extension.size());
            break;
        }
    }
    trimBoth(base);
    base = truncated(base, maxBaseBytes);
    trimBoth(base);
    if (base.empty()) {
        base = fallbackBase;
    }
    return base + std::string(appended);
}

}  // namespace quenra
