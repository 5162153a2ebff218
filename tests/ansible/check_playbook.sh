#!/usr/bin/env bash
# Runs examples/ansible/upgrade-cameras.yml on this machine against the
# simulator's cameras: check mode says changed and writes nothing, a real run
# leaves each flash as a clean update does, a failed camera fails the host,
# no camera does not.
#   check_playbook.sh PLAYBOOK VELTRANE_UPGRADE USBIP_CAMERA
set -uo pipefail
playbook=$1 program=$(readlink -f "$2") camera=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Records, lock and Ansible's own files stay out of the real home.
mkdir -m 700 "$work/lock"
export HOME=$work XDG_STATE_HOME=$work/state VELTRANE_LOCK_DIR=$work/lock \
  ANSIBLE_PYTHON_INTERPRETER=auto_silent ANSIBLE_NOCOLOR=1
failures=0
report() {
  if [ "$1" = 0 ]; then echo "ok   $2"; else echo "FAIL $2" && cat "$work/out"; failures=$((failures + 1)); fi
}
# play KNOBS [ARG...]: "EXIT changed=N failed=N" in $result.
play() {
  ansible-playbook -i localhost, -c local -e "veltrane_bin=$program" \
    -e "veltrane_args=--simulate=$1" "${@:2}" "$playbook" >"$work/out" 2>&1
  result="$? $(sed -n 's/^localhost .*\(changed=[0-9]*\).*\(failed=[0-9]*\).*/\1 \2/p' "$work/out")"
}

knobs=cameras=2,flash=$work/flash
# The flashes as the cameras came, to see that check mode leaves them so.
"$program" --simulate="$knobs" --check >/dev/null 2>&1
cp "$work/flash-1" "$work/before-1" && cp "$work/flash-2" "$work/before-2"
play "$knobs" --check
[ "$result" = "0 changed=1 failed=0" ] && cmp "$work/flash-1" "$work/before-1" &&
  cmp "$work/flash-2" "$work/before-2"
report $? "check mode: changed, no flash written"

"$camera" --expected-flash "$work/expected" cameras=2
play "$knobs"
[ "$result" = "0 changed=1 failed=0" ] && cmp "$work/flash-1" "$work/expected-1" &&
  cmp "$work/flash-2" "$work/expected-2"
report $? "upgrade: changed, each flash as a clean update leaves it"
play "$knobs"
[ "$result" = "0 changed=0 failed=0" ]
report $? "a run after the upgrade: every camera up to date, nothing changed"

play cameras=2,fail=2:1400
[ "$result" = "2 changed=1 failed=1" ] && grep -q "1-2: failed (partly-written)" "$work/out"
report $? "a camera's failure fails the host and names the camera"
play device=none
[ "$result" = "0 changed=0 failed=0" ]
report $? "no camera is no failure"

echo "ansible: $failures failure(s)"
[ "$failures" -eq 0 ]
