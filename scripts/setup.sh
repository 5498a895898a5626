#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the demo need and
# this machine lacks. Safe to run again.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in build-essential cmake ninja-build zlib1g-dev libssl-dev libgtest-dev libgmock-dev \
           squashfs-tools openssl util-linux kmod e2fsprogs clang libclang-rt-14-dev lintian; do
  have "$pkg" || need+=("$pkg")
done
# ISA-L's inflater, where Debian has it for this CPU (x86-64 and arm64);
# without it the build inflates with zlib.
if apt-cache show libisal-dev >/dev/null 2>&1; then have libisal-dev || need+=(libisal-dev); fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
