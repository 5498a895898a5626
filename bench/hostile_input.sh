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
trap 'rm -rf "$work"' EXIT

fresh_root() {
  rm -rf "$work/root"
  mkdir -p "$work/root"/{flash/var/pdb,flash/boot,ram,rw/pckg/.download,tmp,bin}
}

# measure NAME [installer arguments...] < input
measure() {
  local name=$1
  shift
  /usr/bin/time -v -o "$work/time" strace -f -qq -e trace=write,pwrite64 -e signal=none \
      -o "$work/strace" "$installer" -q -r "$work/root" "$@" >/dev/null 2>&1 || true
  local seconds rss written
  seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  written=$(awk '/write\((3|[4-9]|[1-9][0-9]+),/ { n = $NF; if (n ~ /^[0-9]+$/) sum += n }
                 END { print sum + 0 }' "$work/strace")
  printf '%-34s %10s  peak %8s kB  written %12s bytes\n' "$name" "$seconds" "$rss" "$written"
}

for input in bomb entries deep note; do
  fresh_root
  measure "stream: $input.npk" - <"$inputs/$input.npk"
done

fresh_root
for i in 1 2 3; do cp "$inputs/note.npk" "$work/root/rw/pckg/.download/note$i.npk"; done
measure "install run: three noted candidates" </dev/null

fresh_root
"$installer" -q -r "$work/root" - <"$inputs/provides.npk" >/dev/null 2>&1 || true
measure "install run: 65,535 provided names" </dev/null

fresh_root
mkdir -p "$work/root/flash/var/pdb/big"
cp "$inputs/bundle.npk" "$work/root/flash/var/pdb/big/image"
measure "install run: 10,000-member bundle" </dev/null
