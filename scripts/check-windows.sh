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
sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
cleanup() {
  stop_sim
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
if ctest --test-dir "$win" --output-on-failure -j "$(nproc)"; then
  echo "ok    tests-under-wine"
else
  echo "FAIL  tests-under-wine"
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
# pty, or the address it listens on) is left in $work/sim.at.
start_sim() {
  : >"$work/sim.at"
  "$linux/bin/kv70sim" "$@" >"$work/sim.at" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/sim.at" ] && return 0
    sleep 0.1
  done
  echo "kv70sim printed neither pty nor address"
  return 1
}

# The same operation through termios on Linux and through the Win32 serial API on COM5,
# each against a new simulator; the wire traces must carry the same bytes and events in
# the same order (times and read-burst boundaries depend on the moment).
com5_run() {
  start_sim --pty state=rom
  VELMORA_REGISTRY="$work/linux-com.db" "$linux/bin/velmora" run config --port 5 \
    --device "$(head -1 "$work/sim.at")" --trace "$work/linux.trace" </dev/null
  stop_sim
  start_sim --pty state=rom
  ln -sfn "$(head -1 "$work/sim.at")" "$WINEPREFIX/dosdevices/com5"
  wine "$bin/velmora.exe" run config --port 5 --device COM5 \
    --trace "$(winpath "$work/win.trace")" </dev/null
  stop_sim
  /usr/bin/python3 "$src/scripts/trace_bytes.py" "$work/linux.trace" >"$work/linux.wire"
  /usr/bin/python3 "$src/scripts/trace_bytes.py" "$work/win.trace" >"$work/win.wire"
  [ -s "$work/linux.wire" ] && diff "$work/linux.wire" "$work/win.wire"
}
check run-config-com5-trace-matches-linux-termios com5_run

# The Linux simulator served with RFC 2217 on the loopback address, faster than real time
# as the network tests run it (device times scaled alike).
rfc2217_speedup=32
start_rfc2217_sim() { # settings
  start_sim --rfc2217 127.0.0.1:0 --speedup "$rfc2217_speedup" \
    "boot-ms=$((500 * rfc2217_speedup)),frame-gap-ms=$((100 * rfc2217_speedup)),$1"
}

rfc2217_config() {
  start_rfc2217_sim serial=KV70-WINE-0001
  wine "$bin/velmora.exe" run config --device "rfc2217://$(head -1 "$work/sim.at")" \
    </dev/null | tee "$work/rfc2217-config.txt"
  stop_sim
  grep -q KV70-WINE-0001 "$work/rfc2217-config.txt"
}
check run-config-rfc2217-through-winsock rfc2217_config

rfc2217_dump() {
  start_rfc2217_sim "fs-out=$work/fs-out.bin"
  wine "$bin/velmora.exe" run dump --device "rfc2217://$(head -1 "$work/sim.at")" \
    --log-file "$(winpath "$work/rfc2217.log")" </dev/null
  stop_sim # the simulator writes its flash as it stops
  [ "$(stat -c %s "$work/rfc2217.log")" -eq $((1024 * 1024)) ] &&
    cmp "$work/rfc2217.log" "$work/fs-out.bin"
}
check run-dump-rfc2217-log-matches-sim-flash rfc2217_dump

echo "check-windows: $failures failed, $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
