#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR SOURCE_DIR CXX EXTRA_FLAGS [shared]
#
# Installs the build into a scratch prefix, or with "shared" a build of the
# source tree with BUILD_SHARED_LIBS=ON, and builds a program against libzk
# the three ways a user would: a CMake project through find_package(zk), the
# same project through add_subdirectory of the source tree, and a Makefile
# through pkg-config. Each program runs. EXTRA_FLAGS (the sanitizer's) go to
# every compile and link. Then, from the prefix moved elsewhere, a project
# packs itself with cpack -G External and its installer installs it; the
# shared build, which has no zkpack, checks that the CPack module says so.
set -euo pipefail
cmake=$1 build=$2 source=$3 cxx=$4 extra_flags=$5 variant=${6:-static}
consumer=$source/tests/install/consumer

fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$build/test-tmp"
scratch=$(mktemp -d "$build/test-tmp/install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
export CXX=$cxx CXXFLAGS=$extra_flags LDFLAGS=$extra_flags PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# Build type None adds no optimisation: these builds only have to build and
# run, and they compile the library again.

if [ "$variant" = shared ]; then
  "$cmake" -S "$source" -B "$scratch/build" -G Ninja -DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=ON \
    -DZK_BUILD_PROGRAMS=OFF -DZK_BUILD_TESTS=OFF -DZK_BUILD_BENCH=OFF >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; fail "configuring the shared build"; }
  "$cmake" --build "$scratch/build" >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "building libzk.so"; }
  "$cmake" --install "$scratch/build" --prefix "$prefix" >/dev/null
  [ -f "$prefix/lib/libzk.a" ] && fail "the shared build installed libzk.a"
  soname=$(readelf --dynamic "$prefix/lib/libzk.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = libzk.so.1 ] || fail "soname '$soname', not libzk.so.1"
  [ -f "$prefix/lib/$soname" ] || fail "$soname not installed"
  LDFLAGS="$LDFLAGS -Wl,-rpath,$prefix/lib"
else
  "$cmake" --install "$build" --prefix "$prefix" >/dev/null
  for file in bin/zkpack lib/zkinstall/zkinstall-"$(uname -m)" lib/libzk.a share/man/man1/zkpack.1 share/man/man1/zkinstall.1 \
              share/doc/zk/libzk.md share/doc/zk/LICENSE share/doc/zk/examples/base.cpp; do
    [ -f "$prefix/$file" ] || fail "not installed: $file"
  done
  # The installer programs are data for zkpack, not commands.
  commands=$(cd "$prefix/bin" && echo *)
  [ "$commands" = zkpack ] || fail "bin/ holds $commands, not zkpack alone"
fi
for file in include/zk/zk.h include/zk/base/crc.h lib/pkgconfig/zk.pc lib/cmake/zk/zkConfig.cmake \
            lib/cmake/zk/zkConfigVersion.cmake; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
# The installed zkpack finds the installer programs installed for it.
for arch in "$(uname -m)" aarch64 i686; do
  [ -e "$build/lib/zkinstall/zkinstall-$arch" ] && [ -e "$prefix/bin/zkpack" ] || continue
  [ -e "$prefix/lib/zkinstall/zkinstall-$arch" ] || fail "not installed: lib/zkinstall/zkinstall-$arch"
  "$prefix/bin/zkpack" create -q -o "$scratch/setup-$arch" --arch "$arch" --env A=b
  [ "$("$prefix/bin/zkpack" list "$scratch/setup-$arch" | head -n 1)" = "installer program: $arch" ] ||
    fail "zkpack create --arch $arch did not take zkinstall-$arch"
done
for file in "$prefix"/include/zk/*/*_internal.h; do
  [ -e "$file" ] && fail "internal header installed: $file"
done
[ "$(pkg-config --variable=prefix zk)" = "$prefix" ] || fail "zk.pc names prefix $(pkg-config --variable=prefix zk)"

# The version is stated once: zk.pc, zkpack --version and the man pages agree.
version=$(pkg-config --modversion zk)
if [ "$variant" = static ]; then
  [ "$("$prefix/bin/zkpack" --version)" = "zkpack $version" ] || fail "zkpack --version: $("$prefix/bin/zkpack" --version)"
  for page in zkpack zkinstall; do
    head -1 "$prefix/share/man/man1/$page.1" | grep -qF "\"zkinstall $version\"" || fail "$page.1 does not say $version"
  done
fi

# runs PROGRAM: the library's CRC and byte order, called from the program.
runs() {
  local output
  output=$("$1") || fail "$1 exited with $?"
  [ "$output" = "fc891918 12345678" ] || fail "$1 said: $output"
}

# uses_shared_library PROGRAM: whether it loads libzk.so rather than holding the code.
uses_shared_library() { readelf --dynamic "$1" | grep -qF '[libzk.so.1]'; }

check_linkage() {  # PROGRAM
  if [ "$variant" = shared ]; then
    uses_shared_library "$1" || fail "$1 does not load libzk.so.1"
  else
    ! uses_shared_library "$1" || fail "$1 loads libzk.so.1"
  fi
}

cmake_consumer() {  # NAME CONFIGURE-ARGS...
  local name=$1 dir=$scratch/$1
  shift
  "$cmake" -S "$consumer" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None "$@" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log"; fail "configuring the $name project"; }
  "$cmake" --build "$dir" --target use_zk >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "building the $name project"; }
  runs "$dir/use_zk"
  check_linkage "$dir/use_zk"
}

cmake_consumer find_package -DCMAKE_PREFIX_PATH="$prefix"
if [ "$variant" = static ]; then
  cmake_consumer add_subdirectory -DZK_SOURCE="$source"
  # Nothing of libzk's own settings reaches the parent: no tests, no warning flags.
  tests=$("$cmake" --build "$scratch/add_subdirectory" -- -t targets all | grep -c '_tests:' || true)
  [ "$tests" -eq 0 ] || fail "the subproject added $tests test programs to its parent"
  flags=$("$cmake" --build "$scratch/add_subdirectory" -- -t commands use_zk | grep -F use_zk.cpp)
  ! grep -qF -- -Wextra <<<"$flags" || fail "libzk's warning flags reached the parent: $flags"
fi

cp "$consumer/use_zk.cpp" "$consumer/Makefile" "$scratch/"
make -s -C "$scratch" use_zk >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "make with pkg-config"; }
runs "$scratch/use_zk"
check_linkage "$scratch/use_zk"
echo "libzk ($variant) used through find_package, add_subdirectory and pkg-config"

if [ "$variant" = static ]; then
  # Every public name of the library, each with its exact type.
  # shellcheck disable=SC2046,SC2086  # the flags are lists of words
  "$cxx" -std=c++17 $extra_flags -o "$scratch/api_names" "$source/tests/api/api_names.cpp" $(pkg-config --cflags --libs zk)
  "$scratch/api_names"
fi

# A project packed by cpack -G External through ZkInstallCPack, with the
# zkpack that the package config finds relative to itself: the prefix is
# moved first.
moved=$scratch/moved packaged=$scratch/packaged
mv "$prefix" "$moved"
configure_packaged() {  # CONFIGURE-ARGS...
  "$cmake" -S "$source/tests/install/packaged" -B "$packaged" -DCMAKE_PREFIX_PATH="$moved" "$@" >"$scratch/log" 2>&1
}
if [ "$variant" = shared ]; then
  # Installed without the programs: the module says so once it is used.
  ! configure_packaged || fail "the CPack module was taken without zkpack"
  grep -qF "ZkInstallCPack needs zkpack, which is not installed with zk" "$scratch/log" ||
    { cat "$scratch/log"; fail "no clear message for the missing zkpack"; }
  exit 0
fi
cpack=${cmake%/*}/cpack installer=hello-2.1-Linux.run
"$moved/bin/zkpack" keygen -W -p "$scratch/hello.pub" -s "$scratch/hello.key" >/dev/null
configure_packaged -DZKINSTALL_SIGN_KEY="$scratch/hello.key" || { cat "$scratch/log"; fail "configuring the packaged project"; }
cd "$packaged"
! "$cpack" -G External -D CPACK_ZKINSTALL_WELCOME_FILE="$scratch/missing" >"$scratch/log" 2>&1 ||
  fail "cpack succeeded with a missing welcome file"
grep -qF "zkpack: $scratch/missing: cannot open" "$scratch/log" || { cat "$scratch/log"; fail "cpack hid zkpack's message"; }
[ -e "$installer" ] && fail "a failed cpack left $installer"

# count_records KIND: how many records of KIND the installer lists.
count_records() { ./"$installer" --list | grep -c "^$1 record" || true; }
"$cpack" -G External -D CPACK_MONOLITHIC_INSTALL=ON >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "cpack, monolithic"; }
[ "$(count_records archive)" -eq 1 ] || fail "a monolithic $installer has $(count_records archive) archive records"
"$cpack" -G External >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "cpack -G External"; }
[ -x "$installer" ] || fail "cpack wrote no executable $installer"
[ "$(count_records archive)" -eq 2 ] || fail "$installer has $(count_records archive) archive records, not one per component"
for kind in welcome script; do
  [ "$(count_records $kind)" -eq 1 ] || fail "$installer has no $kind record"
done
"$moved/bin/zkpack" verify --pubkey "$scratch/hello.pub" "$installer" >/dev/null || fail "$installer is not signed with hello.key"
info=$(./"$installer" --info)
for line in "product: hello" "version: 2.1" "compression: zstd" "default directory: /opt/hello"; do
  grep -qxF "$line" <<<"$info" || fail "$installer --info lacks '$line': $info"
done
mkdir "$scratch/tmp"
TEMP=$scratch/tmp ./"$installer" --target "$scratch/hello" --quiet >"$scratch/log" 2>&1 || { cat "$scratch/log"; fail "installing $installer"; }
[ "$("$scratch/hello/bin/hello")" = "Hello from the packed product." ] || fail "the installed program did not find its data"
[ "$(cat "$scratch/hello/share/hello/installed")" = "hello 2.1 in $scratch/hello" ] || fail "the setup script did not run"
echo "cpack -G External packed, signed and installed a project of two components"
