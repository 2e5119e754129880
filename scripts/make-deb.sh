#!/usr/bin/env bash
# The Debian package velmora_<version>_<arch>.deb from an existing Linux build (the tree
# `make test` built: no second build). The build's install rules stage the programs, the
# private library folder, the desktop entry and the icon; then the programs are stripped,
# their manual pages made from their own --help (help2man, with the hand-written sections
# of packaging/man/), the documents added, the dependencies computed from the binaries
# (dpkg-shlibdeps) and the package built with dpkg-deb.
# Usage: scripts/make-deb.sh [build dir] [output dir]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/packages}")
export LC_ALL=C.UTF-8 TZ=UTC
# The package's dates are the last commit's, so that the same sources give the same package.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
maintainer=${DEB_MAINTAINER:-"Velmora maintainers <maintainers@velmora.example>"}

version=$(sed -n 's/^#define VELMORA_VERSION "\(.*\)"$/\1/p' "$build/generated/project_version.h")
[ -n "$version" ] || { echo "make-deb: no version in $build/generated/project_version.h" >&2; exit 1; }
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)
deb="$out/velmora_${version}_${arch}.deb"

work=$(mktemp -d "$build/deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Laid out as Debian's tools expect a package's tree (debian/<package>/DEBIAN), so that
# dpkg-shlibdeps knows the private libraries as the package's own.
root="$work/src/debian/velmora"
mkdir -p "$root/DEBIAN"
printf 'Source: velmora\n\nPackage: velmora\nArchitecture: any\n' >"$work/src/debian/control"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
private="$root/usr/lib/$multiarch/velmora"
for f in velmora velmora-gui kv70sim; do [ -x "$root/usr/bin/$f" ] || { echo "make-deb: $f was not installed" >&2; exit 1; }; done
for f in DevKV70.so libframework.so; do [ -f "$private/$f" ] || { echo "make-deb: $f was not installed in $private" >&2; exit 1; }; done

# Stripped as Debian's own tools strip (the build keeps its line tables for backtraces).
strip --remove-section=.comment --remove-section=.note "$root"/usr/bin/*
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$private"/*.so
chmod 0644 "$private"/*.so

# Manual pages from the programs' own help, run from the staged tree (so through its
# relative RPATH) under their plain names. velmora's subcommands each add their help.
man="$root/usr/share/man/man1"
mkdir -p "$man"
roff_block() { # text on stdin as a literal roff block
  echo '.nf'
  sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
  echo '.fi'
}
staged() { PATH="$root/usr/bin:$PATH" "$@"; }
# The names under "Subcommands:" in a help text.
subcommands() { sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p'; }
command_section() { # the words of one command
  echo ".SS \"velmora $*\""
  staged velmora "$@" --help | roff_block
}
{
  echo '[COMMANDS]'
  for command in $(staged velmora --help | subcommands); do
    inner=$(staged velmora "$command" --help | subcommands)
    if [ -z "$inner" ]; then
      command_section "$command"
    else
      for sub in $inner; do command_section "$command" "$sub"; done
    fi
  done
  cat "$src/packaging/man/velmora.h2m"
} >"$work/velmora.h2m"
cp "$src/packaging/man/velmora-gui.h2m" "$src/packaging/man/kv70sim.h2m" "$work/"
declare -A summary=(
  [velmora]="maintains a KV70 data collector through its plug-in, over a serial line"
  [velmora-gui]="maintains a KV70 data collector through its plug-in, in windows"
  [kv70sim]="a simulated KV70 data collector on a pseudo-terminal or over RFC 2217"
)
for program in velmora velmora-gui kv70sim; do
  env -u DISPLAY -u WAYLAND_DISPLAY PATH="$root/usr/bin:$PATH" \
    help2man --no-info --no-discard-stderr --section=1 --name="${summary[$program]}" \
    --source="velmora $version" --manual="User Commands" --include="$work/$program.h2m" \
    --output="$man/$program.1" "$program"
  gzip -9n "$man/$program.1"
done

doc="$root/usr/share/doc/velmora"
mkdir -p "$doc"
cp "$src/README.md" "$doc/README.md"
# The technician's pages that README points to.
for page in "$src"/docs/*.md; do cp "$page" "$doc/"; done
cp "$src/packaging/debian/copyright" "$doc/copyright"
date_line=$(date -u -d "@$SOURCE_DATE_EPOCH" -R)
sed -e "s/@VERSION@/$version/g" -e "s/@MAINTAINER@/$maintainer/g" -e "s/@DATE@/$date_line/g" \
  "$src/packaging/debian/changelog.in" | gzip -9n >"$doc/changelog.gz"

# Dependencies from the binaries; the private libraries are the package's own.
depends=$(cd "$work/src" && dpkg-shlibdeps -O -l"$private" \
  -e"$root/usr/bin/velmora" -e"$root/usr/bin/velmora-gui" -e"$root/usr/bin/kv70sim" \
  -e"$private/DevKV70.so" -e"$private/libframework.so" 2>"$work/shlibdeps.err" |
  sed -n 's/^shlibs:Depends=//p') || { cat "$work/shlibdeps.err" >&2; exit 1; }
# A private library carries no version in its name; nothing else is expected here.
grep -v "can't extract name and version from library name 'libframework.so'" "$work/shlibdeps.err" >&2 || true
[ -n "$depends" ] || { echo "make-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@MAINTAINER@/$maintainer/" \
  -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" "$src/packaging/debian/control.in" \
  >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
find "$root/usr/share" -type f -exec chmod 0644 {} +
find "$root" -newermt "@$SOURCE_DATE_EPOCH" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$out"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb ($(du -k "$deb" | cut -f1) KiB)"
