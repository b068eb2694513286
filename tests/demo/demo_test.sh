#!/usr/bin/env bash
# demo_test.sh DEMO_SCRIPT BUILD_DIR
set -euo pipefail
export LC_ALL=C
demo=$1 build=$2

mkdir -p "$build/test-tmp"
out=$(mktemp -d "$build/test-tmp/demo.XXXXXX")
trap 'rm -rf "$out"' EXIT
installed=$out/demo-install

fail() { echo "FAIL: $*"; exit 1; }

expect_line() {  # LOG LINE
  grep -qxF -- "$2" "$1" || { cat "$1"; fail "missing line: $2"; }
}

"$demo" --no-build "$build/bin" "$out" >"$out/first.log" 2>&1 || { cat "$out/first.log"; fail "first run"; }
expect_line "$out/first.log" "The install directory [$installed] does not exist."
expect_line "$out/first.log" "Installation successfully completed."
expect_line "$out/first.log" "Zelkor 2.4 set up in $installed"

modes=$(cd "$installed" && find . -printf '%m %P\n' | LC_ALL=C sort -k2)
expected="755 
755 bin
755 bin/zelkor
644 env.sh
700 etc
600 etc/zelkor.conf
755 lib
755 lib/zelkor
644 lib/zelkor/messages.txt
755 lib/zelkor/plugins
644 lib/zelkor/plugins/colors.plugin
644 lib/zelkor/plugins/shapes.plugin
755 share
755 share/doc
755 share/doc/zelkor
644 share/doc/zelkor/README"
[ "$modes" = "$expected" ] || fail "installed tree differs:
$modes"

for file in bin/zelkor etc/zelkor.conf lib/zelkor/messages.txt share/doc/zelkor/README; do
  cmp -s "$(dirname "$demo")/../examples/demo/product/$file" "$installed/$file" || fail "$file differs from the product's"
done

product=$(. "$installed/env.sh" && zelkor)
[ "$product" = "Zelkor 2.4 at $installed
plugin: colors
plugin: shapes" ] || fail "installed product said: $product"

# Again: the folder exists now, so nothing is asked and the files are replaced.
echo "changed" >"$installed/lib/zelkor/messages.txt"
"$demo" --no-build "$build/bin" "$out" >"$out/second.log" 2>&1 || { cat "$out/second.log"; fail "second run"; }
! grep -qF "The install directory [" "$out/second.log" || fail "second run asked to create the folder"
expect_line "$out/second.log" "Installation successfully completed."
cmp -s "$(dirname "$demo")/../examples/demo/product/lib/zelkor/messages.txt" "$installed/lib/zelkor/messages.txt" ||
  fail "second run did not replace the product's files"
echo "demo installed twice into $installed"
