// Fresh random UUIDs, for names and session ids that must never repeat.
#pragma once

#include <string>

namespace quenra::UUID {

// A version 4 UUID as 36 upper-case, hyphenated characters, from the system's secure
// generator. A generator that fails ends the process: such a name could not be trusted fresh.
std::string random();

}  // namespace quenra::UUID
