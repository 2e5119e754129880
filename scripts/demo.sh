#!/usr/bin/env bash
# The demo: the three operations against the built-in simulated KV70, non-interactively.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
if [ ! -x "$bin/velmora" ]; then
  echo "velmora is not built yet"
  exit 1
fi
"$bin/velmora" list
