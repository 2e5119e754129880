#!/bin/sh
# Runs every fuzz program of a build for a bounded time each.
#   fuzz/run_fuzzers.sh <build dir> <seconds per fuzzer> [programs at once]
# fuzz_<name> starts from a scratch copy of fuzz/corpus/<name>/ (the seeds in the tree
# stay as they are) and uses fuzz/<name>.dict when present. A crash, a leak or an
# undefined-behaviour report fails the run; the reproducer is kept in the build
# directory's fuzz-artifacts/. Each program is one process on one core, so as many run at
# once as there are cores (the third argument, default nproc): the same time each, the
# whole pass that much shorter.
set -eu
build=${1:?build directory}
seconds=${2:-20}
jobs=${3:-$(nproc)}
here=$(cd "$(dirname "$0")" && pwd)
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# One fuzz program; its verdict goes to $work/<name>.result, its output to <name>.log.
fuzz_one() {
  program=$1
  name=$(basename "$program")
  short=${name#fuzz_}
  corpus="$work/$short"
  mkdir -p "$corpus"
  [ -d "$here/corpus/$short" ] && cp "$here/corpus/$short"/* "$corpus"/ 2>/dev/null || true
  dict=""
  [ -f "$here/$short.dict" ] && dict="-dict=$here/$short.dict"
  if "$program" "$corpus" $dict -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
       -print_final_stats=1 -artifact_prefix="$artifacts/$name-" >"$work/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
    echo "ok (${runs:-?} runs)" >"$work/$name.result"
  else
    echo "FAILED" >"$work/$name.result"
  fi
}

programs=""
for program in "$build"/bin/fuzz_*; do
  [ -x "$program" ] && programs="$programs $program"
done
[ -n "$programs" ] || { echo "no fuzz programs in $build/bin" >&2; exit 1; }

running=0
for program in $programs; do
  fuzz_one "$program" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait
    running=0
  fi
done
wait

status=0
for program in $programs; do
  name=$(basename "$program")
  result=$(cat "$work/$name.result" 2>/dev/null || echo "FAILED (no verdict)")
  echo "$name: $seconds s ... $result"
  case $result in
    ok*) ;;
    *)
      tail -n 60 "$work/$name.log" 2>/dev/null || true
      status=1
      ;;
  esac
done
exit $status
