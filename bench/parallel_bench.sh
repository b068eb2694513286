#!/usr/bin/env bash
# Installing and packing on every processor, against the usual tools. A
# product tree of about TREE_MB megabytes (default 100) in FILES files
# (default 3000) is packed with zkpack --tree; the archive the package
# carries is what the decompressors and tar read. Commands run interleaved,
# RUNS times each (default 5; PACK_RUNS, default 3, for packing), every run
# into a fresh directory. Prints median wall and CPU time, the wall-time ratio
# to the first command of the group, and the peak resident size.
#
# Usage: bench/parallel_bench.sh [BUILD_DIR]   (default: build)
# Needs lbzip2, pbzip2, bsdtar (libarchive-tools), makeself and /usr/bin/time
# (apt-get install lbzip2 pbzip2 libarchive-tools makeself time).
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
runs=${RUNS:-5}
pack_runs=${PACK_RUNS:-3}
tree_mb=${TREE_MB:-100}
file_count=${FILES:-3000}
zkpack=$build/bin/zkpack
[ -x "$zkpack" ] && [ -x "$build/lib/zkinstall/zkinstall-$(uname -m)" ] || { echo "build zkpack and zkinstall in $build first" >&2; exit 1; }
for tool in /usr/bin/time lbzip2 pbzip2 bsdtar makeself; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
processors=$(nproc)

work=$(mktemp -d "${TMPDIR:-$build}/parallel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Text-like files and some that hardly compress, in 150 nested directories
# (see make_tree.py).
python3 "$source_dir/bench/make_tree.py" "$work/tree" "$tree_mb" "$file_count" 150

tree=$work/tree
SOURCE_DATE_EPOCH=0 "$zkpack" create -q -o "$work/setup" --tree "$tree"
read -r offset length < <("$zkpack" list "$work/setup" | awk '$3 == 2 { print $2, $5 }')
archive=$work/product.tar.bz2
tail -c +$((offset + 5 + 1)) "$work/setup" | head -c "$length" > "$archive"
bzip2 -t "$archive"
makeself -q --bzip2 --nox11 "$tree" "$work/makeself.run" "benchmark product" true >/dev/null

echo "tree: $(find "$tree" -type f | wc -l) files, $(du -sb --apparent-size "$tree" | cut -f1) bytes;" \
     "archive: $(stat -c %s "$archive") bytes; $processors processors; load before: $(cut -d' ' -f1-3 /proc/loadavg)"

timed() {
    local log=$1
    shift
    /usr/bin/time -a -o "$log" -f "%e %M %U %S" "$@"
}
# Each takes its log and a run name; output directories are kept until the end.
bzip2_dc() { timed "$1" bzip2 -dc "$archive" >/dev/null; }
lbzip2_dc() { timed "$1" lbzip2 -dc -n "$processors" "$archive" >/dev/null; }
pbzip2_dc() { timed "$1" pbzip2 -dc -p"$processors" "$archive" >/dev/null; }
tar_xjf() { mkdir "$work/x.tar.$2" && timed "$1" tar -xjf "$archive" -C "$work/x.tar.$2"; }
bsdtar_xjf() { mkdir "$work/x.bsdtar.$2" && timed "$1" bsdtar -xjf "$archive" -C "$work/x.bsdtar.$2"; }
makeself_x() { timed "$1" "$work/makeself.run" --quiet --nox11 --noexec --target "$work/x.makeself.$2" >/dev/null; }
zkinstall_1() { mkdir "$work/x.zk1.$2" && (cd "$work/x.zk1.$2" && ZKINSTALL_THREADS=1 timed "$1" "$work/setup" >/dev/null 2>&1); }
zkinstall_all() { mkdir "$work/x.zkall.$2" && (cd "$work/x.zkall.$2" && timed "$1" "$work/setup" >/dev/null 2>&1); }

tar_cjf() { timed "$1" tar -cjf "$work/p.$2.tar.bz2" -C "$tree" .; }
tar_lbzip2() { timed "$1" tar -I lbzip2 -cf "$work/p.$2.tar.bz2" -C "$tree" .; }
makeself_c() { timed "$1" makeself -q --bzip2 --nox11 "$tree" "$work/p.$2.run" "benchmark product" true >/dev/null; }
zkpack_1() { timed "$1" "$zkpack" create -q -j 1 -o "$work/p.$2.zk1" --tree "$tree"; }
zkpack_all() { timed "$1" "$zkpack" create -q -o "$work/p.$2.zkall" --tree "$tree"; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
report() {
    local first=""
    printf '%-34s %8s %6s %8s %9s\n' "command" "wall s" "ratio" "CPU s" "peak KiB"
    for entry in "$@"; do
        local command=${entry%%=*} label=${entry#*=}
        local log=$work/$command.log
        local wall cpu rss
        wall=$(cut -d' ' -f1 "$log" | median)
        cpu=$(awk '{ print $3 + $4 }' "$log" | median)
        rss=$(cut -d' ' -f2 "$log" | sort -n | tail -1)
        [ -n "$first" ] || first=$wall
        awk -v l="$label" -v w="$wall" -v f="$first" -v c="$cpu" -v r="$rss" \
            'BEGIN { printf "%-34s %8.2f %6.3f %8.2f %9s\n", l, w, w / f, c, r }'
    done
}
# Runs each command once untimed (caches warm), then the rounds interleaved.
bench_group() {
    local rounds=$1
    shift
    local entry
    for entry in "$@"; do "${entry%%=*}" /dev/null warm; done
    for ((run = 0; run < rounds; ++run)); do
        for entry in "$@"; do "${entry%%=*}" "$work/${entry%%=*}.log" "$run"; done
    done
    report "$@"
}

installing=("bzip2_dc=bzip2 -dc > /dev/null" "lbzip2_dc=lbzip2 -dc -n $processors > /dev/null"
            "pbzip2_dc=pbzip2 -dc -p$processors > /dev/null" "tar_xjf=tar -xjf" "bsdtar_xjf=bsdtar -xjf"
            "makeself_x=makeself --noexec --target" "zkinstall_1=zkinstall, 1 thread"
            "zkinstall_all=zkinstall, all processors")
packing=("tar_cjf=tar -cjf" "tar_lbzip2=tar -I lbzip2 -cf" "makeself_c=makeself --bzip2"
         "zkpack_1=zkpack create -j 1 --tree" "zkpack_all=zkpack create --tree")
echo "installing ($runs runs each, medians; ratio to bzip2 -dc):"
bench_group "$runs" "${installing[@]}"
rm -rf "$work"/x.*
echo "packing ($pack_runs runs each, medians; ratio to tar -cjf):"
bench_group "$pack_runs" "${packing[@]}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
