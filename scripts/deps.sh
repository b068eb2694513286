#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Runs apt-get as root (or through sudo).
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libbz2-dev libarchive-dev libgtest-dev
          libbenchmark-dev bzip2 tar python3 clang libclang-rt-14-dev time
          busybox-static libsodium-dev minisign pbzip2 lbzip2)

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
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
