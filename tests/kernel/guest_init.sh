#!/bin/busybox sh
# /init of the kernel end-to-end test's guest: loads the USB/IP and UVC
# modules, then runs each case against veltrane-usbip-camera and prints one
# "ok - <case>" or "FAIL - <case>" line per case on the serial console, and
# "kernel-e2e done: passed=P failed=F" before it powers the guest off.
# Past the firmware's screen codes, so that every line of ours starts a line.
echo
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin HOME=/root
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs -o mode=1777 tmpfs /tmp
# Here, not in the archive: building it needs no root.
chown 1000:1000 /home/camuser

passed=0
failed=0
ok() { echo "ok - $1"; passed=$((passed + 1)); }
fail() {
  echo "FAIL - $1"
  failed=$((failed + 1))
  [ -s /tmp/out ] && sed 's/^/#   /' /tmp/out
  sed 's/^/#   server: /' /tmp/server.log 2>/dev/null | tail -5
  dmesg | tail -15 | sed 's/^/#   dmesg: /'
}
# report STATUS NAME: one line for the case, with what it printed when it failed.
report() {
  if [ "$1" = 0 ]; then ok "$2"; else fail "$2"; fi
}
finish() {
  echo "kernel-e2e done: passed=$passed failed=$failed uptime=$(cut -d' ' -f1 /proc/uptime)"
  sync
  poweroff -f
}
uptime_s() { cut -d' ' -f1 /proc/uptime; }

for module in $(cat /lib/modules/order); do
  if ! insmod "/lib/modules/$module.ko"; then
    fail "insmod $module"
    finish
  fi
done
echo "# guest ready at $(uptime_s) s: $(uname -r), $(grep -m1 'model name' /proc/cpuinfo)"

server=""
# start_camera KNOB...: plugs a new camera in and waits for its capture node.
start_camera() {
  : >/tmp/server.log
  veltrane-usbip-camera --flash-out /tmp/flash.bin "$@" 2>>/tmp/server.log &
  server=$!
  for _ in $(seq 100); do
    [ -c /dev/video0 ] && return 0
    sleep 0.1
  done
  echo "# no /dev/video0 after 10 s" >>/tmp/server.log
  return 1
}
# stop_camera: the server writes the flash to /tmp/flash.bin and unplugs.
stop_camera() {
  kill -TERM "$server" 2>/dev/null
  wait "$server"
  server=""
  for _ in $(seq 50); do
    [ -e /dev/video0 ] || return 0
    sleep 0.1
  done
}
# upgrade ARG...: the program as a user runs it; output in /tmp/out, exit status in $rc.
upgrade() {
  timeout 120 veltrane-upgrade --backup-dir /tmp/backups "$@" </dev/null >/tmp/out 2>&1
  rc=$?
}
has() { grep -qF -- "$1" /tmp/out; }
lacks() { ! grep -qF -- "$1" /tmp/out; }
# same_as_simulator KNOBS ARG...: what the program printed against uvcvideo
# is what it prints against its built-in simulator with the same knobs,
# but for the line that says it waits for the camera to come back.
same_as_simulator() {
  knobs=$1
  shift
  veltrane-upgrade --simulate="$knobs" --backup-dir /tmp/sim-backups "$@" </dev/null \
    >/tmp/sim.out 2>&1
  grep -v '^Waiting for the camera to come back\.\.\.$' /tmp/out | cmp -s - /tmp/sim.out
}
# The new version is read from the camera that came back, after the wait.
back_with_new_version() {
  sed -n '/^Waiting for the camera to come back\.\.\.$/,$p' /tmp/out |
    grep -qx 'Current Firmware Version: 3.1.0.6.100108'
}
expected() {
  veltrane-usbip-camera --expected-flash /tmp/expected.bin "$@"
}

# A full update in one camera configuration; the flash must be exactly what
# a clean update leaves.
# A basic-layout camera reports no version, here as in the simulator.
full_upgrade() {
  name=$1
  knobs=$2
  expected "$knobs"
  start_camera "$knobs"
  upgrade --upgrade --yes
  stop_camera
  [ "$rc" = 0 ] && has "Firmware upgrading successfully done!" &&
    has "Waiting for the camera to come back..." && same_as_simulator "$knobs" --upgrade --yes &&
    cmp -s /tmp/flash.bin /tmp/expected.bin
  report $? "$name"
}

# No camera: the start-up says so and fails, the list says so and succeeds.
upgrade
[ "$rc" = 3 ] && has "No camera found" && same_as_simulator device=none
report $? "no camera: start-up fails with 'No camera found'"
upgrade --list
[ "$rc" = 0 ] && has "No camera that uvcvideo drives was found."
report $? "no camera: --list says none"

start_camera
upgrade
[ "$rc" = 0 ] && has "Current Firmware Version: 3.1.0.5.091203" && same_as_simulator ""
report $? "start-up shows 3.1.0.5.091203"
upgrade --list
[ "$rc" = 0 ] && grep -qx "/dev/video0  3f2a:0a51  accepted  extension unit found  Tessaro Cam" /tmp/out
report $? "--list shows the camera, accepted, with its extension unit"
ln -s /dev/video0 /tmp/camera-link
upgrade --device /tmp/camera-link
[ "$rc" = 0 ] && has "Current Firmware Version: 3.1.0.5.091203"
report $? "--device through a link (as /dev/v4l/by-id/...) names the node it points to"
chmod 0600 /dev/video0
# camuser is in no group but its own.
timeout 60 su camuser -s /bin/sh -c 'veltrane-upgrade --device /dev/video0' </dev/null >/tmp/out 2>&1
rc=$?
[ "$rc" = 1 ] && [ "$(stat -c %a /dev/video0)" = 600 ] && has "/dev/video0" &&
  has "'video' group" && lacks "Current Firmware Version"
report $? "a 0600 node: an unprivileged user is told the node and how to get access"
stop_camera
# Nothing so far wrote: the flash of a camera no run touched.
cp /tmp/flash.bin /tmp/untouched.bin

expected
start_camera --record /tmp/update.rec
t0=$(uptime_s)
upgrade --upgrade --yes --device /dev/video0
t1=$(uptime_s)
stop_camera
[ "$rc" = 0 ] && has "Firmware upgrading successfully done!" && back_with_new_version &&
  same_as_simulator "" --upgrade --yes && cmp -s /tmp/flash.bin /tmp/expected.bin &&
  grep -q "restart after transfer" /tmp/server.log
report $? "full upgrade: expected flash, 3.1.0.6.100108 after the camera returns"
echo "# full upgrade took $(awk "BEGIN { print $t1 - $t0 }") s, $(wc -l </tmp/update.rec) transfers"
clean_transfers=$(wc -l </tmp/update.rec)
clean_served=$(grep -o 'served [0-9]* transfers' /tmp/server.log)

# Until a run says it is programming: the flash is being written.
first_count() {
  for _ in $(seq 400); do
    grep -q '^Programming: ' "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
# A signal at the first byte count: the write goes on to its end, the result
# is printed, and the run stops with 128 + the signal, the JSON says so, and
# nothing waits for the camera's return. A signal ignored from the start
# (trap '' HUP, as nohup) stays ignored: exit 0. The program runs in the
# foreground: an asynchronous job of this shell ignores SIGINT.
for signal in INT:130 HUP:129 HUP:0; do
  start_camera
  rm -f /tmp/out /tmp/signalled
  (first_count /tmp/out && uptime_s >/tmp/signalled &&
    kill -"${signal%:*}" "$(pidof veltrane-upgrade)") &
  watcher=$!
  status=${signal#*:}
  [ "$status" = 0 ] && trap '' HUP
  upgrade --upgrade --yes --json
  trap - HUP
  took=$(awk "BEGIN { print $(uptime_s) - $(cat /tmp/signalled) }")
  wait "$watcher"
  stop_camera
  held=has name="SIG${signal%:*} while writing: the flash is written to its end, then exit $status"
  [ "$status" = 0 ] && held=lacks name="SIGHUP ignored from the start (trap '' HUP): exit 0"
  [ "$rc" = "$status" ] && $held "The camera's flash is being written" &&
    has "Firmware upgrading successfully done!" && cmp -s /tmp/flash.bin /tmp/expected.bin &&
    if [ "$status" = 0 ]; then has "Waiting for the camera to come back"; else
      lacks "Waiting for the camera" && has "\"signal\": $((status - 128))," &&
        has "\"status\": $status," && awk "BEGIN { exit !($took < 12) }"
    fi
  report $? "$name ($took s after the signal)"
done

start_camera
{
  timeout 120 veltrane-upgrade --backup-dir /tmp/backups --upgrade --yes </dev/null 2>/dev/null
  echo $? >/tmp/rc
} | head -n 3 >/tmp/out
stop_camera
[ "$(cat /tmp/rc)" = 0 ] && [ "$(wc -l </tmp/out)" = 3 ] && cmp -s /tmp/flash.bin /tmp/expected.bin
report $? "a reader that goes away (| head -n 3): the update ends as a clean one does"

# Second runs while the first writes, in its lock directory and in one of
# their own, and one after the camera's return: it comes back as /dev/video1
# (the first run's descriptors keep video0's number), and once the first run
# holds that node's lock, it is stopped there for the second to try.
start_camera --record /tmp/busy.rec
mkdir -m 700 /tmp/lock-a /tmp/lock-b
VELTRANE_LOCK_DIR=/tmp/lock-a timeout 120 veltrane-upgrade --backup-dir /tmp/backups --upgrade \
  --yes </dev/null >/tmp/first.out 2>&1 &
first=$!
first_count /tmp/first.out
export VELTRANE_LOCK_DIR=/tmp/lock-a
upgrade --upgrade --yes --json
[ "$rc" = 5 ] && has "Another instance of this program is already running" &&
  has '"outcome": "busy"'
report $? "a second run in the first's lock directory during its update is refused"
export VELTRANE_LOCK_DIR=/tmp/lock-b
upgrade --upgrade --yes
[ "$rc" = 5 ] && has "Another program is updating the camera at /dev/video0" &&
  lacks "Current Firmware Version"
busy=$?
for _ in $(seq 300); do
  ino=$(stat -c %i /dev/video1 2>/dev/null) && grep -q ":$ino " /proc/locks && break
  sleep 0.05
done
kill -STOP "$first"
upgrade --upgrade --yes
kill -CONT "$first"
unset VELTRANE_LOCK_DIR
wait "$first"
first_rc=$?
stop_camera
[ "$busy" = 0 ] && [ "$first_rc" = 0 ] &&
  cmp -s /tmp/flash.bin /tmp/expected.bin && [ "$(wc -l </tmp/busy.rec)" = "$clean_transfers" ]
report $? "a second run during an update is refused and sends nothing"
[ "$rc" = 5 ] && has "Another program is updating the camera at /dev/video1" &&
  grep -q "Current Firmware Version: 3.1.0.6.100108" /tmp/first.out &&
  grep -q "$clean_served" /tmp/server.log
report $? "after the camera's return on a new node, a second run is refused and sends nothing"

# Our backend against a bare loop of the same ioctls, on a fresh camera.
start_camera
veltrane-xu-bench --node /dev/video0 --record /tmp/update.rec >/tmp/out 2>&1
rc=$?
stop_camera
echo "# measure (TCG): $(cat /tmp/out)"
ratio=$(sed -n 's/.*ratio=\([0-9.]*\).*/\1/p' /tmp/out)
[ "$rc" = 0 ] && awk "BEGIN { exit !($ratio <= 1.1) }"
report $? "measure: our backend within 1.1 times the bare ioctls"

# Faults in the middle of programming: 1000 pieces after the first.
first_piece=$(awk '$2 == "SET" && $4 == "id=24" { print $1; exit }' /tmp/update.rec)
middle=$((first_piece + 1000))
start_camera unplug=$middle
upgrade --upgrade --yes
stop_camera
[ "$rc" = 1 ] && lacks "successfully done" && lacks "3.1.0.6" && has "not connected" &&
  ! cmp -s /tmp/flash.bin /tmp/expected.bin && grep -q "unplugged at transfer $middle" /tmp/server.log
report $? "unplug at transfer $middle (programming) fails without a false success"
start_camera fail=$middle
upgrade --upgrade --yes
stop_camera
[ "$rc" = 1 ] && lacks "successfully done" && lacks "3.1.0.6" && has "transfer stalled"
report $? "a stall at transfer $middle (programming) fails without a false success"

# start_cameras KNOBS_A [KNOBS_B]: a camera on USB port 1-1 (and one on 1-2),
# their flashes to /tmp/flash-a.bin (and -b) when stop_cameras unplugs them.
start_cameras() {
  : >/tmp/server.log
  veltrane-usbip-camera --port 0 --flash-out /tmp/flash-a.bin $1 2>>/tmp/server.log &
  camera_a=$!
  camera_b=
  [ $# = 2 ] && veltrane-usbip-camera --port 1 --flash-out /tmp/flash-b.bin $2 \
    2>>/tmp/server.log &
  [ $# = 2 ] && camera_b=$!
  for _ in $(seq 100); do
    [ -c /dev/video0 ] && { [ -z "$camera_b" ] || [ -c /dev/video2 ]; } && break
    sleep 0.1
  done
}
stop_cameras() {
  kill -TERM $camera_a $camera_b 2>/dev/null
  wait $camera_a $camera_b
  sleep 1
}

# Two cameras of the model on two USB ports: --all --jobs 1 updates each in
# turn. With a fault on the second, the first is still done and the run says
# failed; a SIGINT in the first's write ends the run after it, the second
# untouched.
for second in "" "fail=$middle" INT; do
  start_cameras "" "${second%INT}"
  rm -f /tmp/err
  [ "$second" = INT ] && (first_count /tmp/err && kill -INT "$(pidof veltrane-upgrade)") &
  timeout 240 veltrane-upgrade --backup-dir /tmp/backups --all --upgrade --jobs 1 --yes --json \
    </dev/null >/tmp/out 2>/tmp/err
  rc=$?
  wait $!
  stop_cameras
  outcomes=$(grep -o '"outcome": "[a-z]*"' /tmp/out | tr '\n' ' ')
  if [ -z "$second" ]; then
    [ "$rc" = 0 ] && [ "$outcomes" = '"outcome": "done" "outcome": "done" ' ] &&
      has '"port": "1-1"' && has '"port": "1-2"' &&
      cmp -s /tmp/flash-a.bin /tmp/expected.bin && cmp -s /tmp/flash-b.bin /tmp/expected.bin
    report $? "--all: two cameras, each updated exactly as a clean update leaves it"
  elif [ "$second" = INT ]; then
    [ "$rc" = 130 ] && [ "$outcomes" = '"outcome": "done" ' ] && has '"signal": 2,' &&
      cmp -s /tmp/flash-a.bin /tmp/expected.bin && cmp -s /tmp/flash-b.bin /tmp/untouched.bin
    report $? "--all: SIGINT in the first camera's write: exit 130, one report, second untouched"
  else
    [ "$rc" = 1 ] && [ "$outcomes" = '"outcome": "done" "outcome": "failed" ' ] &&
      cmp -s /tmp/flash-a.bin /tmp/expected.bin && ! cmp -s /tmp/flash-b.bin /tmp/expected.bin
    report $? "--all: a fault on the second camera leaves the first done, and the run failed"
  fi
done

# --jobs 2, every transfer 3 ms late as a slow camera's: the two cameras are
# updated at once, each exactly, in little more time than one alone. With
# 1 ms, two cameras' work on the one vCPU outlasted the wait under a busy host.
pace=latency=3000
expected
for cameras in "$pace" "$pace $pace"; do
  start_cameras $cameras
  t0=$(uptime_s)
  upgrade --all --upgrade --jobs 2 --yes --json
  took=$(awk "BEGIN { print $(uptime_s) - $t0 }")
  stop_cameras
  if [ -z "$camera_b" ]; then
    one=$took
    [ "$rc" = 0 ] && cmp -s /tmp/flash-a.bin /tmp/expected.bin
    alone=$?
  fi
done
[ "$rc" = 0 ] && [ "$(grep -c '"outcome": "done"' /tmp/out)" = 2 ] && has '"port": "1-1"' &&
  has '"port": "1-2"' && cmp -s /tmp/flash-a.bin /tmp/expected.bin &&
  cmp -s /tmp/flash-b.bin /tmp/expected.bin
report $? "--all --jobs 2: two cameras at once, each updated exactly as a clean update leaves it"
ratio=$(awk "BEGIN { printf \"%.2f\", $took / $one }")
echo "# --jobs 2, $pace: one camera $one s, two cameras $took s, ratio $ratio"
[ "$alone" = 0 ] && awk "BEGIN { exit !($ratio <= 1.3) }"
report $? "--jobs 2: two cameras take at most 1.3 times as long as one ($ratio)"

# SIGKILL in the erase, in the middle of programming and in verification:
# the next run finishes with the clean flash. Where nothing of the camera's
# own data is left to say whose the record is, it stops (6) and erases
# nothing, and a run that names the record finishes instead.
for point in erase:$((first_piece - 8)) programming:$((first_piece + 1000)) \
  verification:$((first_piece + 2048 + 600)); do
  rm -rf /tmp/killed && mkdir -m 700 /tmp/killed
  start_camera --kill-at "${point#*:}" /tmp/victim.pid
  veltrane-upgrade --backup-dir /tmp/killed --upgrade --yes </dev/null >/dev/null 2>&1 &
  echo $! >/tmp/victim.pid
  wait $!
  killed=$?
  upgrade --backup-dir /tmp/killed --upgrade --yes
  decided=$rc
  [ "$rc" = 6 ] && upgrade --backup-dir /tmp/killed --upgrade --yes \
    --restore-from /tmp/killed/camera-data-*.txt
  stop_camera
  [ "$killed" = 137 ] && [ "$rc" = 0 ] && cmp -s /tmp/flash.bin /tmp/expected.bin &&
    { [ "$decided" = 0 ] || [ "${point%:*}" = programming ]; }
  report $? "SIGKILL in the ${point%:*} (transfer ${point#*:}): the next run leaves the clean flash"
done

# The record is on the disk before it is linked into place, and its
# directory after: a crash leaves a whole record or none.
start_camera
strace -f -e trace=openat,fsync,link -o /tmp/strace.log \
  veltrane-upgrade --backup-dir /tmp/traced --upgrade --yes </dev/null >/tmp/out 2>&1
rc=$?
stop_camera
order=$(awk '/ fsync\(/ { print "fsync" } / link\("\/tmp\/traced/ { print "link" }
  /openat\(AT_FDCWD, "\/tmp\/traced", .*O_DIRECTORY/ { print "dir" }' /tmp/strace.log |
  tr '\n' ' ')
[ "$rc" = 0 ] && case "$order" in *"fsync link dir fsync"*) true ;; *) false ;; esac
report $? "the record: fsync, link, then the directory's fsync (${order% })"

full_upgrade "basic layout: full upgrade, expected flash, as in the simulator" layout=basic
full_upgrade "fallback property set: full upgrade, expected flash, as in the simulator" set=fallback

finish

