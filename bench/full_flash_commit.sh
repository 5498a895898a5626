#!/usr/bin/env bash
# What a commit costs on a nearly full flash against one with room: a
# stream upgrade of a package of FILES files of 8 KiB each, on an ext4
# flash image on the disk of the current directory (loop-mounted), once
# with room beside the old files and once filled so that only about half
# of the new files fit beside them and the rest must reuse the space of
# the files they replace. Counts the flushes with strace and times five
# runs of each with /usr/bin/time.
#
#   bench/full_flash_commit.sh [INSTALLER] [FILES]
#
# Needs root (loop devices, mounts, the installer's change of root).
set -euo pipefail
cd "$(dirname "$0")/.."
installer=$(realpath "${1:-build/installer}")
files=${2:-200}
npk=build/npk
work=$(mktemp -d "$PWD/bench-flash.XXXXXX")
root="$work/root"
cleanup() {
  mountpoint -q "$root/flash" && umount "$root/flash"
  rm -rf "$work"
}
trap cleanup EXIT

make_package() {  # version seed
  rm -rf "$work/tree" && mkdir -p "$work/tree/www/bench"
  for i in $(seq 1 "$files"); do
    head -c 8192 </dev/urandom >"$work/tree/www/bench/file$i"
  done
  "$npk" build --name bench --version "$1" --files "$work/tree" -o "$work/bench-$1.npk" >/dev/null
}
make_package 7.1
make_package 7.2
package_kib=$((files * 8))
truncate -s $((package_kib * 3 + 8192))K "$work/flash.img"
mkfs.ext4 -q -F -b 4096 -m 0 "$work/flash.img"

fresh_root() {  # full: 0 or 1
  mountpoint -q "$root/flash" && umount "$root/flash"
  rm -rf "$root" && mkdir -p "$root/flash" "$root/ram" "$root/rw/pckg/.download" "$root/tmp" "$root/bin"
  mount -o loop "$work/flash.img" "$root/flash"
  rm -rf "${root:?}/flash/"* "$root/flash/".[!.]* 2>/dev/null || true
  mkdir -p "$root/flash/var/pdb" "$root/flash/boot"
  "$installer" -r "$root" - <"$work/bench-7.1.npk" >/dev/null
  if [ "$1" = 1 ]; then
    # Leaves half the package's size available.
    free_kib=$(df -k --output=avail "$root/flash" | tail -1)
    fill=$((free_kib - package_kib / 2))
    if [ "$fill" -gt 0 ]; then head -c $((fill * 1024)) /dev/zero >"$root/flash/filler"; fi
  fi
  sync
}

for full in 0 1; do
  label=$([ $full = 1 ] && echo "nearly full flash" || echo "flash with room")
  fresh_root $full
  strace -f -c -o "$work/strace" -e trace=fsync,fdatasync,syncfs,sync \
    "$installer" -r "$root" - <"$work/bench-7.2.npk" >"$work/output" || { cat "$work/output"; exit 1; }
  echo "$label: flushes of one upgrade of $files files of 8 KiB:"
  grep -E '^ *[0-9].*(fsync|fdatasync|syncfs|sync)$|total' "$work/strace" | awk '{print "  " $NF ": " $4}'
  rm -f "$work/time"
  for run in 1 2 3 4 5; do
    fresh_root $full
    /usr/bin/time -o "$work/time" -a -f '%e' "$installer" -r "$root" - <"$work/bench-7.2.npk" >/dev/null
  done
  echo "  elapsed, five runs: $(tr '\n' ' ' <"$work/time")s"
done
