#include "bridge_core/file_names.h"

namespace quenra {

std::string FileNames::truncated(std::string_view text, std::size_t maxBytes) {
    return std::string(text.substr(0, maxBytes));
}

std::string FileNames::safeName(std::string_view) {
    return std::string(fallbackBase) + ".mid";
}

}  // namespace quenra
