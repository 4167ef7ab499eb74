# Shared part of the toolchain files for Debian's cross compilers. The
# including file sets CMAKE_SYSTEM_PROCESSOR, KELVINLOG_CROSS_TRIPLE (the
# compiler prefix and the target tree /usr/<triple>) and KELVINLOG_CROSS_QEMU.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER   ${KELVINLOG_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KELVINLOG_CROSS_TRIPLE}-g++)

# Libraries, headers and CMake packages come from the target's tree only;
# programs run during the build (code generators, strip, ...) are the build
# machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${KELVINLOG_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Target programs (the tests among them) run under user-mode emulation, with
# the target's dynamic loader and libraries taken from the cross tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVINLOG_CROSS_QEMU} -L /usr/${KELVINLOG_CROSS_TRIPLE})

# Debian ships no GoogleTest for this architecture next to the cross
# compiler, so find_package(GTest) finds nothing in the target tree. The
# sources in /usr/src/googletest (package googletest) build for any target;
# the tests compile them with the cross compiler from this path.
set(KELVINLOG_GTEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources, built with the cross compiler for the tests")
