#!/bin/sh
# Runs every fuzz program of a build for a bounded time each.
#   fuzz/run_fuzzers.sh <build dir> <seconds per fuzzer>
# fuzz_<name> starts from a scratch copy of fuzz/corpus/<name>/ (the seeds in the tree
# stay as they are) and uses fuzz/<name>.dict when present. A crash, a leak or an
# undefined-behaviour report fails the run; the reproducer is kept in the build
# directory's fuzz-artifacts/.
set -eu
build=${1:?build directory}
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

status=0
found=0
for program in "$build"/bin/fuzz_*; do
  [ -x "$program" ] || continue
  found=1
  name=$(basename "$program")
  short=${name#fuzz_}
  corpus="$work/$short"
  mkdir -p "$corpus"
  [ -d "$here/corpus/$short" ] && cp "$here/corpus/$short"/* "$corpus"/ 2>/dev/null || true
  dict=""
  [ -f "$here/$short.dict" ] && dict="-dict=$here/$short.dict"
  printf '%s: %s s ... ' "$name" "$seconds"
  if "$program" "$corpus" $dict -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
       -print_final_stats=1 -artifact_prefix="$artifacts/$name-" >"$work/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
    echo "ok (${runs:-?} runs)"
  else
    echo "FAILED"
    tail -n 60 "$work/$name.log"
    status=1
  fi
done
[ "$found" = 1 ] || { echo "no fuzz programs in $build/bin" >&2; exit 1; }
exit $status
