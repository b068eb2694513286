#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Runs apt-get as root (or through sudo).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libbz2-dev libzstd-dev liblzma-dev libarchive-dev libgtest-dev
          libbenchmark-dev bzip2 zstd xz-utils tar python3 clang libclang-rt-14-dev time
          busybox-static libsodium-dev minisign pbzip2 lbzip2 qemu-user-static)
# The installers for other processors: without these, configure says that it
# skips them, so a foreign architecture's archive that apt cannot use (its
# mirror in the middle of a sync) leaves them out rather than stopping here.
# One group per processor, installed apart so that one's failure costs no other.
cross_groups=("g++-aarch64-linux-gnu libbz2-dev:arm64 libzstd-dev:arm64 liblzma-dev:arm64 libsodium-dev:arm64"
              "g++-i686-linux-gnu libbz2-dev:i386 libzstd-dev:i386 liblzma-dev:i386 libsodium-dev:i386")
# What configure looks for of each group: its compiler and static libraries.
cross_needs=("aarch64-linux-gnu-g++ /usr/lib/aarch64-linux-gnu"
             "i686-linux-gnu-g++ /usr/lib/i386-linux-gnu")

missing() {
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$package"
    fi
  done
}
has_cross() {  # COMPILER LIBDIR
  local lib
  command -v "$1" >/dev/null || return 1
  for lib in libbz2.a libzstd.a liblzma.a libsodium.a; do [ -e "$2/$lib" ] || return 1; done
}
mapfile -t missing_packages < <(missing "${packages[@]}")
wanted_groups=()
for at in "${!cross_groups[@]}"; do
  # shellcheck disable=SC2086 # a list of words
  has_cross ${cross_needs[$at]} || wanted_groups+=("${cross_groups[$at]}")
done
[ ${#missing_packages[@]} -eq 0 ] && [ ${#wanted_groups[@]} -eq 0 ] && exit 0

# shellcheck disable=SC2086
mapfile -t missing_cross < <(missing ${wanted_groups[*]})
[ ${#missing_packages[@]} -eq 0 ] && [ ${#missing_cross[@]} -eq 0 ] && exit 0

echo "Installing: ${missing_packages[*]} ${missing_cross[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# The aarch64 and i686 installers link the arm64 and i386 libraries of
# Debian's multiarch archive.
for architecture in arm64 i386; do
  if ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
    $sudo dpkg --add-architecture "$architecture"
  fi
done
# An index that failed to download leaves the others updated; the install
# below says whether what is needed could be had.
$sudo apt-get update -q || echo "deps.sh: apt-get update failed for some indexes; going on with the others"
install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"; }
[ ${#missing_packages[@]} -eq 0 ] || install "${missing_packages[@]}"
for group in "${wanted_groups[@]}"; do
  # shellcheck disable=SC2086
  mapfile -t wanted < <(missing $group)
  if [ ${#wanted[@]} -ne 0 ] && ! install "${wanted[@]}"; then
    echo "deps.sh: cannot install ${wanted[*]}: configure skips the installer that needs them"
  fi
done
