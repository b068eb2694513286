#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# normal build and under AddressSanitizer and UndefinedBehaviorSanitizer.
# Last, every fuzz target runs for a short while from its seeds, side by
# side; a finding fails the command. Warnings are errors here.
#
# A build's tests run while the next build compiles, so that each fills the
# other's quiet stretches (link steps, the longest tests); their output
# follows when both are done.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
tests_pid=
# The tests in the background go with the script when it stops early.
trap '[ -z "$tests_pid" ] || kill -- "-$tests_pid" 2>/dev/null || true' EXIT

build() {  # PRESET
  echo "== $1 build"
  cmake --preset "$1" -DZK_WERROR=ON >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

start_tests() {  # PRESET BUILD_DIR
  setsid -w ctest --preset "$1" -j"$jobs" >"$2/ctest.log" 2>&1 </dev/null &
  tests_pid=$!
}

# finish_tests PRESET BUILD_DIR: their output, and the cases that skipped
# themselves, which pass inside their shard, so that a machine lacking a
# mount or a privilege shows it.
finish_tests() {
  local status=0 log=$2/Testing/Temporary/LastTest.log
  wait "$tests_pid" || status=$?
  tests_pid=
  echo "== $1 tests"
  cat "$2/ctest.log"
  [ "$status" -eq 0 ] || exit "$status"
  if grep -q '^\[  SKIPPED \] [^ ]*\.' "$log"; then
    echo "Skipped cases:"
    grep '^\[  SKIPPED \] [^ ]*\.' "$log" | sed 's/ (.*//' | sort -u
  fi
}

build default
start_tests default build
build asan
finish_tests default build
start_tests asan build-asan
echo "== fuzz build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs" >/dev/null
finish_tests asan build-asan

echo "== fuzz targets"
fuzz/run.sh -t 20 --fresh
