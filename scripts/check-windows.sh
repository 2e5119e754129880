#!/usr/bin/env bash
# The Windows build under wine: the plug-in's exports, the host's runs against the
# in-process simulator (the dump log compared with the Linux build's), a REGEDIT4 round
# trip through wine's registry, and one run through the Win32 serial API on COM5, which
# wine's dosdevices folder points at the pty of the Linux kv70sim (ROM state).
# Usage: scripts/check-windows.sh [windows build dir] [linux build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
win=$(realpath "${1:-build-windows}")
linux=$(realpath "${2:-build}")
bin="$win/bin"
work=$(mktemp -d "$win/check.XXXXXX")
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all
# The runs' own registry store, so that the prefix's keys from an earlier check do not count.
export VELMORA_REGISTRY="$work/registry"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com5"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() {   # name, command...
  local name=$1; shift
  if "$@" >"$work/$name.out" 2>&1; then echo "ok    $name"
  else echo "FAIL  $name"; tail -20 "$work/$name.out"; failures=$((failures + 1)); fi
}
winpath() { echo "Z:${1//\//\\}"; }

wineboot -i >/dev/null 2>&1 || true

# Exactly the seven exports, by name.
exports() {
  x86_64-w64-mingw32-objdump -p "$bin/DevKV70.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -nE 's/^\s+\[ *[0-9]+\] (.*)$/\1/p' |
    tr '\n' ' ' | tee /dev/stderr |
    grep -qx 'DoOperation GetDescription GetNumberOfPages GetNumberOperations GetOperation GetPage GetText '
}
check exports exports

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

com5_run() {
  "$linux/bin/kv70sim" --pty state=rom >"$work/sim.path" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -s "$work/sim.path" ] && break; sleep 0.1; done
  ln -sfn "$(head -1 "$work/sim.path")" "$WINEPREFIX/dosdevices/com5"
  wine "$bin/velmora.exe" run config --port 5 --device COM5 </dev/null
}
check run-config-com5-through-win32-serial com5_run

echo "check-windows: $failures failed"
[ "$failures" -eq 0 ]
