# Cross build for armhf boards with Debian's arm-linux-gnueabihf cross compiler.
#
#   cmake -S . -B build-armhf \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
#
# Needs the Debian packages g++-arm-linux-gnueabihf (the compiler, and the
# target's C and C++ libraries under /usr/arm-linux-gnueabihf) and qemu-user
# (qemu-arm, through which ctest runs the target's programs here).

set(CMAKE_SYSTEM_PROCESSOR arm)
set(KELVINLOG_CROSS_TRIPLE arm-linux-gnueabihf)
set(KELVINLOG_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
