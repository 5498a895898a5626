#!/usr/bin/env bash
# Builds everything twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test, builds the fuzz targets
# with clang and runs each briefly, then runs both test programs again for
# 32-bit ARM under emulation. Run as root so that the
# end-to-end tests can use chroot, loop devices and mounts.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs" --target unit_tests
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build-asan/unit_tests
# Every fuzz target for a short while (seven targets, 15 s each).
bash fuzz/run 15

# Both test programs once more, built for 32-bit ARM and run under
# qemu-user: file offsets, inode numbers and times are 32-bit there unless
# the build says otherwise. The sysroot is cached outside the clone.
bash scripts/cross-test armhf
echo "all tests passed"
