# Cross build for mipsel (mipsel-linux-gnu): scripts/cross-test mipsel
set(CROSS_ARCH mipsel)
set(CROSS_TRIPLE mipsel-linux-gnu)
set(CROSS_QEMU mipsel)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
