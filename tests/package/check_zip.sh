#!/usr/bin/env bash
# Checks the Windows zip: what it holds, the exe's size and version
# resource, and that the exe from it starts under Wine (no camera there: it
# warns and shows "No device found!").
#   check_zip.sh PACKAGE.zip VERSION [GUI_DRIVER.exe]
set -uo pipefail
zip=$1
version=$2
driver=${3:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
failures=0
check() {
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

[ -f "$zip" ] || { echo "FAIL no package at $zip (run tools/package)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work/unzipped"
listing=$(cd "$work/unzipped" && find . -type f | sort)
printf 'zip holds:\n%s\n' "$listing"
check "zip: the exe and a README" test "$listing" = $'./README.txt\n./VeltraneUpgrade.exe'
exe=$work/unzipped/VeltraneUpgrade.exe
size=$(stat -c %s "$exe")
echo "exe: $size bytes"
check "exe: no debug information" bash -c '! x86_64-w64-mingw32-objdump -h "$1" | grep -q "\.debug_"' _ "$exe"
check "exe: under 2 MB" test "$size" -lt 2000000
strings=$(strings -el "$exe")
check "exe: version resource $version" bash -c 'grep -qx FileVersion <<<"$1" && grep -qx "$2" <<<"$1"' _ "$strings" "$version"
pe=$(od -An -tu4 -j60 -N4 "$exe")
check "exe: no link time" test "$(od -An -tu4 -j$((pe + 8)) -N4 "$exe")" -eq 0
check "exe: no build path" bash -c '! { strings -a "$2"; strings -a -el "$2"; } | grep -qF "$1"' _ "$here" "$exe"

if [ -n "$driver" ] && [ -f "$driver" ]; then
  (
    export WINEPREFIX=$here/build/wineprefix WINEDEBUG=-all
    "$here/tools/wine-run" --init
    wine "$exe" >/dev/null 2>&1 &
    seen=$(timeout 120 wine "$driver" box Pellorin ok 90 | tr -d '\r')
    grep -qF "box text=Your device is not connected" <<<"$seen" || exit 1
    timeout 60 wine "$driver" wait-text 1010 "No device found!" 30 >/dev/null || exit 1
    timeout 60 wine "$driver" click 1019 >/dev/null
    timeout 60 wine "$driver" wait-gone 30 >/dev/null
    wineserver -w
  )
  check "exe: starts under Wine and finds no camera" test $? -eq 0
else
  echo "skip running the exe: no GUI driver given"
fi

echo "zip: $failures failure(s)"
[ "$failures" -eq 0 ]
