#!/usr/bin/env bash
# Package size, packing time, installation time and peak resident size for
# each compression, in one run beside the plain command-line tools and
# makeself on the same tree.
#
# The tree (TREE=system, the default) is a product-like copy of this
# machine's files: the regular files at the top of /usr/lib/x86_64-linux-gnu
# in name order up to LIB_MB megabytes (default 100), then /usr/share/doc's
# packages in name order up to DOC_MB more (default 33): shared libraries,
# documents, copyright texts repeated across packages and some files that
# are compressed already. TREE=synthetic makes make_tree.py's tree of
# TREE_MB (default 100) megabytes in 3000 files instead.
#
# It packs the tree with zkpack create --compress bzip2, zstd and xz and
# with makeself --xz, --zstd and --zstd --complevel 19, timed once each;
# cuts the zstd and xz packages' archive payloads out, so that the plain
# tools unpack the very archive the installer does; then, in rounds (one
# untimed, then RUNS, default 3) of one run each in turn, installs each
# package (--target DIR --quiet) on 1 and on 2 threads, unpacks the archives
# with `zstd -dc | tar -x`, `xz -dc | tar -x` and `xz -T2 -dc | tar -x`, and
# runs the makeself installers (--noexec --target DIR), each into a fresh
# directory after a sync. It prints sizes, median wall and CPU times and the
# largest peak resident size.
#
# Usage: bench/compression_bench.sh [BUILD_DIR]   (default: build)
# Needs /usr/bin/time, zstd and xz; makeself is skipped when not installed
# (apt-get install time zstd xz-utils makeself).
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
runs=${RUNS:-3}
zkpack=$build/bin/zkpack
installer_program=$build/lib/zkinstall/zkinstall-$(uname -m)
[ -x "$zkpack" ] && [ -x "$installer_program" ] || { echo "build zkpack and zkinstall in $build first" >&2; exit 1; }
for tool in /usr/bin/time zstd xz; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
have_makeself=true
command -v makeself >/dev/null || { have_makeself=false; echo "makeself is not installed: its rows are skipped"; }

work=$(mktemp -d "${TMPDIR:-$build}/compression-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
tree=$work/tree

# copy_until SOURCE_DIR MEGABYTES FIND_ARGS...: the entries FIND_ARGS picks
# in SOURCE_DIR, in name order, copied into the tree until MEGABYTES are in.
copy_until() {
    local from=$1 budget=$(($2 * 1000000)) total=0 entry size
    shift 2
    while IFS= read -r entry; do
        ((total < budget)) || break
        size=$(du -sb --apparent-size "$from/$entry" | cut -f1)
        mkdir -p "$tree/$(basename "$from")"
        cp -a "$from/$entry" "$tree/$(basename "$from")/"
        total=$((total + size))
    done < <(find "$from" -mindepth 1 -maxdepth 1 "$@" -printf '%f\n' | LC_ALL=C sort)
}
case ${TREE:-system} in
    system)
        copy_until /usr/lib/x86_64-linux-gnu "${LIB_MB:-100}" -type f
        copy_until /usr/share/doc "${DOC_MB:-33}" -type d
        ;;
    synthetic) python3 "$source_dir/bench/make_tree.py" "$tree" "${TREE_MB:-100}" 3000 100 ;;
    *) echo "TREE is system or synthetic" >&2; exit 1 ;;
esac
echo "tree: $(find "$tree" -type f | wc -l) files, $(find "$tree" | wc -l) entries," \
     "$(du -sb --apparent-size "$tree" | cut -f1) bytes; $runs runs each; $(nproc) processors;" \
     "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

timed() {
    local log=$1
    shift
    /usr/bin/time -a -o "$log" -f "%e %M %U %S" "$@"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
report() {
    local label=$1 log=$2 size=${3:-}
    printf '%-44s %12s %8s %8s %9s\n' "$label" "$size" "$(cut -d' ' -f1 "$log" | median)" \
        "$(awk '{ print $3 + $4 }' "$log" | median)" "$(cut -d' ' -f2 "$log" | sort -n | tail -1)"
}
makeself_pack() {
    local name=$1
    shift
    timed "$work/pack-$name.log" makeself -q --nox11 "$@" "$tree" "$work/$name.run" "benchmark product" true >/dev/null
    report "makeself $*" "$work/pack-$name.log" "$(stat -c %s "$work/$name.run")"
}

printf '%-44s %12s %8s %8s %9s\n' "packing" "bytes" "wall s" "CPU s" "peak KiB"
for compression in bzip2 zstd xz; do
    SOURCE_DATE_EPOCH=0 timed "$work/pack-$compression.log" \
        "$zkpack" create -q --compress "$compression" -o "$work/setup-$compression" --tree "$tree"
    report "zkpack create --compress $compression" "$work/pack-$compression.log" "$(stat -c %s "$work/setup-$compression")"
done
if $have_makeself; then
    makeself_pack makeself-xz --xz
    makeself_pack makeself-zstd --zstd
    makeself_pack makeself-zstd19 --zstd --complevel 19
fi

# The archive record's payload, as the installer decodes it.
for compression in zstd xz; do
    read -r offset length < <("$zkpack" list "$work/setup-$compression" | awk '$3 == 2 { print $2, $5 }')
    tail -c +$((offset + 5 + 1)) "$work/setup-$compression" | head -c "$length" >"$work/tree.tar.$compression"
    $compression -t -q "$work/tree.tar.$compression"
done
echo "installer program: $(stat -c %s "$installer_program") bytes; archive payloads:" \
     "zstd $(stat -c %s "$work/tree.tar.zstd") bytes, xz $(stat -c %s "$work/tree.tar.xz") bytes" \
     "in $(xz -l --robot "$work/tree.tar.xz" | awk '$1 == "totals" { print $3 }') blocks"

# Every run writes into a directory of its own, as an installation does.
install_with() { ZKINSTALL_THREADS=$2 TEMP="$work" timed "$3" "$work/setup-$1" --target "$work/out.$4" --quiet </dev/null >/dev/null; }
untar_with() { mkdir "$work/out.$4" && timed "$3" sh -c "$1 -dc '$work/tree.tar.$2' | tar -x -C '$work/out.$4'"; }
makeself_with() { TMPDIR="$work" timed "$2" "$work/$1.run" --quiet --nox11 --noexec --target "$work/out.$3" >/dev/null; }

# label#log#command and its arguments, the log and the output directory's
# name being added to them.
cases=()
for compression in bzip2 zstd xz; do
    for threads in 1 2; do
        cases+=("zkinstall --compress $compression, $threads thread(s)#install-$compression-$threads#install_with $compression $threads")
    done
done
cases+=("zstd -dc | tar -x#zstd-tar#untar_with zstd zstd"
        "xz -dc | tar -x#xz-tar#untar_with xz xz"
        "xz -T2 -dc | tar -x#xz2-tar#untar_with 'xz -T2' xz")
if $have_makeself; then
    for name in makeself-zstd makeself-zstd19 makeself-xz; do
        cases+=("$name.run --noexec --target#install-$name#makeself_with $name")
    done
fi
# Round after round, each case once in turn, so that a change in the
# machine's speed touches every case alike. What earlier runs wrote is
# flushed first, untimed: its writeback would otherwise take a processor
# and the disk from whichever case came next.
for ((run = -1; run < runs; ++run)); do
    for entry in "${cases[@]}"; do
        IFS='#' read -r _ name command <<<"$entry"
        log=$work/$name.log
        ((run >= 0)) || log=/dev/null
        sync
        eval "$command" "$log" "$name.$run"
    done
done
echo
printf '%-44s %12s %8s %8s %9s\n' "installing" "" "wall s" "CPU s" "peak KiB"
for entry in "${cases[@]}"; do
    IFS='#' read -r label name _ <<<"$entry"
    report "$label" "$work/$name.log"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
