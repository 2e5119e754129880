#!/usr/bin/env bash
# The Debian package as a user gets it: its file list and control fields, lintian (no
# errors, and no warning that packaging/debian/lintian-warnings does not name), and the
# package unpacked into a temporary folder (dpkg-deb -x, nothing installed on this
# machine) running with an empty environment: the programs report the package's version
# and velmora retrieves the configuration of the simulated KV70, loading the unpacked
# plug-in and framework through the relative RPATH alone.
# Usage: scripts/check-package.sh [build dir] [package dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
build=$(realpath "${1:-build}")
packages=$(realpath "${2:-$build/packages}")
version=$(sed -n 's/^#define VELMORA_VERSION "\(.*\)"$/\1/p' "$build/generated/project_version.h")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
deb="$packages/velmora_${version}_${arch}.deb"
[ -f "$deb" ] || { echo "check-package: $deb is missing (make package-deb)" >&2; exit 1; }
work=$(mktemp -d "$build/check-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
. scripts/lib/check_steps.sh
private="usr/lib/$multiarch/velmora"

contents() {
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' | grep -v -e '/$' -e '^$' | sort >"$work/files"
  cat "$work/files"
  local expected=(usr/bin/velmora usr/bin/velmora-gui usr/bin/kv70sim
    "$private/DevKV70.so" "$private/libframework.so"
    usr/share/man/man1/velmora.1.gz usr/share/man/man1/velmora-gui.1.gz
    usr/share/man/man1/kv70sim.1.gz usr/share/applications/velmora-gui.desktop
    usr/share/icons/hicolor/256x256/apps/velmora-gui.png
    usr/share/doc/velmora/README.md usr/share/doc/velmora/copyright
    usr/share/doc/velmora/changelog.gz)
  local page
  for page in "$src"/docs/*.md; do expected+=("usr/share/doc/velmora/${page##*/}"); done
  printf '%s\n' "${expected[@]}" | sort >"$work/expected" || return 1
  diff "$work/expected" "$work/files"
}
check deb-contents contents

control() {
  dpkg-deb -f "$deb" >"$work/control"
  cat "$work/control"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || return 1
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 libsqlite3-0 libqt6widgets6; do
    grep -q "$lib" <<<"$depends" || { echo "Depends lacks $lib"; return 1; }
  done
}
check deb-control control

# Every warning lintian gives must be one the packaging/debian/lintian-warnings list
# names with its reason; an error always fails.
lintian_clean() {
  lintian --no-cfg --display-level '>=warning' "$deb" >"$work/lintian" 2>&1 || true
  cat "$work/lintian"
  if grep -q '^E: ' "$work/lintian"; then return 1; fi
  local unexplained=0 tag
  while read -r tag; do
    if ! grep -q "^$tag " "$src/packaging/debian/lintian-warnings"; then
      echo "not explained in packaging/debian/lintian-warnings: $tag"
      unexplained=1
    fi
  done < <(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$work/lintian" | sort -u)
  [ "$unexplained" -eq 0 ]
}
check lintian lintian_clean

root="$work/root"
dpkg-deb -x "$deb" "$root"
# An empty environment; HOME only so that velmora's registry lands in the temporary
# folder (without it velmora would take the account's home directory from the password
# database and write the registry there).
run_clean() { env -i HOME="$work/home" "$@"; }
mkdir -p "$work/home"

versions() {
  local program
  for program in velmora velmora-gui kv70sim; do
    run_clean "$root/usr/bin/$program" --version | tee "$work/$program.version" || return 1
    [ "$(cat "$work/$program.version")" = "$program $version" ] || return 1
  done
}
check unpacked-versions-without-a-display versions

# No path of the build in any RUNPATH: the unpacked programs must find their libraries
# through $ORIGIN alone.
runpaths() {
  local f
  for f in usr/bin/velmora usr/bin/velmora-gui usr/bin/kv70sim "$private/DevKV70.so"; do
    readelf -d "$root/$f" | grep -E 'RPATH|RUNPATH' | tee -a "$work/runpaths"
  done
  if grep -q "$build" "$work/runpaths"; then echo "a RUNPATH names the build"; return 1; fi
  grep -q "\[\$ORIGIN/../lib/$multiarch/velmora\]" "$work/runpaths" || return 1
  run_clean LD_TRACE_LOADED_OBJECTS=1 "$root/usr/bin/velmora" | tee "$work/ldd" || return 1
  grep -q "libframework.so => $root/usr/bin/../lib/$multiarch/velmora/libframework.so" "$work/ldd"
}
check unpacked-runpaths runpaths

config_run() {
  run_clean "$root/usr/bin/velmora" run config --device sim </dev/null | tee "$work/config" ||
    return 1
  grep -qx 'Configuration retrieval succeeded.' "$work/config" || return 1
  [ -f "$work/home/.config/velmora/registry.db" ] || return 1
  run_clean "$root/usr/bin/velmora" list | grep -q 'File system dump'
}
check unpacked-velmora-run-config-sim config_run

man_pages() {
  local page
  for page in velmora velmora-gui kv70sim; do
    MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" >"$work/$page.man" \
      2>"$work/$page.manerr" || return 1
    cat "$work/$page.manerr"
    [ ! -s "$work/$page.manerr" ] || return 1
    grep -q "$version" "$work/$page.man" || return 1
  done
  grep -q 'velmora run' "$work/velmora.man" || return 1
  grep -q 'dialout' "$work/velmora.man"
}
check man-pages man_pages

echo "check-package: $failures failed, $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ]
