#!/usr/bin/env bash
# Checks that the packages are reproducible: SHA256SUMS matches them, and a
# second build of both, from scratch in another tree, without ccache and with
# another umask and time zone, gives the very same bytes.
#   check_rebuild.sh PACKAGES_DIR
set -uo pipefail
first=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
tree=$here/build/rebuild
failures=0
check() {
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

[ -f "$first/SHA256SUMS" ] || { echo "FAIL no SHA256SUMS in $first (run tools/package)"; exit 1; }
cat "$first/SHA256SUMS"
check "SHA256SUMS: matches the packages" bash -c 'cd "$1" && sha256sum --strict -c SHA256SUMS' _ "$first"

start=$SECONDS
if ! (umask 002 && CCACHE_DISABLE=1 TZ=Pacific/Kiritimati "$here/tools/package" --tree "$tree") \
  >"$tree.log" 2>&1; then
  tail -n 40 "$tree.log"
  echo "FAIL the second build (its output: $tree.log)"
  exit 1
fi
echo "second build: $((SECONDS - start)) s, in $tree"
check "SHA256SUMS: the same from the second build" cmp "$first/SHA256SUMS" "$tree/packages/SHA256SUMS"
while read -r _ name; do
  check "$name: byte-identical" cmp "$first/$name" "$tree/packages/$name"
done <"$first/SHA256SUMS"

echo "rebuild: $failures failure(s)"
[ "$failures" -eq 0 ] && rm -rf "$tree" "$tree.log"
