#!/usr/bin/env bash
# The main job on a bundled demo router root: builds the installer and the
# package tool, builds a small set of signed packages with npk (development
# keys), lays out a router root with them in its download directory, runs
# the install run, and shows the package listing and the post-install log.
# A second run shows what happens when everything is installed already.
# Run as root (the installer changes its root directory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target installer npk >/dev/null

work=$(pwd)/build/demo
root=$work/root
rm -rf "$work"
mkdir -p "$work/trees" "$work/packages"
mkdir -p "$root"/{flash/var/pdb,flash/boot,ram,rw/pckg/.download,tmp}
export SOURCE_DATE_EPOCH=1733000000
npk=build/npk

tree() {  # tree NAME FILE CONTENT: a one-file directory tree
  mkdir -p "$work/trees/$1/$(dirname "$2")"
  printf '%s\n' "$3" >"$work/trees/$1/$2"
}
tree system bin/init "init of the demo system"
tree routing lib/routing.so "routing engine"
tree wireless lib/wifi.so "wireless driver"
tree lte lib/lte.so "modem driver"
tree ppp lib/ppp.so "point-to-point"
tree legacy-ppp lib/legacy-ppp.so "old point-to-point"
mkdir -p "$work/trees/suite-image"
echo "branding-free demo bundle" >"$work/trees/suite-image/README"

p=$work/packages
$npk build --name system --version 7.16 --files "$work/trees/system" \
  -o "$p/system.npk"
$npk build --name routing --version 7.16.2 --files "$work/trees/routing" \
  --depends "system >= 7.16" --provides "router priority 1" -o "$p/routing.npk"
$npk build --name wireless --version 7.16rc1 --files "$work/trees/wireless" \
  --depends "system" -o "$p/wireless.npk"
$npk build --name ppp --version 7.16 --files "$work/trees/ppp" \
  --depends "system" --conflicts "legacy-ppp" -o "$p/ppp.npk"
$npk build --name lte --version 7.16 --files "$work/trees/lte" -o "$p/lte.npk"
$npk bundle --name extras --version 7.16 --image "$work/trees/suite-image" \
  -o "$p/extras.npk" "$p/lte.npk"
rm "$p/lte.npk"
cp "$p"/*.npk "$root/rw/pckg/.download/"

echo "== packages built with npk"
$npk verify "$p"/*.npk
echo
echo "== first install run on $root"
build/installer -r "$root"
echo
echo "== installer --show"
build/installer -r "$root" --show
echo
echo "== second run: the packages left in the download directory are installed already"
echo "   (the bundle, which carries an image, was moved into the database)"
ls "$root/rw/pckg/.download/"
build/installer -r "$root"
echo
echo "== post-install log (/flash/postlog)"
cat "$root/flash/postlog"
