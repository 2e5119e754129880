#!/usr/bin/env bash
# The Debian packages the Windows build and its tests under wine need (`make windows`,
# `make check-windows`), only when some are missing. Kept apart from install-deps.sh so
# that the Linux build and `make test` do not wait for them.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix wine wine64 libgtest-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
