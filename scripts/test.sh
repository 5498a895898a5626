#!/usr/bin/env bash
# Builds everything twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test, builds the fuzz targets
# with clang and runs each briefly, makes the Debian packages of a
# development and a production build and checks them with lintian, then
# runs both test programs again for 32-bit ARM under emulation. Run as root
# so that the end-to-end tests can use chroot, loop devices and mounts.
#
# Each stage prints one line (and the lines that sum up its tests); its
# whole output goes to build-logs/STAGE.log. A stage that fails prints the
# end of its log and stops the run with a non-zero status.
#
# KESTAVIN_SKIP_ARMHF=1 leaves out the 32-bit ARM stage on a developer's
# machine; CI (CI=true) always runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
logs=build-logs
rm -rf "$logs"
mkdir -p "$logs"
started=$SECONDS
passed_stages=0

# stage NAME COMMAND...: runs COMMAND with its output in $logs/NAME.log.
stage() {
  local name=$1 log=$logs/$1.log start=$SECONDS status=0
  shift
  printf '%-22s ' "$name"
  # In a subshell of its own, outside any "||", so that "set -e" holds in
  # the stage's functions.
  set +e
  (set -e; "$@") >"$log" 2>&1 </dev/null
  status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    printf 'FAILED (status %d, %ds); the end of %s:\n' "$status" $((SECONDS - start)) "$log"
    tail -n 60 "$log" | sed 's/^/  | /'
    printf '\nstages: %d passed, 1 failed (%s); logs in %s/\n' "$passed_stages" "$name" "$logs"
    exit 1
  fi
  passed_stages=$((passed_stages + 1))
  printf 'ok  %4ds  %s\n' $((SECONDS - start)) "$log"
}

# The lines of a log that sum up its tests, indented.
results() { grep -E "$2" "$logs/$1.log" | sed -e 's/^[0-9]*: //' -e 's/^/    /' || true; }
gtest_results() { results "$1" '^([0-9]+: )?\[  (PASSED|FAILED|SKIPPED) +\] [0-9]+ test'; }

build_plain() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j "$jobs"
}
build_sanitized() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_SANITIZE=ON
  cmake --build build-asan -j "$jobs" --target unit_tests
}
sanitized_tests() {
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build-asan/unit_tests
}

# The packages of the development build and of a production build, each
# checked by lintian (no error, no warning). The production build trusts
# two made-up public keys that no one holds a private key for; it is built
# without optimisation, since only its packaging is looked at.
debian_packages() {
  local production=build-production
  cmake -S . -B "$production" -G Ninja -DCMAKE_BUILD_TYPE=None -DINSTALLER_TESTS=OFF \
    -DINSTALLER_ED25519_PUBLIC_KEY=0c8b6e5e3e3b5bd6b8f4d1c1d7c30a7e3bb2c2a04b3d8b8a9a4c9f5e2f0f6b7d \
    -DINSTALLER_LEGACY_PUBLIC_KEY=4d6f3c2b1a09e8d7c6b5a4938271605f4e3d2c1b0a99887766554433221100ff
  cmake --build "$production" -j "$jobs" --target installer npk npk_documents
  rm -rf build/debian "$production/debian"
  (cd build && cpack -G DEB -B debian)
  (cd "$production" && cpack -G DEB -B debian)
  local deb
  for deb in build/debian/*.deb "$production"/debian/*.deb; do
    echo "== $deb: $(stat -c %s "$deb") bytes"
    dpkg-deb --info "$deb"
    dpkg-deb --contents "$deb"
    # lintian says when it runs as root; that is not about the package.
    local lint=0
    lintian --fail-on error,warning --display-info "$deb" >"$logs/lintian.out" 2>&1 || lint=$?
    grep -v '^running with root privileges' "$logs/lintian.out" || true
    rm -f "$logs/lintian.out"
    [ "$lint" -eq 0 ]
    if [[ $deb == "$production"/* ]] && dpkg-deb --contents "$deb" | grep -q share/npk/keys; then
      echo "$deb: a production package carries the development keys"
      return 1
    fi
  done
}

stage setup bash scripts/setup.sh
stage build build_plain
stage tests bash -c 'cd build && ctest --output-on-failure -V'
gtest_results tests
results tests 'tests passed'
stage build-sanitized build_sanitized
stage tests-sanitized sanitized_tests
gtest_results tests-sanitized
# Every fuzz target for a short while (eight targets, 15 s each).
stage fuzz bash fuzz/run 15
results fuzz 'findings|skipped'
if command -v lintian >/dev/null; then
  stage debian-packages debian_packages
  results debian-packages '^== '
else
  echo "debian-packages        skipped: lintian is not installed"
fi

# Both test programs once more, built for 32-bit ARM and run under
# qemu-user: file offsets, inode numbers and times are 32-bit there unless
# the build says otherwise. The sysroot is cached outside the clone.
if [ "${KESTAVIN_SKIP_ARMHF:-0}" = 1 ] && [ "${CI:-}" != true ]; then
  echo "armhf                  skipped (KESTAVIN_SKIP_ARMHF=1)"
else
  stage armhf bash scripts/cross-test armhf
  gtest_results armhf
  # The interruption sweep once on a 32-bit CPU: the static programs above
  # cannot be interrupted through a preloaded library, so this stage builds
  # them linked dynamically against the same sysroot (about 5 minutes).
  stage armhf-sweep bash scripts/cross-test --sweep armhf
  results armhf-sweep '^\[ sweep    \]|^\[  (PASSED|FAILED|SKIPPED) +\] [0-9]+ test'
fi

total=$(cat "$logs"/*.log | grep -E '^([0-9]+: )?\[  PASSED  \] [0-9]+ test' |
        sed -E 's/.*\] ([0-9]+) test.*/\1/' | awk '{ n += $1 } END { print n + 0 }')
printf '\nall tests passed in %ds; logs in %s/\n' $((SECONDS - started)) "$logs"
echo "tests: ${total:-0} passed, 0 failed"
