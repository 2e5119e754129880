#!/usr/bin/env bash
# The Windows installer velmora-<version>-setup.exe (NSIS) from the Windows build:
# velmora.exe, kv70sim.exe, DevKV70.dll, libframework.dll, and the DLLs they import
# that Windows does not have (the MinGW runtime), found by following their import
# tables (objdump -p) into the build's bin/ and the MinGW-w64 sysroot; all stripped.
# Usage: scripts/make-windows-installer.sh [windows build dir] [output dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
win=$(realpath "${1:-build-windows}")
out=$(realpath -m "${2:-$win/packages}")
bin="$win/bin"
prefix=x86_64-w64-mingw32
export LC_ALL=C.UTF-8

version=$(sed -n 's/^#define VELMORA_VERSION "\(.*\)"$/\1/p' "$win/generated/project_version.h")
[ -n "$version" ] || { echo "make-windows-installer: no version in $win/generated" >&2; exit 1; }
setup="$out/velmora-$version-setup.exe"

# Where an imported DLL comes from: the build, else the MinGW runtime; none is Windows'.
find_dll() {
  local name=$1 found
  if [ -f "$bin/$name" ]; then echo "$bin/$name"; return; fi
  found=$("$prefix-g++-posix" -print-file-name="$name")
  if [ "$found" != "$name" ] && [ -f "$found" ]; then realpath "$found"; return; fi
  for dir in /usr/$prefix/lib /usr/$prefix/bin; do
    if [ -f "$dir/$name" ]; then echo "$dir/$name"; return; fi
  done
}
imports() { "$prefix-objdump" -p "$1" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p'; }

declare -A shipped=()
todo=()
for f in velmora.exe kv70sim.exe DevKV70.dll libframework.dll; do
  [ -f "$bin/$f" ] || { echo "make-windows-installer: $bin/$f is missing" >&2; exit 1; }
  shipped[$f]="$bin/$f"
  todo+=("$bin/$f")
done
while [ ${#todo[@]} -gt 0 ]; do
  file=${todo[0]}
  todo=("${todo[@]:1}")
  while read -r name; do
    [ -n "$name" ] || continue
    key=${name,,}
    for have in "${!shipped[@]}"; do [ "${have,,}" = "$key" ] && continue 2; done
    path=$(find_dll "$name")
    [ -n "$path" ] || continue  # a DLL of Windows itself
    shipped[$name]=$path
    todo+=("$path")
  done < <(imports "$file")
done

work=$(mktemp -d "$win/nsis.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Stripped copies: the Windows build keeps full debug information (-g), which would make
# the installer ten times larger.
mkdir "$work/files"
size=0
for name in $(printf '%s\n' "${!shipped[@]}" | sort); do
  copy="$work/files/$name"
  "$prefix-strip" --strip-unneeded -o "$copy" "${shipped[$name]}"
  echo "  File \"/oname=$name\" \"$copy\"" >>"$work/files.nsh"
  echo "  Delete \"\$INSTDIR\\$name\"" >>"$work/remove.nsh"
  size=$((size + $(stat -c %s "$copy")))
done
# README as Windows' Notepad shows it.
sed 's/$/\r/' "$src/README.md" >"$work/README.txt"
size=$(((size + $(stat -c %s "$work/README.txt")) / 1024))

mkdir -p "$out"
makensis -V2 -NOCD -DVERSION="$version" -DOUTFILE="$setup" -DFILES="$work/files.nsh" \
  -DREMOVE="$work/remove.nsh" -DREADME="$work/README.txt" -DSIZE_KB="$size" \
  "$src/packaging/windows/velmora.nsi"
echo "$setup ($(du -k "$setup" | cut -f1) KiB): $(printf '%s ' "${!shipped[@]}" | tr ' ' '\n' | sort | tr '\n' ' ')"
