#!/usr/bin/env bash
# A hub of cameras: 8 simulated cameras at a real camera's pace
# (latency=1000 us a transfer, erase=50 ms a 4 KB unit), updated one alone,
# then all with --jobs 1, then all with --jobs 8. Prints the wall times,
# the ratio of --jobs 8 to one camera alone, and where each run's time went.
#   bench/fleet_benchmark.sh [PROGRAM]    (default build/linux/veltrane-upgrade)
# It takes about a minute and a half; by hand, not in the test command.
set -euo pipefail
program=$(readlink -f "${1:-build/linux/veltrane-upgrade}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pace=latency=1000,erase=50
export XDG_STATE_HOME=$work/state VELTRANE_LOCK_DIR=$work
chmod 700 "$work"

# run NAME KNOBS ARG...: wall time in seconds; the JSON report in $work/NAME.json
run() {
  local name=$1 knobs=$2
  shift 2
  local start end
  start=$(date +%s.%N)
  "$program" --simulate="$knobs" --upgrade --yes --json "$@" >"$work/$name.json" 2>/dev/null ||
    { echo "$name: the run failed (status $?)" >&2; exit 1; }
  end=$(date +%s.%N)
  awk "BEGIN { printf \"%.2f\", $end - $start }"
}
# phases NAME: the mean of each phase over the cameras of a report.
phases() {
  python3 - "$work/$1.json" <<'EOF'
import json, sys
reports = json.load(open(sys.argv[1]))
reports = reports if isinstance(reports, list) else [reports]
mean = lambda key: sum(r["phases"][key] for r in reports) / len(reports)
print("start-up %.2f s (1.00 of it the version check's wait), update %.2f s, return %.2f s"
      % (mean("start_up"), mean("update"), mean("return")))
EOF
}

one=$(run one "$pace,flash=$work/one")
sequential=$(run jobs1 "cameras=8,$pace,flash=$work/seq" --all --jobs 1)
parallel=$(run jobs8 "cameras=8,$pace,flash=$work/par" --all --jobs 8)
echo "one camera alone:         $one s   ($(phases one))"
echo "8 cameras, --jobs 1:      $sequential s"
echo "8 cameras, --jobs 8:      $parallel s   (per camera: $(phases jobs8))"
awk "BEGIN { printf \"--jobs 8 / one camera: %.2f (goal: at most 1.25); --jobs 1 / one camera: %.2f\n\", \
  $parallel / $one, $sequential / $one }"
echo "the rest of --jobs 8 over one camera: starting 8 processes and their runs side by side"
