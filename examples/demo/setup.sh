#!/bin/sh
# Setup script of the Zelkor demo: runs after the product's files are in
# place, with INSTALL_ROOT naming the install directory. It uses shell
# builtins only, so it also runs where the shell is the only program.
set -e
root=${INSTALL_ROOT:?INSTALL_ROOT is not set}
version=${ZELKOR_VERSION:-unknown}
bindir=${ZK_BINDIR:-bin}
{
  printf '# Source this file to use Zelkor %s (%s).\n' "$version" "$bindir"
  printf "ZELKOR_HOME='%s'\n" "$root"
  printf "ZELKOR_VERSION='%s'\n" "$version"
  printf 'PATH="$ZELKOR_HOME/%s:$PATH"\n' "$bindir"
  printf 'export ZELKOR_HOME ZELKOR_VERSION PATH\n'
} >"$root/env.sh"
echo "Zelkor $version set up in $root"
