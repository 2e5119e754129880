#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the Debian package
# (make package, make check) need, only when some are missing. Runs as root (CI, the
# project's machines) or through sudo.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config make
          libgtest-dev libgmock-dev libsqlite3-dev libcli11-dev srecord binutils libbenchmark-dev
          tmux python3 libpq-dev postgresql libssl-dev
          ser2net python3-serial qt6-base-dev fonts-dejavu-core
          dpkg-dev help2man man-db lintian)
. "$(dirname "$0")/lib/install_missing.sh"
install_missing "${packages[@]}"
