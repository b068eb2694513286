#!/usr/bin/env bash
# The main job: builds zkpack and zkinstall, packs the demo product of
# examples/demo into an installer and runs it as a person would, answering
# its prompts with a folder under the build tree; then shows what was
# installed and runs the installed product. Running it again finds the
# folder in place and installs over it.
#
#   scripts/demo.sh                      install deps, build, pack, install
#   scripts/demo.sh --no-build BIN OUT   use zkpack and zkinstall from BIN, work
#                                        and install under OUT (the tests do)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

if [ "${1:-}" = "--no-build" ]; then
  [ $# -eq 3 ] || { echo "usage: $0 [--no-build BIN OUT]" >&2; exit 2; }
  bin=$(cd "$2" && pwd)
  out=$(mkdir -p "$3" && cd "$3" && pwd)
else
  scripts/deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default
  bin=$source_dir/build/bin
  out=$source_dir/build
fi

work=$out/demo-work
install_dir=$out/demo-install
product=$work/product

# Git keeps only 0755 and 0644, so the copy that is packed gets the modes the
# product ships with: the configuration and its folder for the owner only.
rm -rf "$work"
mkdir -p "$work/tmp"
cp -R examples/demo/product "$product"
find "$product" -type d -exec chmod 0755 {} +
find "$product" -type f -exec chmod 0644 {} +
chmod 0755 "$product/bin/zelkor"
chmod 0700 "$product/etc"
chmod 0600 "$product/etc/zelkor.conf"

installer=$work/zelkor-setup
"$bin/zkpack" create -o "$installer" \
  --env ZK_BINDIR=bin --env ZELKOR_VERSION=2.4 \
  --welcome examples/demo/welcome.txt \
  --tree "$product" \
  --script examples/demo/setup.sh
echo "== Packed $installer"
"$bin/zkpack" list "$installer"

echo
echo "== Running the installer; answering $install_dir, then y if it asks to create it"
echo
# Started by its bare name, the installer finds itself along PATH; TEMP keeps
# its temporary file under the build tree.
(cd "$work" && printf '%s\ny\n' "$install_dir" |
  PATH="$work:$PATH" TEMP="$work/tmp" zelkor-setup)

echo
echo "== Installed in $install_dir"
(cd "$install_dir" && find . -mindepth 1 -printf '%M  %P\n' | sort -k2)

echo
echo "== Running the installed product"
(. "$install_dir/env.sh" && zelkor)
