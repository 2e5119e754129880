#!/usr/bin/env bash
# The Debian packages the Windows build and its tests under wine need (`make windows`,
# `make check-windows`), only when some are missing: the MinGW-w64 cross compiler (posix
# threads), wine (64-bit), GoogleTest's sources (built for Windows by the build) and
# CLI11's headers; NSIS for the installer. Kept apart from install-deps.sh so that the Linux build and
# `make test` do not wait for them. check-windows also uses the Linux build (velmora and
# kv70sim), whose packages install-deps.sh installs.
set -euo pipefail
packages=(cmake ninja-build make python3 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev wine wine64 googletest libcli11-dev nsis)
. "$(dirname "$0")/lib/install_missing.sh"
install_missing "${packages[@]}"
