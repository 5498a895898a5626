#!/usr/bin/env bash
# What a commit costs on the disk: the flushes (fsync, fdatasync, syncfs,
# sync) and the time of a stream upgrade of a package of FILES files, in a
# router root on the file system of the current directory (a real disk,
# not tmpfs), counted with strace and timed with /usr/bin/time.
#
#   bench/commit_flushes.sh [INSTALLER] [FILES]
#
# INSTALLER defaults to build/installer; run it again with another build to
# compare. Needs root (the installer changes its root).
set -euo pipefail
cd "$(dirname "$0")/.."
installer=$(realpath "${1:-build/installer}")
files=${2:-200}
npk=build/npk
work=$(mktemp -d "$PWD/bench-root.XXXXXX")
trap 'rm -rf "$work"' EXIT

make_package() {  # version content
  rm -rf "$work/tree" && mkdir -p "$work/tree/www/bench"
  for i in $(seq 1 "$files"); do printf '%s %s\n' "$2" "$i" >"$work/tree/www/bench/file$i"; done
  "$npk" build --name bench --version "$1" --files "$work/tree" -o "$work/bench-$1.npk" >/dev/null
}
make_package 7.1 old
make_package 7.2 new
fresh_root() {  # a root with version 7.1 installed and on the disk
  root="$work/root"
  rm -rf "$root"
  mkdir -p "$root/flash/var/pdb" "$root/flash/boot" "$root/ram" "$root/rw/pckg/.download" "$root/tmp" "$root/bin"
  "$installer" -r "$root" - <"$work/bench-7.1.npk" >/dev/null
  sync
}

fresh_root
strace -f -c -o "$work/strace" -e trace=fsync,fdatasync,syncfs,sync \
  "$installer" -r "$root" - <"$work/bench-7.2.npk" >/dev/null
echo "flushes of one upgrade of $files files with $installer:"
grep -E '^ *[0-9].*(fsync|fdatasync|syncfs|sync)$|total' "$work/strace" | awk '{print "  " $NF ": " $4}'
fresh_root
cp "$work/bench-7.2.npk" "$root/rw/pckg/.download/"
strace -f -c -o "$work/strace" -e trace=fsync,fdatasync,syncfs,sync "$installer" -r "$root" >/dev/null
echo "flushes of the same upgrade by an install run (post-install log included):"
grep -E '^ *[0-9].*(fsync|fdatasync|syncfs|sync)$|total' "$work/strace" | awk '{print "  " $NF ": " $4}'
echo "elapsed time of the stream upgrade, five runs:"
for run in 1 2 3 4 5; do
  fresh_root
  /usr/bin/time -o "$work/time" -a -f '  %e s' "$installer" -r "$root" - <"$work/bench-7.2.npk" >/dev/null
done
cat "$work/time"
