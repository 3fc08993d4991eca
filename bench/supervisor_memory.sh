#!/usr/bin/env bash
# The built-in engine's supervisors: the memory each of them holds (proportional set size, from
# /proc/<pid>/smaps_rollup) with JOBS jobs loaded, each a `sleep` running under its supervisor.
#   bench/supervisor_memory.sh [jobs=300] [launchctl=the built one]
# Prints the mean and the largest PSS of one supervisor and their total; run it at 300 and 3000
# to see the total grow with the jobs, and with another build's launchctl to compare.
set -euo pipefail
jobs=${1:-300}
launchctl=${2:-build/Morvane.app/Contents/Helpers/launchctl}
home=$(mktemp -d)
export HOME=$home MORVANE_JOB_ENGINE=builtin XDG_RUNTIME_DIR=
domain=gui/$(id -u)
state=$home/.launchd-standin/state.json
cleanup() {
  "$launchctl" list 2>/dev/null | awk 'NR > 1 { print $3 }' | while read -r label; do
    "$launchctl" bootout "$domain/$label" >/dev/null 2>&1 || true
  done
  rm -rf "$home"
}
trap cleanup EXIT

mkdir -p "$home/agents"
batch=()
for i in $(seq "$jobs"); do
  file=$home/agents/bench.memory.$i.plist
  printf '<?xml version="1.0"?><plist version="1.0"><dict><key>Label</key><string>bench.memory.%s</string><key>ProgramArguments</key><array><string>/bin/sleep</string><string>3600</string></array><key>RunAtLoad</key><true/></dict></plist>' \
    "$i" >"$file"
  batch+=("$file")
  if [ ${#batch[@]} -eq 100 ] || [ "$i" -eq "$jobs" ]; then
    "$launchctl" bootstrap "$domain" "${batch[@]}"
    batch=()
  fi
done
sleep 2  # every supervisor has recorded its job and gone to sleep
# The supervisors' pids, as the state records them.
awk '/"supervisor": \{/ { want = 1 } want && /"pid"/ { gsub(/[^0-9]/, ""); print; want = 0 }' \
  "$state" | while read -r pid; do
  awk '/^Pss:/ { print $2 }' "/proc/$pid/smaps_rollup"
done | sort -n | awk -v jobs="$jobs" '
  { total += $1; largest = $1; count++ }
  END {
    printf "%d jobs, %d supervisors: PSS per supervisor mean %.0f kB, largest %d kB; all %.1f MB\n",
           jobs, count, total / count, largest, total / 1024
  }'
