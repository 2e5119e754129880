#!/usr/bin/env bash
# The demo: in a registry of its own, registers our sample firmware, then runs the three
# operations against the built-in simulated KV70, non-interactively. Builds nothing
# (make demo builds first).
set -uo pipefail
build=${1:-build}
velmora="$build/bin/velmora"
if [ ! -x "$velmora" ]; then
  echo "velmora is not built yet (make demo builds it)"
  exit 1
fi
root=$(cd "$(dirname "$0")/.." && pwd)
sample="$root/resources/samples/velmora-sample.x"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/velmora-demo.XXXXXX")
export VELMORA_REGISTRY="$tmp/registry.db"
data="$tmp/velmora"
mkdir -p "$data/Firmware"
cp "$sample" "$data/Firmware/"
description="Sample application 2.1"

step() { printf '\n\033[1m### %s\033[0m\n' "$*"; }

# The firmware catalogue entry, in the plug-in's own layout, as a registry file.
cat > "$tmp/demo.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]
"InstallDirectory"="$data"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\$description]
"Description"="$description"
"DeviceType"="KV70"
"FirmwarePath"="$data/Firmware/velmora-sample.x"
"OriginalInstall"=dword:00000000
REG

failed=()
run() {
  local name=$1
  shift
  step "$name: velmora $*"
  "$velmora" "$@" </dev/null
  local status=$?
  [ $status -eq 0 ] || { echo "(exit status $status)"; failed+=("$name (exit status $status)"); }
}

run "registry" registry import "$tmp/demo.reg"
run "operations" list
run "configuration retrieval" run config --device sim --trace "$tmp/config-trace.txt"
run "software upgrade" run upgrade --device sim:prog-out="$tmp/program-flash.bin" \
    --firmware "$description" --yes
run "file system dump" run dump --device sim --log-file "$tmp/kv70-fs.log"

step "results"
echo "Registry:            $VELMORA_REGISTRY"
echo "Wire trace (config): $tmp/config-trace.txt ($(wc -l < "$tmp/config-trace.txt" 2>/dev/null || echo 0) lines)"
if [ -f "$tmp/kv70-fs.log" ]; then
  echo "File system dump:    $tmp/kv70-fs.log ($(stat -c %s "$tmp/kv70-fs.log") bytes)"
else
  echo "File system dump:    none written"
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "These steps did not succeed:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
echo "Every step succeeded."
