#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Runs apt-get as root (or through sudo).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libbz2-dev libzstd-dev liblzma-dev libarchive-dev libgtest-dev
          libbenchmark-dev bzip2 zstd xz-utils tar python3 clang libclang-rt-14-dev time
          busybox-static libsodium-dev minisign pbzip2 lbzip2 g++-aarch64-linux-gnu libbz2-dev:arm64
          libzstd-dev:arm64 liblzma-dev:arm64 libsodium-dev:arm64 qemu-user-static g++-i686-linux-gnu
          libbz2-dev:i386 libzstd-dev:i386 liblzma-dev:i386 libsodium-dev:i386)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# The aarch64 and i686 installers link the arm64 and i386 libraries of
# Debian's multiarch archive.
for architecture in arm64 i386; do
  if ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
    $sudo dpkg --add-architecture "$architecture"
  fi
done
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
