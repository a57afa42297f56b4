#include "bridge_core/limits.h"

namespace quenra {

const Limits& Limits::standard() {
    static const Limits limits{};
    return limits;
}

}  // namespace quenra
