#!/usr/bin/env bash
# The instructions one opening of the menu of 1,000 agents takes, with every agent scheduled and
# without schedules, counted by callgrind: unlike its time, the count hardly changes with the
# machine's load. Prints the median opening of each and their ratio.
#
#   bench/menu_open_instructions.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if ! command -v valgrind >/dev/null; then
  echo "skipped: valgrind is not installed"
  exit 0
fi
profiles=$(mktemp -d)
trap 'rm -rf "$profiles"' EXIT

# One profile per opening; the first openings of a run fill the caches and count more, the median
# is a warm one.
median_opening() {
  local variant=$1
  QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --collect-atstart=no \
    --callgrind-out-file="$profiles/$variant" "$build/bench/menu_bench" \
    --benchmark_filter="BM_OpenMenu$variant/1000/" --benchmark_min_time=3 >/dev/null 2>&1
  # A menu_bench built without valgrind's header counts no opening apart.
  if ! compgen -G "$profiles/$variant.*" >/dev/null; then
    echo "menu_open_instructions: $build/bench/menu_bench counted no opening; rebuild it where" \
      "valgrind/callgrind.h is installed" >&2
    exit 1
  fi
  cat "$profiles/$variant".* | awk '/^summary:/ { print $2 }' | sort -n |
    awk '{ counts[NR] = $1 } END { print counts[int((NR + 1) / 2)] }'
}

with=$(median_opening WithSchedules)
without=$(median_opening NotRunning)
awk -v with="$with" -v without="$without" 'BEGIN {
  printf "instructions per opening at 1000 agents: with schedules %d, without %d, ratio %.3f\n",
         with, without, with / without
}'
