# Shared part of the cross toolchain files: the CPU's toolchain file sets
# CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR and includes this file.
#
# The build uses Debian's cross compiler for the triple and a Debian sysroot
# holding the CPU's libraries (scripts/cross-test prepares it; pass another
# with -DCMAKE_SYSROOT=...). Programs are linked statically, so that
# qemu-user runs them, and the tests' child processes, without a library
# path. -DCROSS_DYNAMIC=ON links them against the sysroot's shared libraries
# instead (scripts/cross-test --sweep): only a dynamically linked installer
# loads the library that the interruption sweep preloads. qemu-user then
# needs the sysroot as its library prefix (QEMU_LD_PREFIX, or -L).
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

# The checks' test projects read this file too, and see the choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CROSS_DYNAMIC)
if(NOT CROSS_DYNAMIC)
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()

find_program(CROSS_EMULATOR qemu-${CROSS_QEMU}-static)
if(CROSS_EMULATOR AND CROSS_DYNAMIC)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_EMULATOR} -L ${CMAKE_SYSROOT})
elseif(CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_EMULATOR})
endif()
