#!/usr/bin/env bash
# The Windows installer as a user runs it, under wine in a wine prefix of its own: a
# silent installation into a chosen folder (/D=; without a space, since wine quotes an
# argument that has one and the installer takes /D= unquoted only), the installed files, the
# entry in the system's list of installed programs and the Start-menu entry; the
# installed velmora.exe's version, configuration retrieval and file-system dump on the
# in-process simulator; then a silent uninstallation, after which nothing of it may be
# left: no file or folder in the installation folder, no Start-menu entry, no entry in
# the list of installed programs.
# Usage: scripts/check-windows-installer.sh [windows build dir] [package dir]
set -euo pipefail
cd "$(dirname "$0")/.."
win=$(realpath "${1:-build-windows}")
packages=$(realpath "${2:-$win/packages}")
version=$(sed -n 's/^#define VELMORA_VERSION "\(.*\)"$/\1/p' "$win/generated/project_version.h")
setup="$packages/velmora-$version-setup.exe"
[ -f "$setup" ] || { echo "check-windows-installer: $setup is missing (make package-windows)" >&2; exit 1; }
work=$(mktemp -d "$win/check-installer.XXXXXX")
# Wine headless, as in check-windows.sh, but in a new prefix: what an earlier check
# installed or left cannot count.
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY VELMORA_REGISTRY VELMORA_DATA
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
. scripts/lib/check_steps.sh
wineboot -i >/dev/null 2>&1 || true
wineserver -w

target='C:\Velmora-check'
folder="$WINEPREFIX/drive_c/Velmora-check"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmora"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\velmora'

install() {
  wine "$setup" /S "/D=$target" || return 1
  wineserver -w
  ls -la "$folder" || return 1
  local f
  for f in velmora.exe kv70sim.exe DevKV70.dll libframework.dll libstdc++-6.dll \
    libgcc_s_seh-1.dll libwinpthread-1.dll README.txt uninstall.exe; do
    [ -f "$folder/$f" ] || { echo "not installed: $f"; return 1; }
  done
  ls "$menu"
  [ -f "$menu/Velmora.lnk" ] || return 1
  wine reg query "$key" /reg:64 | tr -d '\r' | tee "$work/key" || return 1
  grep -q "DisplayVersion.*REG_SZ.*$version" "$work/key" || return 1
  grep '^ *UninstallString ' "$work/key" | grep -qF "\"$target\\uninstall.exe\""
}
check silent-install install

installed_runs() {
  wine "$target\\velmora.exe" --version | tr -d '\r' | tee "$work/version" || return 1
  [ "$(cat "$work/version")" = "velmora $version" ] || return 1
  wine "$target\\kv70sim.exe" --version | tr -d '\r' | grep -qx "kv70sim $version" || return 1
  wine "$target\\velmora.exe" run config --device sim </dev/null || return 1
  wine "$target\\velmora.exe" run dump --device sim --log-file "$(winpath "$work/fs.log")" \
    </dev/null || return 1
  [ -s "$work/fs.log" ]
}
check installed-velmora-runs installed_runs

uninstall() {
  # The uninstaller copies itself away and runs from there: wait for every process of
  # the prefix to end.
  wine "$target\\uninstall.exe" /S || return 1
  wineserver -w
  if [ -e "$folder" ]; then
    echo "left in the installation folder:"
    find "$folder"
    return 1
  fi
  [ ! -e "$menu" ] || { echo "left in the Start menu:"; find "$menu"; return 1; }
  if wine reg query "$key" /reg:64 >/dev/null 2>&1; then
    echo "the list of installed programs still has $key"
    return 1
  fi
}
check silent-uninstall-leaves-nothing uninstall

echo "check-windows-installer: $failures failed, $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
