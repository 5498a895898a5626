#!/usr/bin/env bash
# Measures what hostile input costs one installer binary: run time, peak
# memory (/usr/bin/time -v) and bytes written to files other than standard
# output and error (strace), for each input of hostile_inputs on a fresh
# temporary router root. Run it on two builds to compare them.
#   bench/hostile_input.sh INSTALLER HOSTILE_INPUTS_DIR
set -euo pipefail
installer=$(realpath "$1")
inputs=$(realpath "$2")
work=$(mktemp -d)
trap 'umount "$work/root/flash" "$work/root/ram" 2>/dev/null; rm -rf "$work"' EXIT

# A fresh root; with "small", "/flash" and "/ram" are 64 MiB file systems
# of their own, as on a router.
fresh_root() {
  umount "$work/root/flash" "$work/root/ram" 2>/dev/null || true
  rm -rf "$work/root"
  mkdir -p "$work/root"/{flash,ram,rw/pckg/.download,tmp,bin}
  if [ "${1:-}" = small ]; then
    mount -t tmpfs -o size=64m tmpfs "$work/root/flash"
    mount -t tmpfs -o size=64m tmpfs "$work/root/ram"
  fi
  mkdir -p "$work/root"/flash/{var/pdb,boot}
}

# measure NAME [installer arguments...] < input
measure() {
  local name=$1
  shift
  # Time and memory from a plain run; the bytes from a traced run on a
  # root made afresh the same way.
  local input
  input=$(mktemp -p "$work")
  cat >"$input"
  /usr/bin/time -v -o "$work/time" "$installer" -q -r "$work/root" "$@" <"$input" >/dev/null 2>&1 || true
  fresh_root "$size"
  $setup
  strace -f -qq -e trace=write,writev,pwrite64 -e signal=none -o "$work/strace" \
      "$installer" -q -r "$work/root" "$@" <"$input" >/dev/null 2>&1 || true
  local seconds rss written
  seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  written=$(awk '/(write|writev|pwrite64)\((3|[4-9]|[1-9][0-9]+),/ { n = $NF; if (n ~ /^[0-9]+$/) sum += n }
                 END { print sum + 0 }' "$work/strace")
  printf '%-34s %10s  peak %8s kB  written %12s bytes\n' "$name" "$seconds" "$rss" "$written"
}

setup=true
size=small
for input in bomb entries deep note; do
  fresh_root small
  measure "stream: $input.npk" - <"$inputs/$input.npk"
done

size=
noted() { for i in 1 2 3; do cp "$inputs/note.npk" "$work/root/rw/pckg/.download/note$i.npk"; done; }
setup=noted
fresh_root
noted
measure "install run: three noted candidates" </dev/null

provided() { "$installer" -q -r "$work/root" - <"$inputs/provides.npk" >/dev/null 2>&1 || true; }
setup=provided
fresh_root
provided
measure "install run: 65,535 provided names" </dev/null

kept() {
  mkdir -p "$work/root/flash/var/pdb/big"
  cp "$inputs/bundle.npk" "$work/root/flash/var/pdb/big/image"
}
setup=kept
fresh_root
kept
measure "install run: 10,000-member bundle" </dev/null
