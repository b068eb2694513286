#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# normal build and under AddressSanitizer and UndefinedBehaviorSanitizer.
# Last, every fuzz target runs for a short while from its seeds, side by
# side; a finding fails the command. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
for preset in default asan; do
  echo "== $preset build"
  cmake --preset "$preset" -DZK_WERROR=ON >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

echo "== fuzz targets"
fuzz/run.sh -t 20 --fresh
