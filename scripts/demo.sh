#!/usr/bin/env bash
# The main job on a bundled demo router root: builds the installer, lays
# out a small router root with an installed package database, and lists
# it with `installer -r <root> --show`. Run as root (the installer changes
# its root directory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target installer >/dev/null

root=$(pwd)/build/demo-root
rm -rf "$root"
mkdir -p "$root"/{flash/var/pdb,flash/boot,ram,rw/pckg/.download,tmp}
entry() {  # name version-word buildtime files...
  local dir="$root/flash/var/pdb/$1"
  mkdir -p "$dir"
  echo "$2 $3" >"$dir/version"
  shift 3
  printf '%s\n' "$@" >"$dir/files"
}
# Versions are packed: major<<24 | minor<<16 | kind<<8 | build.
entry system   $(( (7<<24) | (16<<16) ))            1733000000 /flash/bin/init
entry routing  $(( (7<<24) | (16<<16) | (0x66<<8) | 2 )) 1733000100 /flash/lib/routing.so
entry wireless $(( (7<<24) | (16<<16) | (0x63<<8) | 1 )) 1733000200 /flash/lib/wifi.so
echo "system 0 0" >"$root/flash/var/pdb/routing/deps"
echo "user" >"$root/flash/var/pdb/wireless/disabled"

echo "demo router root: $root"
build/installer -r "$root" --show
