#!/usr/bin/env bash
# `--update` against a local server with a 50 MB package, side by side with the floor: the same
# work done by the standard tools (curl -o, sha256sum, unzip, and one sha256sum pass over the
# unpacked files). Reports the median wall time of each, their ratio, and peak resident memory
# (of the largest process: --update itself or a tool it runs), beside their targets.
#
#   bench/update_bench.sh [build-dir] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-3}
work=$(mktemp -d)
server_pid=""
cleanup() {
  # The server ends by the signal it is sent; that status is not the benchmark's.
  if [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; then
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The packages: 1.0.0 as installed, and 9.0.0 padded with incompressible bytes to a 50 MB zip.
"$root/scripts/release" --bundle "$build/Morvane.app" 1.0.0 "$work/old" >/dev/null
cp -a "$build/Morvane.app" "$work/Big.app"
rm -rf "$work/Big.app/Contents/_CodeSignature"
mkdir -p "$work/Big.app/Contents/Resources"
head -c $((50 * 1000 * 1000 - $(stat -c %s "$work/old/Morvane-1.0.0.zip"))) /dev/urandom \
  >"$work/Big.app/Contents/Resources/payload"
"$root/scripts/release" --bundle "$work/Big.app" 9.0.0 "$work/site" >/dev/null
size=$(stat -c %s "$work/site/Morvane-9.0.0.zip")

"$build/bench/file_server" "$work/site" >"$work/port" &
server_pid=$!
for _ in $(seq 1 50); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(head -1 "$work/port")"

measure() {  # prints "seconds peak-kB" of one command
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; return 1; }
  cat "$work/time"
}

floor_once() {
  rm -rf "$work/floor" && mkdir -p "$work/floor"
  measure bash -c '
    cd "$1" && curl -s -o pkg.zip "$2/Morvane-9.0.0.zip" && sha256sum pkg.zip >/dev/null &&
    unzip -q pkg.zip -d out && find out -type f -exec sha256sum {} + >/dev/null' \
    bash "$work/floor" "$url"
}

# Ends the application copies the installer started from the installed bundle.
stop_installed() {
  local proc exe
  for proc in /proc/[0-9]*; do
    exe=$(readlink "$proc/exe" 2>/dev/null) || continue
    [[ $exe == "$work/inst/"* ]] && kill "${proc#/proc/}" 2>/dev/null
  done
  return 0
}

update_once() {
  rm -rf "$work/inst" "$work/home" && mkdir -p "$work/inst"
  unzip -q "$work/old/Morvane-1.0.0.zip" -d "$work/inst"
  # The new version must have somewhere to start, or nothing is installed.
  MORVANE_HOME="$work/home" MORVANE_UPDATE_URL="$url" MORVANE_LANG=en QT_QPA_PLATFORM=offscreen \
    MORVANE_JOB_ENGINE=builtin \
    measure "$work/inst/Morvane.app/Contents/MacOS/Morvane" --update
  # Let the detached installer finish before the next round touches the same folders.
  for _ in $(seq 1 600); do
    grep -qE '^(updated|new version did not start|could not swap|old instance)' \
      "$work/home/update.log" 2>/dev/null && break
    sleep 0.1
  done
  stop_installed
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/floor.txt"
: >"$work/update.txt"
for _ in $(seq 1 "$rounds"); do
  floor_once >>"$work/floor.txt"
  update_once >>"$work/update.txt"
done
floor_s=$(cut -d' ' -f1 "$work/floor.txt" | median)
update_s=$(cut -d' ' -f1 "$work/update.txt" | median)
floor_kb=$(cut -d' ' -f2 "$work/floor.txt" | sort -n | tail -1)
update_kb=$(cut -d' ' -f2 "$work/update.txt" | sort -n | tail -1)
echo "package            $size bytes, $rounds rounds"
echo "floor (tools)      ${floor_s} s   peak RSS ${floor_kb} kB (largest single tool)"
echo "--update           ${update_s} s   peak RSS ${update_kb} kB (largest process)"
awk -v u="$update_s" -v f="$floor_s" \
  'BEGIN { printf "ratio              %.2f x floor (target: at most 1.20)\n", u / f }'
echo "peak memory target at most 32768 kB for --update"
