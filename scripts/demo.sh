#!/usr/bin/env bash
# Installs what is missing, builds the project and installs it into a
# folder of its own under the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake --preset default >/dev/null
cmake --build --preset default
prefix=$PWD/build/demo-prefix
rm -rf "$prefix"
cmake --install build --prefix "$prefix" >/dev/null
echo "Installed into $prefix:"
(cd "$prefix" && find . -type f | sort)
