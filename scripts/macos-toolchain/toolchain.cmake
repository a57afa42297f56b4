# Configures the Apple build on Linux for scripts/check-macos: Zig's clang with the macOS libc
# and libc++ headers it bundles (zig-c++), stand-ins for the frameworks Zig lacks (stand-ins/),
# and the Boost, utf8proc, GoogleTest and Google Benchmark headers of the host's packages
# (host_headers.cmake). Objects only: nothing can be linked for macOS here, so try_compile
# builds static libraries and install_name_tool is never run.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_CXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/zig-c++")
set(CMAKE_OBJCXX_COMPILER "${CMAKE_CURRENT_LIST_DIR}/zig-c++")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_INSTALL_NAME_TOOL /bin/true)
# The libraries' CMake and pkg-config files are the host's, in Debian's multiarch folders.
set(CMAKE_LIBRARY_ARCHITECTURE x86_64-linux-gnu)
# Named for the project, so that the small projects of try_compile do not read it.
set(CMAKE_PROJECT_QuenraBridge_INCLUDE "${CMAKE_CURRENT_LIST_DIR}/host_headers.cmake")
