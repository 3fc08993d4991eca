#!/usr/bin/env bash
# What a newcomer meets first: the packages scripts/run and scripts/test install, the word they
# get when they cannot install them, and the compiler's error when the build fails.
#   scripts_test.sh <source-dir> packages|sudo|failed-build|key-pin
set -uo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Tools install-deps runs, in front of the real ones: no package is installed, and apt-get
# only records what it was asked to install.
fake_tools() {
  mkdir -p "$work/bin"
  cat >"$work/bin/dpkg-query" <<'TOOL'
#!/bin/sh
exit 1
TOOL
  cat >"$work/bin/apt-get" <<TOOL
#!/bin/sh
echo "\$*" >>"$work/apt-get.log"
TOOL
  chmod 755 "$work" "$work/bin" "$work/bin/dpkg-query" "$work/bin/apt-get"
}

case $2 in
  packages)
    fake_tools
    PATH=$work/bin:$PATH "$source_dir/scripts/install-deps" 2>/dev/null || fail "install-deps"
    run=$(grep '^install' "$work/apt-get.log")
    rm -f "$work/apt-get.log"
    PATH=$work/bin:$PATH "$source_dir/scripts/install-deps" test 2>/dev/null ||
      fail "install-deps test"
    test=$(grep '^install' "$work/apt-get.log")
    # Running needs the toolkit, and fonts for Chinese and the menu's symbols.
    for package in qt6-base-dev fonts-wqy-microhei fonts-symbola; do
      [[ " $run " == *" $package "* ]] || fail "scripts/run does not install $package"
    done
    rm -f "$work/apt-get.log"
    PATH=$work/bin:$PATH "$source_dir/scripts/install-deps" release 2>/dev/null ||
      fail "install-deps release"
    release=$(grep '^install' "$work/apt-get.log")
    # A release is built like a run, then packed with zip.
    for package in qt6-base-dev zip; do
      [[ " $release " == *" $package "* ]] || fail "scripts/release does not install $package"
    done
    [[ " $run " != *" zip "* ]] || fail "scripts/run installs zip"
    # Test tools only for the tests.
    for package in libgtest-dev libbenchmark-dev libcpp-httplib-dev xvfb trayer xdotool; do
      [[ " $run " != *" $package "* ]] || fail "scripts/run installs the test tool $package"
      [[ " $test " == *" $package "* ]] || fail "scripts/test does not install $package"
    done
    ;;
  sudo)
    # A user whom sudo does not allow, without a terminal to ask for a password on.
    fake_tools
    cat >"$work/bin/sudo" <<'TOOL'
#!/bin/sh
if [ "$1" = -n ]; then echo "sudo: a password is required" >&2; exit 1; fi
echo "sudo: a terminal is required to read the password" >&2
exit 1
TOOL
    chmod 755 "$work/bin/sudo"
    cp "$source_dir/scripts/install-deps" "$work/install-deps"
    chmod 755 "$work/install-deps"
    setpriv --reuid=65534 --regid=65534 --clear-groups \
      env PATH="$work/bin:$PATH" "$work/install-deps" </dev/null >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -eq 1 ] || fail "exit status $status"
    grep -q "These Debian packages are missing: g++" "$work/err" || fail "no list of packages"
    grep -q "apt-get install --no-install-recommends .*qt6-base-dev" "$work/err" ||
      fail "no command to install them"
    [ ! -e "$work/apt-get.log" ] || fail "apt-get ran: $(cat "$work/apt-get.log")"
    ;;
  failed-build)
    # A copy of the sources whose every file fails to compile.
    tar -C "$source_dir" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work" -xf -
    find "$work/core" "$work/standins" "$work/Morvane" -name '*.cc' \
      -exec sh -c 'echo "#error broken on purpose" >>"$1"' _ {} \;
    "$work/scripts/run" --version >"$work/out" 2>"$work/err"
    status=$?
    [ "$status" -ne 0 ] || fail "a failed build ends with status 0"
    grep -q "error: #error broken on purpose" "$work/err" || fail "no compiler error shown"
    grep -q "the build failed" "$work/err" || fail "no word that the build failed"
    [ ! -s "$work/out" ] || fail "standard output: $(cat "$work/out")"
    ;;
  key-pin)
    # A build folder pinned to a release key through the environment keeps that key on a later
    # configure without the variable, and never makes a default key of its own.
    mkdir -p "$work/project" "$work/home"
    openssl genpkey -algorithm ed25519 2>/dev/null | openssl pkey -pubout >"$work/pinned.pem" ||
      fail "openssl could not make a key"
    cat >"$work/project/CMakeLists.txt" <<PROJECT
cmake_minimum_required(VERSION 3.20)
project(pin LANGUAGES NONE)
set(PROJECT_SOURCE_DIR $source_dir)
include($source_dir/cmake/release_keys.cmake)
morvane_release_public_keys(keys signing)
message(STATUS "embeds \${keys}")
PROJECT
    configure() {
      env -u XDG_CONFIG_HOME -u MORVANE_RELEASE_KEY HOME="$work/home" "$@" \
        cmake -S "$work/project" -B "$work/build" >"$work/out" 2>"$work/err"
    }
    configure MORVANE_RELEASE_PUBLIC_KEY="$work/pinned.pem" || fail "the pinned configure failed"
    configure env -u MORVANE_RELEASE_PUBLIC_KEY || fail "the second configure failed"
    grep -q "embeds $work/pinned.pem" "$work/out" || fail "the pin was lost: $(cat "$work/out")"
    [ ! -e "$work/home/.config/morvane" ] || fail "a default key was made beside the pin"
    ;;
  *)
    echo "unknown case $2" >&2
    exit 2
    ;;
esac
if [ "$failures" -ne 0 ]; then
  echo "--- standard error of the run:" >&2
  cat "$work/err" 2>/dev/null >&2
  exit 1
fi
