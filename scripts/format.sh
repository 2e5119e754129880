#!/usr/bin/env bash
# Formats every C and C++ source git knows with the project's .clang-format; with
# --check, changes nothing and fails naming each file that formatting would change.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.c' '*.cpp' '*.h' | grep -v '^build')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! "$format" --dry-run --Werror "$f" >/dev/null 2>&1; then
      echo "not formatted: $f (make format)"
      bad=1
    fi
  done
  [ $bad -eq 0 ] && echo "formatting: ${#files[@]} files as .clang-format wants"
  exit $bad
fi
"$format" -i "${files[@]}"
