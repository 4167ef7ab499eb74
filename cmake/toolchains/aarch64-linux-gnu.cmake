# Cross build for arm64 boards with Debian's aarch64-linux-gnu cross compiler.
#
#   cmake -S . -B build-arm64 \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
#
# Needs the Debian packages g++-aarch64-linux-gnu (the compiler, and the
# target's C and C++ libraries under /usr/aarch64-linux-gnu) and qemu-user
# (qemu-aarch64, through which ctest runs the target's programs here).

set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KELVINLOG_CROSS_TRIPLE aarch64-linux-gnu)
set(KELVINLOG_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
