# Read after project() when the Apple build is configured with toolchain.cmake. The host's
# libraries name /usr/include as their header folder, which would put glibc's headers into a
# compile for macOS. So /usr/include counts as a compiler default (CMake never passes it), and
# each compile sees only the libraries' own headers, linked into the build tree, and the
# framework stand-ins.
# The project enables Objective-C++ right after this; enabling it first keeps that from
# loading its compiler defaults again over the list below.
enable_language(OBJCXX)
list(APPEND CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES /usr/include)
list(APPEND CMAKE_OBJCXX_IMPLICIT_INCLUDE_DIRECTORIES /usr/include)
set(quenra_host_headers "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${quenra_host_headers}")
foreach(entry IN ITEMS boost utf8proc.h gtest gmock benchmark)
  if(NOT EXISTS "/usr/include/${entry}")
    message(FATAL_ERROR "/usr/include/${entry} is missing (scripts/deps installs it)")
  endif()
  file(CREATE_LINK "/usr/include/${entry}" "${quenra_host_headers}/${entry}" SYMBOLIC)
endforeach()
include_directories(SYSTEM "${CMAKE_CURRENT_LIST_DIR}/stand-ins" "${quenra_host_headers}")
