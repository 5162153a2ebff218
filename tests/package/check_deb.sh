#!/usr/bin/env bash
# Checks the Debian package as a user gets it: its control fields and
# contents, lintian, and that the program runs from the unpacked package.
#   check_deb.sh PACKAGE.deb VERSION
set -uo pipefail
deb=$1
version=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
failures=0
check() {
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$1" <<<"$2"; }

[ -f "$deb" ] || { echo "FAIL no package at $deb (run tools/package)"; exit 1; }
info=$(dpkg-deb -I "$deb")
contents=$(dpkg-deb -c "$deb")
printf '%s\n%s\n' "$info" "$contents"

check "control: name" has '^ Package: veltrane-upgrade$' "$info"
check "control: version $version" has "^ Version: ${version//./\\.}$" "$info"
check "control: amd64" has '^ Architecture: amd64$' "$info"
# Worked out from the binary by dpkg-shlibdeps, not written by hand.
check "control: depends on libudev1 and libc6" has '^ Depends: .*libc6 \(>= [0-9.]+\).*libudev1' "$info"
check "contents: the program" has '^-rwxr-xr-x root/root .* \./usr/bin/veltrane-upgrade$' "$contents"
check "contents: the manual page" has ' \./usr/share/man/man1/veltrane-upgrade\.1\.gz$' "$contents"
for doc in README copyright changelog.gz; do
  check "contents: $doc" has " \./usr/share/doc/veltrane-upgrade/${doc//./\\.}$" "$contents"
done

lint=$(lintian --display-info "$deb" 2>&1 | grep -v 'running with root privileges')
printf 'lintian:\n%s\n' "$lint"
check "lintian: no errors" bash -c '! grep -q "^E: " <<<"$1"' _ "$lint"
check "lintian: no warnings" bash -c '! grep -q "^W: " <<<"$1"' _ "$lint"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/veltrane-upgrade
run() { XDG_STATE_HOME=$work/state VELTRANE_LOCK_DIR=$work "$program" "$@" </dev/null; }
check "unpacked: --version" has "^veltrane-upgrade ${version//./\\.} " "$(run --version)"
check "unpacked: --help" has '^  -l, --list ' "$(run --help)"
check "unpacked: --simulate --no" has '^Current Firmware Version: 3\.1\.0\.5\.091203$' "$(run --simulate --no)"
check "unpacked: no build path" bash -c '! grep -rqF "$1" "$2"' _ "$here" "$work/root"
man_warnings=$(zcat "$work/root/usr/share/man/man1/veltrane-upgrade.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
check "manual page: renders without warnings" test -z "$man_warnings"

echo "deb: $failures failure(s)"
[ "$failures" -eq 0 ]
