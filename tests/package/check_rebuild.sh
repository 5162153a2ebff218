#!/usr/bin/env bash
# Checks that SHA256SUMS matches the packages, and that a second build of both,
# from scratch in another tree, without ccache (a cache could hide a difference)
# and with another umask and time zone, gives the same bytes.
#   check_rebuild.sh PACKAGES_DIR
set -uo pipefail
first=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
tree=$here/build/rebuild
(cd "$first" && sha256sum --strict -c SHA256SUMS) || { echo "FAIL SHA256SUMS (run tools/package)"; exit 1; }
if ! (umask 002 && CCACHE_DISABLE=1 TZ=Pacific/Kiritimati "$here/tools/package" --tree "$tree") \
  >"$tree.log" 2>&1; then
  tail -n 40 "$tree.log"
  echo "FAIL the second build (its output: $tree.log)"
  exit 1
fi
failures=0
for name in SHA256SUMS $(cut -d' ' -f3 "$first/SHA256SUMS"); do
  cmp "$first/$name" "$tree/packages/$name" && echo "ok   $name: byte-identical" ||
    { echo "FAIL $name differs from the second build's"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && rm -rf "$tree" "$tree.log"
