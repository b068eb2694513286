#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# normal build (GCC) and under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, whose tree also makes the fuzz targets).
# Last, every fuzz target runs for a short while from its seeds, side by
# side; a finding fails the command. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
# skipped BUILD_DIR: the cases that skipped themselves, which pass inside
# their shard, so that a machine lacking a mount or a privilege shows it.
skipped() {
  local log=$1/Testing/Temporary/LastTest.log
  if grep -q '^\[  SKIPPED \] [^ ]*\.' "$log"; then
    echo "Skipped cases:"
    grep '^\[  SKIPPED \] [^ ]*\.' "$log" | sed 's/ (.*//' | sort -u
  fi
}

for preset in default asan; do
  echo "== $preset build"
  cmake --preset "$preset" -DZK_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
  if [ "$preset" = default ]; then skipped build; else skipped "build-$preset"; fi
done

echo "== fuzz targets"
# The sanitizer build has made them, with the library instrumented for them.
fuzz/run.sh -t 8 --fresh --preset asan
