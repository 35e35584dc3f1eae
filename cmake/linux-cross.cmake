# Cross-compiles for Linux on another processor with Debian's cross tool chain
# (package g++-TRIPLET) and runs what it builds under qemu-user. Included by
# the per-target files, which set `triplet`, CMAKE_SYSTEM_PROCESSOR and
# KORVANE_DEBIAN_ARCH (Debian's name for the target).
set(CMAKE_SYSTEM_NAME Linux)
find_program(KORVANE_CROSS_COMPILER ${triplet}-g++)
if(NOT KORVANE_CROSS_COMPILER)
  message(FATAL_ERROR "No ${triplet}-g++: missing Debian package g++-${triplet} (install it with: tools/install-deps.sh)")
endif()
set(CMAKE_CXX_COMPILER ${KORVANE_CROSS_COMPILER})

# Libraries and headers: the tool chain's own (/usr/TRIPLET) and the target's
# zlib for the tests, which tools/install-deps.sh unpacks into /usr/local/TRIPLET.
set(CMAKE_FIND_ROOT_PATH /usr/${triplet} /usr/local/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs run under qemu, with the target's shared libraries from the
# tool chain's directory; the CLI tests run Korvane the same way.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${triplet})
