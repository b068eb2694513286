#!/usr/bin/env bash
# Package size, packing time and installation time for each compression, in
# one run beside the plain command-line tools on the same tree: a product
# tree of TREE_MB (default 100) MB in 3000 files (make_tree.py) is packed by
# zkpack create --compress bzip2, zstd and xz, and its tar archive is
# compressed by zstd -19 and xz -6 (both on every processor). Then, RUNS
# times each (default 3), the packages install (--target DIR --quiet) on 1
# and on 2 threads and the tools' archives unpack with `zstd -dc | tar -x`
# and `xz -dc | tar -x`. Prints the median wall and CPU time and the peak
# resident size of each.
#
# Usage: bench/compression_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
runs=${RUNS:-3}
tree_mb=${TREE_MB:-100}
zkpack=$build/bin/zkpack
[ -x "$zkpack" ] && [ -x "$build/lib/zkinstall/zkinstall-$(uname -m)" ] || { echo "build zkpack and zkinstall in $build first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-$build}/compression-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$source_dir/bench/make_tree.py" "$work/tree" "$tree_mb" 3000 100
tar -cf "$work/tree.tar" -C "$work/tree" --sort=name .
echo "tree: $(find "$work/tree" -type f | wc -l) files, $(stat -c %s "$work/tree.tar") bytes of tar; $runs runs each"

timed() {
    local log=$1
    shift
    /usr/bin/time -a -o "$log" -f "%e %M %U %S" "$@"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
report() {
    local label=$1 log=$2 size=${3:-}
    printf '%-40s %12s %8s %8s %9s\n' "$label" "$size" "$(cut -d' ' -f1 "$log" | median)" \
        "$(awk '{ print $3 + $4 }' "$log" | median)" "$(cut -d' ' -f2 "$log" | sort -n | tail -1)"
}

printf '%-40s %12s %8s %8s %9s\n' "packing" "bytes" "wall s" "CPU s" "peak KiB"
for compression in bzip2 zstd xz; do
    SOURCE_DATE_EPOCH=0 timed "$work/pack-$compression.log" \
        "$zkpack" create -q --compress "$compression" -o "$work/setup-$compression" --tree "$work/tree"
    report "zkpack create --compress $compression" "$work/pack-$compression.log" "$(stat -c %s "$work/setup-$compression")"
done
timed "$work/pack-zstd-tool.log" zstd -q -19 -T0 -f "$work/tree.tar" -o "$work/tree.tar.zst"
report "zstd -19 -T0" "$work/pack-zstd-tool.log" "$(stat -c %s "$work/tree.tar.zst")"
timed "$work/pack-xz-tool.log" xz -6 -T0 -k -f "$work/tree.tar"
report "xz -6 -T0" "$work/pack-xz-tool.log" "$(stat -c %s "$work/tree.tar.xz")"

# Every run writes into a directory of its own, as an installation does.
install_with() { ZKINSTALL_THREADS=$2 TEMP="$work" timed "$3" "$work/setup-$1" --target "$work/out.$4" --quiet </dev/null >/dev/null; }
untar_with() { mkdir "$work/out.$4" && timed "$3" sh -c "$1 -dc '$work/tree.tar.$2' | tar -x -C '$work/out.$4'"; }
# runs_of LOG COMMAND ARGS...: COMMAND ARGS LOG NAME, once untimed, then RUNS times.
runs_of() {
    local log=$1 run
    shift
    "$@" /dev/null "warm-$RANDOM"
    for ((run = 0; run < runs; ++run)); do "$@" "$log" "$run-$RANDOM"; done
}
echo
printf '%-40s %12s %8s %8s %9s\n' "installing" "" "wall s" "CPU s" "peak KiB"
for compression in bzip2 zstd xz; do
    for threads in 1 2; do
        log=$work/install-$compression-$threads.log
        runs_of "$log" install_with "$compression" "$threads"
        report "installer, $compression, $threads thread(s)" "$log"
    done
done
runs_of "$work/zstd-tar.log" untar_with zstd zst
report "zstd -dc | tar -x" "$work/zstd-tar.log"
runs_of "$work/xz-tar.log" untar_with "xz -T2" xz
report "xz -T2 -dc | tar -x" "$work/xz-tar.log"
