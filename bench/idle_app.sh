#!/usr/bin/env bash
# The menu-bar application left alone with its menu closed: what it does over a window of
# SECONDS (default 60) after it has settled, and how much memory it holds.
#   bench/idle_app.sh [build-dir]
# Reports the CPU time it used, how often its threads woke up (context switches) and its
# resident memory. The only work the application schedules while idle is the update check
# 30 seconds after start (which falls inside the window) and the one every 6 hours.
set -euo pipefail
build=${1:-build}
seconds=${SECONDS_IDLE:-60}
app=$build/Morvane.app/Contents/MacOS/Morvane
home=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$home"' EXIT

mkdir -p "$home/Library/LaunchAgents"
for i in $(seq 20); do
  printf '<?xml version="1.0"?><plist version="1.0"><dict><key>Label</key><string>com.idle.agent%s</string><key>ProgramArguments</key><array><string>/bin/true</string></array></dict></plist>' \
    "$i" >"$home/Library/LaunchAgents/com.idle.agent$i.plist"
done
# Offscreen unless a platform is named (QT_QPA_PLATFORM=xcb with DISPLAY for a real tray).
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} HOME=$home MORVANE_HOME=$home/data \
  "$app" 2>/dev/null &
pid=$!

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
switches() {
  cat /proc/"$pid"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'
}
threads() { ls /proc/"$pid"/task | wc -l; }
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }

sleep 3  # start-up and the first scan
t0=$(ticks) s0=$(switches)
sleep "$seconds"
t1=$(ticks) s1=$(switches)
hz=$(getconf CLK_TCK)
echo "idle for ${seconds}s with the menu closed:"
echo "  cpu time        $(( (t1 - t0) * 1000 / hz )) ms"
echo "  wake-ups        $(( s1 - s0 )) context switches over $(threads) threads"
echo "  resident memory $(( $(rss) / 1024 )) MiB ($(rss) KiB)"
