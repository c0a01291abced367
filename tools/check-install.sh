#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what a desktop needs of it: the
# program, its desktop entry and AppStream data (both validated), its icons, the help page, the
# demo library and the licence.
#   bash tools/check-install.sh BUILD_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
id=org.quendo.Quendo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log" >&2; exit 1; }

failed=0
fail() { echo "check-install: $*" >&2; failed=1; }
need() { [ -e "$prefix/$1" ] || fail "missing $1"; }

[ -x "$prefix/bin/quendo" ] || fail "missing bin/quendo"
need "share/applications/$id.desktop"
need "share/metainfo/$id.metainfo.xml"
need "share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
  if [ ! -f "$png" ]; then
    fail "missing ${png#"$prefix"/}"
  elif [ "$(identify -format '%m %wx%h' "$png")" != "PNG ${size}x${size}" ]; then
    fail "${png#"$prefix"/} is not a ${size}x${size} PNG"
  fi
done
need share/quendo/help/Quendo.html
need share/doc/quendo/LICENSE
for kind in House Lounge Rock; do
  [ -n "$(find "$prefix/share/quendo/Demo Music/$kind" -type f 2>/dev/null)" ] || fail "no demo music in $kind"
done
# Nothing outside bin/ and share/, and nothing of the build's own (tests, tools).
stray=$(cd "$prefix" && find . -mindepth 1 -maxdepth 1 ! -name bin ! -name share)
[ -z "$stray" ] || fail "installed outside bin/ and share/: $stray"
[ "$(ls "$prefix/bin")" = quendo ] || fail "bin/ holds more than the program: $(ls "$prefix/bin" | tr '\n' ' ')"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.log" ||
  { cat "$work/appstream.log" >&2; fail "the AppStream data does not validate"; }
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "the desktop entry's icon is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "the AppStream data does not launch $id.desktop"

[ $failed -eq 0 ] && echo "check-install: the installed tree is complete and both files validate"
exit $failed
