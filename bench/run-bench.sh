#!/usr/bin/env bash
# Runs every benchmark program of a build and prints their figures as one table.
#   bench/run-bench.sh <build dir>
# Each program keeps its own limits and exit status; a program over its limit (or
# failing) marks its rows and makes this script exit 1. The programs' own output is kept
# in <build dir>/bench-logs/ for the details.
set -uo pipefail
build=${1:?build directory}
bin="$build/bin"
logs="$build/bench-logs"
mkdir -p "$logs"
rows="$logs/rows"
: >"$rows"
status=0

# row section what measured floor ratio limit verdict
row() { printf '%s|%s|%s|%s|%s|%s|%s\n' "$@" >>"$rows"; }

run() {
  local name=$1
  shift
  if [ ! -x "$bin/$name" ]; then
    row missing "$name" "not built" "" "" "" "SKIP"
    return 1
  fi
  printf 'running %s ...\n' "$name" >&2
  "$bin/$name" "$@" >"$logs/$name.out" 2>"$logs/$name.err"
  local rc=$?
  # 77: the program had nothing to compare with (a tool missing).
  if [ $rc -ne 0 ] && [ $rc -ne 77 ]; then
    status=1
    row failed "$name" "exit status $rc" "see $logs/$name.err" "" "" "FAIL"
  fi
  return $rc
}

verdict() {  # ratio limit (ratio at most limit) -> ok / OVER
  awk -v r="$1" -v l="$2" 'BEGIN { print (r + 0 <= l + 0) ? "ok" : "OVER" }'
}

# The three operations end to end, and the cost per MiB (our own program).
run operations_bench
grep '^ROW|' "$logs/operations_bench.out" | cut -d'|' -f2- >>"$rows"

# velmora-gui: the event loop during a real-time dump, and the time to the first window.
if run gui_bench; then :; fi
grep '^ROW|' "$logs/gui_bench.out" 2>/dev/null | cut -d'|' -f2- >>"$rows"

# Service records: a record's write, and the line decoder over a dump's trace.
if run records_bench; then :; fi
grep '^ROW|' "$logs/records_bench.out" 2>/dev/null | cut -d'|' -f2- >>"$rows"

# The dump's and the upgrade's own benchmarks (their developers' programs).
if run dump_bench; then :; fi
sed -n 's/^\([0-9]*\) MiB dump: \([0-9.]*\) s virtual; floor at 38400 bit\/s \([0-9.]*\) s.*ratio \([0-9.]*\) (limit \([0-9.]*\)).*/\1 \2 \3 \4 \5/p' \
  "$logs/dump_bench.out" | while read -r mb t f r l; do
  row operation "dump_bench: ${mb} MiB reading" "$t s" "$f s (requests + replies)" "$r" "<= $l" "$(verdict "$r" "$l")"
done
sed -n 's/^\([0-9]*\) MiB dump: \([0-9.]*\) s CPU, peak memory +\([0-9]*\) kB.*/\1 \2 \3/p; s/^\([0-9]*\) MiB dump: [0-9.]* s virtual, \([0-9.]*\) s CPU, peak memory +\([0-9]*\) kB.*/\1 \2 \3/p' \
  "$logs/dump_bench.out" | while read -r mb cpu kb; do
  row cost "dump_bench: dump ${mb} MiB" "$(awk -v c="$cpu" -v m="$mb" 'BEGIN { printf "%.3f s CPU/MiB", c / m }')" \
    "peak +$kb KiB" "" "" "ok"
done

if run upgrade_bench; then :; fi
sed -n 's/^programming: \([0-9.]*\) s virtual.*floor at 38400 bit\/s \([0-9.]*\) s; ratio \([0-9.]*\) (limit \([0-9.]*\)).*/\1 \2 \3 \4/p' \
  "$logs/upgrade_bench.out" | while read -r t f r l; do
  row operation "upgrade_bench: programming 2 MiB" "$t s" "$f s (requests only)" "$r" "<= $l" "$(verdict "$r" "$l")"
done

# S-record reading against srec_cat, same file, same run.
run srec_throughput
ours=$(sed -n 's/^CSRecordFile: *\([0-9.]*\) s *\([0-9.]*\) MiB\/s/\1 s, \2 MiB\/s/p' "$logs/srec_throughput.out")
theirs=$(sed -n 's/^srec_cat: *\([0-9.]*\) s *\([0-9.]*\) MiB\/s/\1 s, \2 MiB\/s/p' "$logs/srec_throughput.out")
ratio=$(sed -n 's/^ratio (ours \/ srec_cat throughput): \([0-9.]*\)/\1/p' "$logs/srec_throughput.out")
if [ -n "$ratio" ]; then
  v=$(awk -v r="$ratio" 'BEGIN { print (r + 0 >= 1) ? "ok" : "OVER" }')
  row srecord "16 MiB file: CSRecordFile vs srec_cat" "$ours" "srec_cat $theirs" "$ratio" ">= 1.00 (throughput)" "$v"
fi
# The whole-file check before an upgrade touches the device: a floor of its own.
sed -n 's/^whole-file check: *\([0-9.]*\) s *\([0-9.]*\) MiB\/s (floor \([0-9]*\))/\1 \2 \3/p' \
  "$logs/srec_throughput.out" | while read -r t rate floor; do
  v=$(awk -v r="$rate" -v f="$floor" 'BEGIN { print (r + 0 >= f + 0) ? "ok" : "OVER" }')
  row srecord "16 MiB file: whole-file check" "$t s, $rate MiB/s" "" "" ">= $floor MiB/s" "$v"
done

# read(2) calls of the termios backend over a pty.
run serial_syscalls
sed -n 's/^termios reads: \([0-9]*\) syscalls for 64 KiB = \([0-9.]*\) per KiB (limit \([0-9.]*\)).*/\1 \2 \3/p' \
  "$logs/serial_syscalls.out" | while read -r calls per limit; do
  row serial "termios over a pty, 64 KiB" "$calls read calls" "" "$per per KiB" "<= $limit" "$(verdict "$per" "$limit")"
done

# Dumps over RFC 2217 at real line speed: a 35 s window of the read phase, one device
# and then six at once (about a minute and a half).
if [ -x "$bin/velmora" ] && [ -x "$bin/kv70sim" ]; then
  printf 'running rfc2217_bench ...\n' >&2
  python3 "$(dirname "$0")/rfc2217_bench.py" "$bin/velmora" "$bin/kv70sim" "$logs" \
    >"$logs/rfc2217_bench.out" 2>"$logs/rfc2217_bench.err" || status=1
  grep '^ROW|' "$logs/rfc2217_bench.out" | cut -d'|' -f2- >>"$rows"
else
  row missing rfc2217_bench "velmora or kv70sim not built" "" "" "" "SKIP"
fi

# A station of 32 slots dumping at real line speed for a minute (about two minutes and a
# half with the start).
if [ -x "$bin/velmora" ] && [ -x "$bin/kv70sim" ]; then
  printf 'running station_bench ...\n' >&2
  python3 "$(dirname "$0")/station_bench.py" "$bin/velmora" "$bin/kv70sim" "$logs" \
    >"$logs/station_bench.out" 2>"$logs/station_bench.err" || status=1
  grep '^ROW|' "$logs/station_bench.out" | cut -d'|' -f2- >>"$rows"
else
  row missing station_bench "velmora or kv70sim not built" "" "" "" "SKIP"
fi

grep -q '|OVER$\|FAIL$' "$rows" && status=1

awk -F'|' '
  BEGIN { w[1]=9; w[2]=40; w[3]=18; w[4]=50; w[5]=14; w[6]=22; w[7]=7 }
  { for (i = 1; i <= 7; ++i) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NR }
  END {
    split("section|what|measured|floor / detail|ratio|limit|verdict", h, "|")
    line = ""
    for (i = 1; i <= 7; ++i) { printf "%-*s  ", w[i], h[i]; line = line sprintf("%s  ", sprintf("%*s", w[i], "")) }
    printf "\n"; gsub(/ /, "-", line); print line
    for (r = 1; r <= n; ++r) {
      for (i = 1; i <= 7; ++i) printf "%-*s  ", w[i], cell[r, i]
      printf "\n"
    }
  }' "$rows"
exit $status
