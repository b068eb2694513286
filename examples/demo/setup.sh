#!/bin/sh
# Setup script of the Zelkor demo: runs after the product's files are in
# place, with INSTALL_ROOT naming the install directory.
set -e
root=${INSTALL_ROOT:?INSTALL_ROOT is not set}
cat > "$root/env.sh" <<ENV
# Source this file to use Zelkor ${ZELKOR_VERSION:-unknown} (${ZK_BINDIR:-bin}).
ZELKOR_HOME='$root'
ZELKOR_VERSION='${ZELKOR_VERSION:-unknown}'
PATH="\$ZELKOR_HOME/${ZK_BINDIR:-bin}:\$PATH"
export ZELKOR_HOME ZELKOR_VERSION PATH
ENV
echo "Zelkor ${ZELKOR_VERSION:-unknown} set up in $root"
