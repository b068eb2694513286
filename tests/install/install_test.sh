#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR CXX EXTRA_FLAGS API_NAMES_SOURCE
set -euo pipefail
cmake=$1 build=$2 cxx=$3 extra_flags=$4 api_names=$5

mkdir -p "$build/test-tmp"
scratch=$(mktemp -d "$build/test-tmp/install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

for file in bin/zkpack lib/libzk.a include/zk/zk.h include/zk/base/crc.h lib/pkgconfig/zk.pc \
            share/man/man1/zkpack.1 share/doc/zk/libzk.md; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
for file in "$prefix"/include/zk/*/*_internal.h; do
  [ -e "$file" ] && { echo "internal header installed: $file"; exit 1; }
done

cat >"$scratch/use_zk.cpp" <<'PROGRAM'
#include <zk/zk.h>
#include <cstdio>

int main() {
    const unsigned char digits[] = "123456789";
    const unsigned char word[] = {0x12, 0x34, 0x56, 0x78};
    std::printf("%08x %08x\n", zk::crc32(digits, 9), zk::LGET32(word));
    return 0;
}
PROGRAM

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046,SC2086  # the flags are lists of words
"$cxx" -std=c++17 $extra_flags -o "$scratch/use_zk" "$scratch/use_zk.cpp" $(pkg-config --cflags --libs zk)

output=$("$scratch/use_zk")
if [ "$output" != "fc891918 12345678" ]; then
  echo "unexpected output: $output"
  exit 1
fi
echo "installed library works: $output"

# Every public name of the library, each with its exact type.
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++17 $extra_flags -o "$scratch/api_names" "$api_names" $(pkg-config --cflags --libs zk)
"$scratch/api_names"
