#!/usr/bin/env bash
# End-to-end test of VeltraneUpgrade.exe under Wine and Xvfb, with the
# virtual camera filter as the only camera.
#   run_e2e.sh APP.exe VCAM.dll GUI_DRIVER.exe FIRMWARE.bin WORK_DIR [UNIT_TESTS.exe]
# WORK_DIR receives the Wine prefix, the camera's files, the log and the
# screenshots. With UNIT_TESTS.exe, the unit tests that need windows (they
# skip where Wine has no display) run here too. Exits 0 when every case passed.
set -uo pipefail

app=$(readlink -f "$1")
vcam_dll=$(readlink -f "$2")
driver=$(readlink -f "$3")
firmware=$(readlink -f "$4")
work=$(mkdir -p "$5" && readlink -f "$5")
unit_tests=${6:+$(readlink -f "$6")}

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if [ -z "${HOME:-}" ]; then
  HOME=$(getent passwd "$(id -u)" | cut -d: -f6)
  export HOME
fi

desktop=Veltrane
desktop_size=800x600
camera_dir=$work/vcam
documents=$WINEPREFIX/drive_c/users/$(id -un)/Documents
shots=$work/screenshots
log=$work/e2e.log
mkdir -p "$camera_dir" "$shots"
: >"$log"

failures=0
xvfb_pid=""
dpi_raised=""

say() { echo "$*" | tee -a "$log"; }

cleanup() {
  # What a case cut short may have left: C:\ closed, the DPI raised.
  chmod u+w "$WINEPREFIX/drive_c" 2>/dev/null || true
  [ -n "$dpi_raised" ] && set_display 96 800x600
  # Only this prefix's Wine processes, and only the X server started here.
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  say "could not start Xvfb"
  return 1
}

prepare_prefix() {
  if [ ! -f "$WINEPREFIX/.veltrane-e2e" ]; then
    rm -rf "$WINEPREFIX"
    wineboot --init >>"$log" 2>&1
    wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || { say "could not create $WINEPREFIX"; return 1; }
    # Every program of this prefix runs in one virtual desktop, so the
    # driver sees the dialog and Wine draws its caption bar.
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop" /d "$desktop_size" /f >>"$log" 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d "$desktop" /f >>"$log" 2>&1
    # The About box's Chinese texts need a CJK font behind the dialog fonts.
    local link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    local font='wqy-microhei.ttc,WenQuanYi Micro Hei'
    wine reg add "$link" /v Tahoma /t REG_MULTI_SZ /d "$font" /f >>"$log" 2>&1
    wine reg add "$link" /v "MS Shell Dlg" /t REG_MULTI_SZ /d "$font" /f >>"$log" 2>&1
    wine reg add "$link" /v "MS Sans Serif" /t REG_MULTI_SZ /d "$font" /f >>"$log" 2>&1
    wineserver -w
    touch "$WINEPREFIX/.veltrane-e2e"
  fi
  install_marlett
  # Wine links Documents to the host's home; the dump that C:\ refuses goes
  # there, so it must stay inside the prefix.
  if [ -L "$documents" ]; then rm "$documents" && mkdir "$documents"; fi
}

# Wine draws the caption buttons with its own Marlett font, which Debian
# installs where this Wine does not look: without it the buttons show as the
# letters r, 0, 1 and 2. The prefix gets a registered copy.
install_marlett() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$fonts/marlett.ttf" ] && return 0
  local font
  font=$(find /usr/share/wine /usr/lib/x86_64-linux-gnu/wine -name marlett.ttf -print -quit 2>/dev/null)
  if [ -z "$font" ]; then
    say "no marlett.ttf found: caption buttons show as letters"
    return 0
  fi
  mkdir -p "$fonts"
  cp "$font" "$fonts/marlett.ttf"
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' \
    /v "Marlett (TrueType)" /d marlett.ttf /f >>"$log" 2>&1
  wineserver -w
}

win_path() { winepath -w "$1" 2>/dev/null; }

# The driver, with its output kept in the log and in $seen.
seen=""
drive() {
  seen=$(timeout 180 wine "$driver" "$@" 2>>"$log" | tr -d '\r')
  local status=$?
  printf '%s\n' "driver $*:" "$seen" | sed 's/^/  /' >>"$log"
  return $status
}

check() {
  local name=$1
  shift
  if "$@"; then
    say "ok   $name"
  else
    say "FAIL $name"
    failures=$((failures + 1))
  fi
}

has() { grep -qxF -- "$1" <<<"$seen"; }
has_part() { grep -qF -- "$1" <<<"$seen"; }
has_match() { grep -qE -- "$1" <<<"$seen"; }
# The program's /log file holds each of these lines.
run_log=""
logged() { for line; do grep -qxF -- "$line" <(tr -d '\r' <"$run_log") || return 1; done; }

# Until /quiet run $1 waits for its restarted camera (or has ended); shown=1
# when a window or a box showed meanwhile.
await_restart() {
  shown=0
  for _ in $(seq 150); do
    grep -qF "Waiting up to 20 s for the camera to come back." "$run_log" 2>/dev/null && break
    kill -0 "$1" 2>/dev/null || break
    drive unseen 1 || shown=1
  done
}

shot() { import -window root "$shots/$1.png" >>"$log" 2>&1 || say "screenshot $1 failed"; }

app_pid=""
# start_app [OPTION...]; $confine, when set, runs it.
confine=()
start_app() {
  "${confine[@]}" wine explorer /desktop="$desktop,$desktop_size" "$app" "$@" >>"$log" 2>&1 &
  app_pid=$!
}

# set_display DPI SIZE: for programs started from now on (96 is Wine's own).
set_display() {
  desktop_size=$2
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >>"$log" 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop" /d "$2" /f >>"$log" 2>&1
  wineserver -w
}

# Close the dialog and wait until the program has gone.
stop_app() {
  drive click 1019 || true
  drive wait-gone 30 || true
  wineserver -w
  app_pid=""
}

camera_files() {
  rm -f "$camera_dir/flash.bin" "$camera_dir/flash.bin.tmp"
  printf '%s\n' "$@" >"$camera_dir/knobs.txt"
}

# The device path the system gives a camera in the port this one is in; its
# moniker carries it, as a real camera's does, and arrivals name it.
camera_path='\\?\usb#vid_3f2a&pid_0a51&mi_00#6&2a1b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global'
register_camera() {
  cp "$vcam_dll" "$camera_dir/veltrane_vcam.dll"
  wine regsvr32 /s "$(win_path "$camera_dir/veltrane_vcam.dll")" >>"$log" 2>&1
  wine reg add 'HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\usb#vid_3f2a&pid_0a51&mi_00#sim0' \
    /v DevicePath /d "$camera_path" /f >>"$log" 2>&1
}

unregister_camera() {
  if [ -f "$camera_dir/veltrane_vcam.dll" ]; then
    wine regsvr32 /s /u "$(win_path "$camera_dir/veltrane_vcam.dll")" >>"$log" 2>&1 || true
  fi
}

# What the camera's flash must hold after an update: the image with the
# camera's own 0xB010-0xB0FF, rebalanced checksums, serial index 3, and the
# camera's own 32 bytes at 0xFF00.
expected_flash() {
  python3 - "$firmware" "$1" "$2" <<'PY'
import sys
image = bytearray(open(sys.argv[1], "rb").read())
before = open(sys.argv[2], "rb").read()
image[0xB010:0xB100] = before[0xB010:0xB100]
def neg_sum(data):
    return (-sum(data)) & 0xFF
image[0xBFFF] = neg_sum(image[0xA000:0xBFFF])
image[0xCFFF] = neg_sum(image[0xC000:0xCFFF])
image[0xFFF0] = 3
image[0xFFFB] = 0
image[0xFFFB] = neg_sum(image[0xF000:0x10000])
image[0xFF00:0xFF20] = before[0xFF00:0xFF20]
open(sys.argv[3], "wb").write(image)
PY
}

# Transfer numbers for the camera's fault knobs. All graphs of one run bind
# the same camera, so the knobs count from 1 over everything the run sends.
# A run that goes straight to Upgrade sends, in order:
#   start-up: probe, version, release (a block read, SET+GET)             4
#   the Upgrade command: the camera's string at 0xFF00 (SET+GET)          2
#   the update: probe 1; variant probe 5 (a register write, two register
#     reads of SET+GET); 0xB000-0xBFFF twice in 69 block reads of
#     SET+GET each, and the string at 0xFF00 a second time            284
#   one erase per 4 KB unit                                              16
# then one transfer per 32-byte piece from address 0 (transfer 307). Any
# change to what the program sends before programming moves them all.
transfers_start_up=4
transfers_upgrade_command=2
transfers_update_before_erase=$((1 + 5 + 2 * 69 * 2 + 2))
transfers_erase=16
first_piece=$((transfers_start_up + transfers_upgrade_command + transfers_update_before_erase +
  transfers_erase + 1))
# The transfer that programs the piece at address $1.
piece_at() { echo $((first_piece + $1 / 32)); }

started=$(date +%s)
start_xvfb || exit 1
prepare_prefix || exit 1
say "prefix ready after $(($(date +%s) - started)) s on display $DISPLAY"
unregister_camera
# Camera-data backups of earlier runs of this test.
find "$WINEPREFIX/drive_c/users" -type d -path '*/AppData/Local/Veltrane' -prune -exec rm -rf {} + 2>/dev/null

if [ -n "$unit_tests" ]; then
  window_tests='ResourceTest.*:Win32DialogViewTest.*:MainDialogTest.*'
  seen=$(timeout 300 wine "$unit_tests" --gtest_filter="$window_tests" 2>&1 | tr -d '\r')
  printf '%s\n' "$seen" | sed 's/^/  /' >>"$log"
  check "window unit tests pass" has_part "[  PASSED  ]"
  check "window unit tests all ran" bash -c '! grep -qF "[  SKIPPED ]" <<<"$1" && ! grep -qF "[  FAILED  ]" <<<"$1"' _ "$seen"
fi

# --- No camera: the not-connected warning, Upgrade disabled.
start_app
drive box Pellorin ok 90
check "no camera: warning" has "box text=Your device is not connected, please connect the device and restart the application"
drive wait-dialog 30
drive read
check "no camera: status line" has "1010=No device found!"
check "no camera: version field empty" has "1009="
check "no camera: Upgrade disabled" has "upgrade=disabled"
shot no-camera-dialog
stop_app

# --- A camera with older firmware: version shown, ready texts.
camera_files "extended=1"
register_camera
start_app
drive wait-dialog 90
check "start-up: dialog opens without a question" test $? -eq 0
drive read
check "start-up: version" has "1009=3.1.0.5.091203"
check "start-up: status line" has "1010=The program will upgrade the firmware of your Tessaro."
check "start-up: hint line" has "1017=Press Upgrade to begin."
check "start-up: Upgrade enabled" has "upgrade=enabled"
shot dialog
cp "$camera_dir/flash.bin" "$work/flash-before.bin"

# --- A second instance warns and ends; the first goes on.
wine "$app" >>"$log" 2>&1 &
second_pid=$!
drive box Pellorin ok 60
check "second instance: warning" has "box text=Another instance of this program is already running"
second_gone=1
for _ in $(seq 100); do
  kill -0 "$second_pid" 2>/dev/null || { second_gone=0; break; }
  sleep 0.2
done
check "second instance: exits" test "$second_gone" -eq 0
wait "$second_pid"
check "second instance: exit code 5 (busy)" test $? -eq 5
drive read
check "second instance: first still ready" has "upgrade=enabled"

# --- The About box from the system menu.
drive sysmenu-open
shot system-menu
drive sysmenu-last 30
check "about: last entry of the system menu opens it" has "about: visible"
sleep 0.5
shot about
drive close-about 10
drive about 30
check "about: the About command opens it" has "about: visible"
drive close-about 10
check "about: closes with OK" test $? -eq 0

# --- Removal and arrival, as the device-change broadcast reports them (Wine
# sends none for a filter, so the driver posts what the system would).
drive device-change 0x8004
drive box Pellorin ok 30
check "removal: warning" has "box text=Your device is not connected, please connect the device and restart the application"
drive wait-text 1010 "No device found!" 30
drive read
check "removal: version field emptied" has "1009="
check "removal: Upgrade disabled" has "upgrade=disabled"
drive device-change 0x8000
drive wait-text 1009 "3.1.0.5.091203" 60
check "arrival: version shown again" test $? -eq 0
drive read
check "arrival: ready text" has "1010=The program will upgrade the firmware of your Tessaro."
# The removal cleared UpgradeAllowed; only a Yes to a question restores it.
check "arrival: Upgrade stays disabled" has "upgrade=disabled"
stop_app

# --- The update, in a fresh run.
start_app
drive wait-dialog 90
drive read
check "update: ready" has "upgrade=enabled"

# --- The update, with the (hidden) dump option switched on.
rm -f "$WINEPREFIX"/drive_c/FW_*.txt
drive click 1015
update_started=$(date +%s)
# Asked once the hint counts the bytes programmed, in the same process: the
# answer must come while the flash is written, not when the update is over.
drive click 1011 -- wait-text 1017 " of 65536 bytes" 60 -- query-end-session -- read
check "upgrade: the session may not end while the flash is programmed" has "query-end-session=FALSE"
check "upgrade: ...answered in the middle of the write" has_match "^1017=[0-9]+ of 65536 bytes"
drive wait-text 1010 "Firmware upgrading successfully done!" 180
check "upgrade: success text" test $? -eq 0
say "     update took $(($(date +%s) - update_started)) s"
drive query-end-session
check "upgrade: the session may end once it is done" has "query-end-session=TRUE"
drive read
check "upgrade: progress at 100" has "progress=100"
check "upgrade: re-plug hint" has "1017=Re-plug the device after close this program to active the new firmware."
check "upgrade: Upgrade disabled afterwards" has "upgrade=disabled"
drive no-box 1
check "upgrade: no message box" test $? -eq 0
shot updated
stop_app
expected_flash "$work/flash-before.bin" "$work/flash-expected.bin"
check "upgrade: camera flash holds the new firmware" cmp -s "$camera_dir/flash.bin" "$work/flash-expected.bin"
# dump_matches DIR: DIR holds one dump, of the camera's flash.
dump_matches() {
  local dumps=("$1"/FW_*.txt)
  [ "${#dumps[@]}" -eq 1 ] && [ -f "${dumps[0]}" ] || return 1
  python3 - "${dumps[0]}" "$camera_dir/flash.bin" <<'PY'
import sys
lines = open(sys.argv[1], "rb").read().split(b"\r\r\n")
flash = open(sys.argv[2], "rb").read()
assert lines[-1] == b"", "the last line must end the file"
expected = [b"0x%02X, 0x%02X" % (a, flash[a]) for a in range(len(flash))]
sys.exit(0 if lines[:-1] == expected else 1)
PY
}
check "upgrade: dump in C:\\ lists the new flash" dump_matches "$WINEPREFIX/drive_c"

# The camera's own data went into an update record before the flash was
# erased; the verified update marked that same file finished.
backups=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/AppData/Local/Veltrane/Backups' | head -n 1)
backup_count() { find "$backups" -maxdepth 1 -name 'camera-data-*.txt' 2>/dev/null | wc -l; }
check "upgrade: camera data backed up in %LOCALAPPDATA%\\Veltrane\\Backups" test "$(backup_count)" -eq 1
check "upgrade: the update record is marked finished" grep -qx "update: finished" "$backups"/camera-data-*.txt

# --- An update that fails in the middle of programming (at the piece for
# 0x2000, every unit erased), then Upgrade again in the same run: the second
# attempt sees the half-written flash and must leave what a clean update does.
camera_files "extended=1" "fail=$(piece_at 0x2000)"
start_app
drive wait-dialog 90
cp "$camera_dir/flash.bin" "$work/flash-before-failure.bin"
drive click 1011
drive box "Error!" none 120
# Wine's AMGetErrorText names the code where Windows has a text for it.
check "failed update: the channel's error box" has "box text=Error: 0x8007001f"
# The box's loop takes the message while the update waits in it.
drive query-end-session
check "failed update: the session may not end during the update" has "query-end-session=FALSE"
drive box "Error!" ok 10
drive box VeltraneUpgrade ok 60
check "failed update: the refused piece is shown" has "box text=Fail to Download code!"
drive wait-text 1010 "Upgrade failed. The new firmware was not activated." 30
check "failed update: the status line says so" test $? -eq 0
drive read
check "failed update: progress back at 0" has "progress=0"
check "failed update: Upgrade enabled again" has "upgrade=enabled"
drive query-end-session
check "failed update: the session may end once it has stopped" has "query-end-session=TRUE"
shot failed-update
drive click 1011
drive wait-text 1010 "Firmware upgrading successfully done!" 180
check "retry: the update succeeds" test $? -eq 0
drive no-box 1
check "retry: no message box" test $? -eq 0
stop_app
expected_flash "$work/flash-before-failure.bin" "$work/flash-retry-expected.bin"
check "retry: the flash is what a clean update leaves" cmp -s "$camera_dir/flash.bin" "$work/flash-retry-expected.bin"

# --- The camera unplugged in the middle of the update (at the piece for
# 0x8000); it stays gone. The next runs start from the flash it leaves.
camera_files "extended=1" "unplug=$(piece_at 0x8000)"
start_app
drive wait-dialog 90
cp "$camera_dir/flash.bin" "$work/flash-before-unplug.bin"
drive click 1011
drive box "Error!" ok 120
check "unplugged: the channel's error box" has "box text=Error: 0x8007048f"
drive box VeltraneUpgrade ok 60
check "unplugged: the refused piece is shown" has "box text=Fail to Download code!"
drive wait-text 1010 "Upgrade failed. The new firmware was not activated." 30
check "unplugged: the status line says so" test $? -eq 0
drive read
check "unplugged: no success text" bash -c '! grep -qF "successfully" <<<"$1"' _ "$seen"
stop_app
cp "$camera_dir/flash.bin" "$work/flash-failed.bin"
expected_flash "$work/flash-before-unplug.bin" "$work/flash-unplug-new.bin"
check "unplugged: the flash is not the new firmware" bash -c '! cmp -s "$1" "$2"' _ "$work/flash-failed.bin" "$work/flash-unplug-new.bin"
string_erased() {
  python3 -c 'import sys; sys.exit(0 if open(sys.argv[1], "rb").read()[0xFF00:0xFF20] == b"\xff" * 32 else 1)' "$1"
}
check "unplugged: the camera's string is erased" string_erased "$work/flash-failed.bin"

# --- The next run without any backup: the question, and No writes nothing.
printf '%s\n' "extended=1" >"$camera_dir/knobs.txt"
mv "$backups" "$backups.aside"
start_app
# The erased version word reads as newer than the image: go on.
drive box "" yes 90
drive wait-dialog 30
drive click 1011
drive box "" no 120
check "lost data: the question names the erased settings" has_part "read as erased"
drive wait-text 1010 "Upgrade failed. The new firmware was not activated." 30
stop_app
check "lost data: No leaves the flash as it was" cmp -s "$camera_dir/flash.bin" "$work/flash-failed.bin"

# --- The next runs with the records back: the unplugged run's is the only
# unfinished one, but nothing left of the camera's own data says whose it is.
# /yes does not choose: the run stops before erasing and names the record;
# the run that names it with /restorefrom gets the camera's data back.
rm -rf "$backups"
mv "$backups.aside" "$backups"
run_log=$work/needs-decision.log && rm -f "$run_log"
timeout 120 wine "$app" /upgrade /yes /quiet /log "$(win_path "$run_log")" >>"$log" 2>&1
check "needs decision: exit code 6" test $? -eq 6
wineserver -w
check "needs decision: nothing was erased" cmp -s "$camera_dir/flash.bin" "$work/flash-failed.bin"
check "needs decision: the log says why, and how to go on" logged "result: needs-decision (6)" \
  "Answer: none (only the camera's owner can tell)" "  Run the update again with /restorefrom FILE to restore this camera's own record, or with /withoutowndata to go on with its settings blank."
# The record the log names is the one the next run restores from.
record=$(tr -d '\r' <"$run_log" | sed -n 's/^ *saved .*, file \(C:.*\)$/\1/p')
run_log=$work/restore-from.log && rm -f "$run_log"
timeout 120 wine "$app" /upgrade /yes /quiet /restorefrom "$record" /log "$(win_path "$run_log")" >>"$log" 2>&1 &
restore_pid=$!
await_restart "$restore_pid"
drive device-change 0x8004 -- device-change 0x8000 "$camera_path"
wait "$restore_pid"
check "restored: the update succeeds" test $? -eq 0
wineserver -w
expected_flash "$work/flash-before-unplug.bin" "$work/flash-restored-expected.bin"
check "restored: the flash holds the camera's own data" cmp -s "$camera_dir/flash.bin" "$work/flash-restored-expected.bin"

# --- A camera with the image's own version: the question, No disables Upgrade.
camera_files "extended=1" "version=image"
start_app
drive box "" no 90
check "same version: question" has_part "box text=The firmware running in your webcam has the same version"
drive wait-dialog 30
drive read
check "same version: No disables Upgrade" has "upgrade=disabled"
shot same-version-declined
stop_app
# /check /quiet asks nothing: the question is a note, and no box shows.
run_log=$work/check-same.log && rm -f "$run_log"
wine "$app" /check /quiet /log "$(win_path "$run_log")" >>"$log" 2>&1 &
check_pid=$!
await_restart "$check_pid"
wait "$check_pid"
check "check, same version: exit code 0" test $? -eq 0
check "check, same version: no window and no box" test "$shown" -eq 0
check "check, same version: the note and the result in the log" logged "result: done (0)" \
  "Note: The firmware running in your webcam has the same version" "update available: no"

# --- A wrong option with /quiet: no box, exit code 2, the error in the log.
run_log=$work/usage.log
rm -f "$run_log"
timeout 60 wine "$app" /upgrade /force /quiet /log "$(win_path "$run_log")" >>"$log" 2>&1
check "usage: exit code 2" test $? -eq 2
check "usage: the error and the result in the log" logged "result: usage (2)" \
  "Box [VeltraneUpgrade]: Unknown option: /force"

# --- /upgrade /yes /quiet /log: nothing shows; once the camera is back (the
# driver reports the restart as the system would) the run ends with 0.
camera_files "extended=1"
cp "$work/flash-before.bin" "$camera_dir/flash.bin"
run_log=$work/check-older.log && rm -f "$run_log"
timeout 60 wine "$app" /check /quiet /log "$(win_path "$run_log")" >>"$log" 2>&1
check "check, older version: exit code 7" test $? -eq 7
check "check, older version: nothing written" cmp -s "$camera_dir/flash.bin" "$work/flash-before.bin"
check "check, older version: both versions in the log" logged "result: update-available (7)" \
  "version before: 3.1.0.5.091203" "image version: 3.1.0.6.100108" "update available: yes"
run_log=$work/quiet.log
rm -f "$run_log"
timeout 120 wine "$app" /upgrade /yes /quiet /log "$(win_path "$run_log")" >>"$log" 2>&1 &
quiet_pid=$!
await_restart "$quiet_pid"
check "quiet: no window and no box" test "$shown" -eq 0
drive device-change 0x8004
# Another camera, and one of the model in another port, are not the one.
for arrival in "vid_1e4b&pid_7a02&mi_00#6&2a1b3c4d&0&0000" "vid_3f2a&pid_0a51&mi_00#6&2a1b3c4d&0&0001"; do
  drive device-change 0x8000 "${camera_path/vid_3f2a&pid_0a51&mi_00#6&2a1b3c4d&0&0000/"$arrival"}" 30
  check "quiet: the arrival of $arrival does not end the wait" has "dialog: still there"
done
drive device-change 0x8000 "$camera_path"
wait "$quiet_pid"
check "quiet: exit code 0" test $? -eq 0
wineserver -w
check "quiet: the flash is what a clean update leaves" cmp -s "$camera_dir/flash.bin" "$work/flash-expected.bin"
check "quiet: the log holds the messages, the result and both versions" logged \
  "UVC: completed to download code." "result: done (0)" "vendor id: 0x3F2A" \
  "version before: 3.1.0.5.091203" "version after: 3.1.0.6.100108" \
  'port: USB\VID_3F2A&PID_0A51&MI_00\6&2A1B3C4D&0&0000'
check "quiet: the log names the update record" grep -qE '^record: C:\\.*camera-data-' "$run_log"

# --- /upgrade /no, a camera whose flash says newer firmware: exit code 4,
# nothing written.
camera_files "extended=1"
python3 -c 'import sys; f = bytearray(open(sys.argv[1], "rb").read()); f[0xB000:0xB004] = b"\x01\x03\x0c\x63"
open(sys.argv[2], "wb").write(f)' "$work/flash-before.bin" "$work/flash-newer.bin"  # built in 2099
cp "$work/flash-newer.bin" "$camera_dir/flash.bin"
run_log=$work/declined.log
rm -f "$run_log"
timeout 120 wine "$app" /upgrade /no /log "$(win_path "$run_log")" >>"$log" 2>&1
check "declined: exit code 4" test $? -eq 4
wineserver -w
check "declined: the flash is unchanged" cmp -s "$camera_dir/flash.bin" "$work/flash-newer.bin"
check "declined: the question, its answer and the result in the log" logged "Answer: No" \
  "Question: The firmware running in your webcam is newer than this version," "result: declined (4)"

# --- At 144 DPI, with C:\ closed to new files: the dump goes to Documents.
camera_files "extended=1"
cp "$work/flash-before.bin" "$camera_dir/flash.bin"
run_log=$work/dump-fallback.log
rm -f "$documents"/FW_*.txt "$run_log"
dpi_raised=1
set_display 144 1024x768
chmod a-w "$WINEPREFIX/drive_c"
# root writes anywhere unless it gives up overriding file modes; so does the
# server, which opens the programs' files.
[ "$(id -u)" -eq 0 ] && confine=(setpriv --bounding-set=-dac_override,-dac_read_search)
"${confine[@]}" wineserver
start_app /log "$(win_path "$run_log")"
drive wait-dialog 90
drive read
shot dialog-144dpi
drive click 1015
drive click 1011
drive wait-text 1010 "Firmware upgrading successfully done!" 180
check "144 dpi: the update succeeds" test $? -eq 0
shot updated-144dpi
check "dump fallback: the status line says where" has_part "Flash dump in Documents."
check "dump fallback: the log says where" grep -qF "; the dump is in C:\users\\$(id -un)\Documents\FW_" "$run_log"
stop_app
confine=()
chmod u+w "$WINEPREFIX/drive_c"
set_display 96 800x600
dpi_raised=""
check "dump fallback: the dump in Documents lists the new flash" dump_matches "$documents"
unregister_camera

say "e2e: $failures failure(s), $(($(date +%s) - started)) s; screenshots in $shots"
if [ "$failures" -ne 0 ]; then
  echo "---- log ----"
  cat "$log"
  exit 1
fi
exit 0
