// The processor a build is made for, as Apple names it; fixed when the program is built, not
// probed when it runs. Included by the platform layers only.
#pragma once

namespace quenra {

#if defined(__arm64__) || defined(__aarch64__)
inline constexpr const char* buildArchitecture = "arm64";
#elif defined(__x86_64__)
inline constexpr const char* buildArchitecture = "x86_64";
#else
#error "unsupported processor"
#endif

}  // namespace quenra
