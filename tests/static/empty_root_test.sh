#!/usr/bin/env bash
# empty_root_test.sh CMAKE BUILD_DIR SOURCE_DIR
#
# The installers need no shared library and no dynamic loader; a demo package
# made with the installed tools verifies, unpacks, sets its environment and
# runs its script inside a root holding only the package, a static shell,
# /dev/null and /tmp. The root part needs root (chroot, mknod): exit 77
# (skipped) without it.
set -euo pipefail
export LC_ALL=C
cmake=$1 build=$2 source=$3

fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$build/test-tmp"
scratch=$(mktemp -d "$build/test-tmp/empty-root.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

"$cmake" --install "$build" --prefix "$scratch/prefix" >/dev/null
installer=$scratch/prefix/lib/zkinstall/zkinstall-$(uname -m)

# No NEEDED entry and no interpreter, in the native installer and in the
# cross-built ones (aarch64, i686) when they were built. A static-pie
# program keeps a dynamic section for relocating itself, which names no
# library. Nor may a call reach the
# name service switch (getpwnam, gethostid...), which would load the host's
# modules, whose names the C library builds from "libnss_".
for program in "$scratch"/prefix/lib/zkinstall/zkinstall-*; do
  dynamic=$(readelf --dynamic --wide "$program") || fail "readelf cannot read $program"
  headers=$(readelf --program-headers --wide "$program") || fail "readelf cannot read $program"
  ! grep -F '(NEEDED)' <<<"$dynamic" || fail "$program needs shared libraries"
  ! grep -qw INTERP <<<"$headers" || fail "$program names a dynamic loader"
  grep -qw LOAD <<<"$headers" || fail "no program headers read from $program"
  ! grep -qF libnss_ "$program" || fail "$program can load name service modules"
done

shell=/bin/busybox
chroot=$(PATH=$PATH:/usr/sbin:/sbin command -v chroot || true)
if [ "$(id -u)" -ne 0 ] || [ -z "$chroot" ] || [ ! -x "$shell" ] || readelf --dynamic "$shell" | grep -qF '(NEEDED)'; then
  echo "skipped: needs root and a static busybox ($shell, Debian's busybox-static)"
  exit 77
fi

"$source/scripts/demo.sh" --no-build "$scratch/prefix/bin" "$scratch/demo" >"$scratch/demo.log" 2>&1 ||
  { cat "$scratch/demo.log"; fail "demo.sh"; }

root=$scratch/root
mkdir -p "$root/bin" "$root/dev" "$root/tmp"
chmod 1777 "$root/tmp"
cp "$shell" "$root/bin/sh"
mknod -m 666 "$root/dev/null" c 1 3
cp "$scratch/demo/demo-work/zelkor-setup" "$root/zelkor-setup"

status=0
printf '/zelkor\ny\n' | env -i PATH=/bin TEMP=/tmp "$chroot" "$root" /zelkor-setup >"$scratch/run.log" 2>&1 || status=$?
expect_line() {
  grep -qxF -- "$1" "$scratch/run.log" || { cat "$scratch/run.log"; fail "missing line: $1"; }
}
[ "$status" -eq 0 ] || { cat "$scratch/run.log"; fail "exit status $status"; }
expect_line "Verifying package file: /zelkor-setup"
expect_line "Installation successfully completed."
expect_line "Zelkor 2.4 set up in /zelkor"

for file in bin/zelkor etc/zelkor.conf lib/zelkor/messages.txt lib/zelkor/plugins/shapes.plugin; do
  cmp -s "$source/examples/demo/product/$file" "$root/zelkor/$file" || fail "$file differs from the product's"
done
grep -qxF "ZELKOR_VERSION='2.4'" "$root/zelkor/env.sh" || fail "the script did not see the package's environment"
leftover=$(ls -A "$root/tmp")
[ -z "$leftover" ] || fail "left in /tmp: $leftover"
echo "installed in an empty root: $(wc -c <"$installer") bytes of installer"
