# Shared part of the cross toolchain files: the CPU's toolchain file sets
# CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR and includes this file.
#
# The build uses Debian's cross compiler for the triple and a Debian sysroot
# holding the CPU's libraries (scripts/cross-test prepares it; pass another
# with -DCMAKE_SYSROOT=...). Programs are linked statically, so that
# qemu-user runs them, and the tests' child processes, without a library
# path.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLE}-g++)

if(NOT CMAKE_SYSROOT)
  set(CMAKE_SYSROOT /var/cache/kestavin-cross/${CROSS_ARCH})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

find_program(CROSS_EMULATOR qemu-${CROSS_QEMU}-static)
if(CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_EMULATOR})
endif()
