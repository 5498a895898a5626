#!/usr/bin/env bash
# The static installer of another CPU, as a router image ships it: its size
# and its peak memory in one install, run under qemu-user.
#
#   sudo bench/cross_static.sh arm64|armhf|mipsel|s390x|x86-64
#
# Builds `installer` with -DINSTALLER_STATIC=ON (Release, stripped) for the
# CPU in build-ARCH-static/ against the sysroot of scripts/cross-test
# (prepared by it, once), and the host's npk and bench/make_tree in
# build-bench-cross/. It then makes one package of 16 MiB in 2000 files
# (make_tree, as bench/run's `t16`) and installs it by a stream run into a
# fresh router root under `/usr/bin/time -v`, and runs `--show` on an empty
# root the same way. Peak memory is that of the emulator running the
# installer: it holds its translated code besides the installer's memory, so
# compare CPUs by these figures, and with the x86-64 build under the same
# emulator (x86-64), not with bench/run's native figures.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-}
case "$arch" in
  arm64) qemu=aarch64 ;;
  armhf) qemu=arm ;;
  mipsel) qemu=mipsel ;;
  s390x) qemu=s390x ;;
  x86-64) qemu=x86_64 ;;
  *) echo "usage: bench/cross_static.sh arm64|armhf|mipsel|s390x|x86-64" >&2; exit 2 ;;
esac
build=build-$arch-static
host=build-bench-cross
for pkg in time qemu-user-static; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$pkg" >/dev/null
done

static=(-DCMAKE_BUILD_TYPE=Release -DINSTALLER_STATIC=ON -DINSTALLER_TESTS=OFF)
if [ "$arch" = x86-64 ]; then
  cmake -S . -B "$build" -G Ninja "${static[@]}" >/dev/null
else
  KESTAVIN_CROSS_PREPARE_ONLY=1 bash scripts/cross-test "$arch"
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake" \
    -DCMAKE_SYSROOT="${KESTAVIN_CROSS_CACHE:-/var/cache/kestavin-cross}/$arch" "${static[@]}" \
    --no-warn-unused-cli >/dev/null
fi
cmake --build "$build" -j 2 --target installer >/dev/null 2>&1
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DINSTALLER_TESTS=OFF >/dev/null
cmake --build "$host" -j 2 --target npk make_tree >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$host/make_tree" "$work/tree" $((16 << 20)) 2000
"$host/npk" build --name t16 --version 1.0 --architecture i386 --files "$work/tree" -o "$work/t16.npk" >/dev/null

# peak ROOT_NAME ARGS...: the emulated installer's peak resident set in KiB.
peak() {
  local root=$work/$1
  shift
  "$host/npk" root init "$root" >/dev/null
  /usr/bin/time -v -o "$work/time" "qemu-$qemu-static" "$build/installer" -r "$root" "$@" >/dev/null
  sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time"
}

echo "$arch static installer: $(stat -c %s "$build/installer") bytes"
echo "  --show on an empty root, under qemu-$qemu: peak RSS $(peak empty --show) KiB"
rss=$(peak t16 - <"$work/t16.npk")
[ -d "$work/t16/flash/var/pdb/t16" ] || { echo "bench/cross_static.sh: t16 was not installed" >&2; exit 1; }
echo "  stream install of t16 (16 MiB, 2000 files), under qemu-$qemu: peak RSS $rss KiB"
