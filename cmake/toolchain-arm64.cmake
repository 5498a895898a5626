# Cross build for arm64 (aarch64-linux-gnu): scripts/cross-test arm64
set(CROSS_ARCH arm64)
set(CROSS_TRIPLE aarch64-linux-gnu)
set(CROSS_QEMU aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
