# Cross build for armhf (arm-linux-gnueabihf): scripts/cross-test armhf
set(CROSS_ARCH armhf)
set(CROSS_TRIPLE arm-linux-gnueabihf)
set(CROSS_QEMU arm)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
