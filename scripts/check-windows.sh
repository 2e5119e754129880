#!/usr/bin/env bash
# The Windows build under wine: the plug-in's exports; every test of the Windows build
# through ctest, whose emulator (wine, from cmake/mingw-w64.cmake) starts each test
# program once (wine's start-up costs seconds a program); the host's runs
# against the in-process simulator (the dump log compared with the Linux build's); a
# REGEDIT4 round trip through wine's registry; and one run through the Win32 serial API
# on COM5, which wine's dosdevices folder points at the pty of the Linux kv70sim (ROM
# state), its wire trace compared with the Linux termios run's; and runs over RFC 2217
# (Winsock) against the Linux kv70sim --rfc2217: a config, and a 1 MiB dump whose log must
# equal the simulator's file-system flash byte for byte.
# Usage: scripts/check-windows.sh [windows build dir] [linux build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
win=$(realpath "${1:-build-windows}")
linux=$(realpath "${2:-build}")
bin="$win/bin"
work=$(mktemp -d "$win/check.XXXXXX")
# Wine headless: its own prefix inside the build, no display, no debug channels, and no
# offer to install Mono or Gecko (nothing here needs them).
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The runs' own registry store, so that the prefix's keys from an earlier check do not count.
export VELMORA_REGISTRY="$work/registry"
# Every simulator the steps start, so that an interrupted check leaves none behind.
sim_pids="$work/sim.pids"
cleanup() {
  local pid
  if [ -f "$sim_pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$sim_pids"
  fi
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$work"
}
trap cleanup EXIT
. scripts/lib/check_steps.sh

# The prefix is made once; later checks reuse it.
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 || true

# Exactly the seven exports, by name.
exports() {
  local table names
  table=$(x86_64-w64-mingw32-objdump -p "$bin/DevKV70.dll")
  # The rows below the table's heading: "[   0] DoOperation".
  names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" | sed 1d |
    grep -o '\] [A-Za-z]*$' | cut -c3- | tr '\n' ' ')
  echo "exports: $names"
  [ "$names" = 'DoOperation GetDescription GetNumberOfPages GetNumberOperations GetOperation GetPage GetText ' ]
}
check exports exports

# Every test of the Windows build through ctest, which starts each under the emulator;
# a failing program's GoogleTest output is shown.
began=$SECONDS
if ctest --test-dir "$win" --output-on-failure -j "$(nproc)"; then
  echo "ok    tests-under-wine ($((SECONDS - began)) s)"
else
  echo "FAIL  tests-under-wine ($((SECONDS - began)) s)"
  failures=$((failures + 1))
fi

check run-config-sim wine "$bin/velmora.exe" run config --device sim </dev/null

dump_compare() {
  wine "$bin/velmora.exe" run dump --device sim --log-file "$(winpath "$work/win.log")" </dev/null
  VELMORA_REGISTRY="$work/linux-registry.db" "$linux/bin/velmora" run dump --device sim \
    --log-file "$work/linux.log" </dev/null
  cmp "$work/win.log" "$work/linux.log"
}
check run-dump-sim-log-matches-linux dump_compare

registry_round_trip() {
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\CheckWindows]\r\n"Text"="a \\"quoted\\" text"\r\n"Number"=dword:0000002a\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\CheckWindows\\Below]\r\n"Empty"=""\r\n\r\n' >"$work/in.reg"
  wine "$bin/velmora.exe" registry import "$(winpath "$work/in.reg")"
  wine "$bin/velmora.exe" registry export "$(winpath "$work/out.reg")" 'HKEY_LOCAL_MACHINE\SOFTWARE\CheckWindows'
  diff <(sort "$work/in.reg") <(sort "$work/out.reg")
}
check registry-round-trip-through-wine registry_round_trip

# A fresh simulated KV70: kv70sim with the given arguments; the first line it prints (its
# pty, or the address it listens on) is left in $work/NAME.at, its process id in
# $work/NAME.pid. Steps that run at once each name their own.
start_sim() { # name, arguments...
  local name=$1
  shift
  : >"$work/$name.at"
  "$linux/bin/kv70sim" "$@" >"$work/$name.at" 2>"$work/$name.err" &
  echo $! >"$work/$name.pid"
  echo $! >>"$sim_pids"
  for _ in $(seq 100); do
    [ -s "$work/$name.at" ] && return 0
    sleep 0.1
  done
  echo "kv70sim printed neither pty nor address"
  return 1
}
sim_at() { head -1 "$work/$1.at"; }
stop_sim() { # name
  local pid
  pid=$(cat "$work/$1.pid")
  kill "$pid" 2>/dev/null || true
  # Not a child of this shell when the step runs in the background: wait until it is gone.
  while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
}

# The Linux simulators run faster than real time, as the network tests run them (device
# times scaled alike, so that the plug-in's own waits, in real time, still fit them).
speedup=32
scaled_times="boot-ms=$((500 * speedup)),frame-gap-ms=$((100 * speedup))"

# The same operation through termios on Linux and through the Win32 serial API on COM5,
# each against a new simulator, both at once (each waits some 13 s for the boot ROM's
# signalling, in real time); the wire traces must carry the same bytes and events in the
# same order (times and read-burst boundaries depend on the moment).
com5_run() {
  start_sim com-linux --pty --speedup "$speedup" "$scaled_times,state=rom" || return 1
  start_sim com-win --pty --speedup "$speedup" "$scaled_times,state=rom" || return 1
  ln -sfn "$(sim_at com-win)" "$WINEPREFIX/dosdevices/com5"
  VELMORA_REGISTRY="$work/linux-com.db" "$linux/bin/velmora" run config --port 5 \
    --device "$(sim_at com-linux)" --trace "$work/linux.trace" </dev/null &
  local linux_run=$! status=0
  wine "$bin/velmora.exe" run config --port 5 --device COM5 \
    --trace "$(winpath "$work/win.trace")" </dev/null || status=1
  wait "$linux_run" || status=1
  stop_sim com-linux
  stop_sim com-win
  [ "$status" -eq 0 ] || return 1
  /usr/bin/python3 "$src/scripts/trace_bytes.py" "$work/linux.trace" >"$work/linux.wire"
  /usr/bin/python3 "$src/scripts/trace_bytes.py" "$work/win.trace" >"$work/win.wire"
  [ -s "$work/linux.wire" ] && diff "$work/linux.wire" "$work/win.wire"
}

# The Linux simulator served with RFC 2217 on the loopback address.
start_rfc2217_sim() { # name, settings
  start_sim "$1" --rfc2217 127.0.0.1:0 --speedup "$speedup" "$scaled_times,$2"
}

rfc2217_config() {
  start_rfc2217_sim rfc-config serial=KV70-WINE-0001 || return 1
  wine "$bin/velmora.exe" run config --device "rfc2217://$(sim_at rfc-config)" \
    </dev/null | tee "$work/rfc2217-config.txt"
  stop_sim rfc-config
  grep -q KV70-WINE-0001 "$work/rfc2217-config.txt"
}

rfc2217_dump() {
  start_rfc2217_sim rfc-dump "fs-out=$work/fs-out.bin" || return 1
  wine "$bin/velmora.exe" run dump --device "rfc2217://$(sim_at rfc-dump)" \
    --log-file "$(winpath "$work/rfc2217.log")" </dev/null
  stop_sim rfc-dump # the simulator writes its flash as it stops
  [ "$(stat -c %s "$work/rfc2217.log")" -eq $((1024 * 1024)) ] &&
    cmp "$work/rfc2217.log" "$work/fs-out.bin"
}

# The runs against the Linux simulators wait mostly on the line's time: all at once.
check_started run-config-com5-trace-matches-linux-termios com5_run
check_started run-config-rfc2217-through-winsock rfc2217_config
check_started run-dump-rfc2217-log-matches-sim-flash rfc2217_dump
checks_finished

echo "check-windows: $failures failed, $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
