# Cross build for s390x (s390x-linux-gnu): scripts/cross-test s390x
set(CROSS_ARCH s390x)
set(CROSS_TRIPLE s390x-linux-gnu)
set(CROSS_QEMU s390x)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
