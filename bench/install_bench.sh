#!/usr/bin/env bash
# Whole-run speed of an installation: a product tree of about 20 MB in about
# 700 files is packed (zkpack --tree) behind a welcome text record, then
# three commands are timed in turn, RUNS times each (default 9):
#   (a) bzip2 -dc of the archive to /dev/null: the decompression alone;
#   (b) tar -xjf of the archive into a fresh directory;
#   (c) the installer installing the package into a fresh directory, the
#       answers piped in: verification, prompts and extraction.
# Prints for each the median wall time and median CPU time (user + system,
# less disturbed by other load on the machine), their ratios to (a), and the
# peak resident size. TREE_MB (default 20) scales the tree, to see memory stay flat.
#
# Usage: bench/install_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
runs=${RUNS:-9}
tree_mb=${TREE_MB:-20}
zkpack=$build/bin/zkpack
[ -x "$zkpack" ] && [ -x "$build/lib/zkinstall/zkinstall-$(uname -m)" ] || { echo "build zkpack and zkinstall in $build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (scripts/deps.sh installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-$build}/install-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The tree: 700 files in 60 nested directories (see make_tree.py).
python3 "$source_dir/bench/make_tree.py" "$work/tree" "$tree_mb" 700 60

printf 'Benchmark product.\n' > "$work/welcome.txt"
SOURCE_DATE_EPOCH=0 "$zkpack" create -q -o "$work/setup" --welcome "$work/welcome.txt" --tree "$work/tree"
# (a) and (b) take the very archive the package carries: the archive
# record's payload, after its 5-byte prefix.
read -r offset length < <("$zkpack" list "$work/setup" | awk '$3 == 2 { print $2, $5 }')
archive=$work/product.tar.bz2
tail -c +$((offset + 5 + 1)) "$work/setup" | head -c "$length" > "$archive"
bzip2 -t "$archive"

files=$(find "$work/tree" -type f | wc -l)
tree_bytes=$(du -sb --apparent-size "$work/tree" | cut -f1)
echo "tree: $files files, $tree_bytes bytes; archive: $(stat -c %s "$archive") bytes compressed;" \
     "package: $(stat -c %s "$work/setup") bytes; $runs runs each"

# Each runs one command under /usr/bin/time, appending "wall-seconds
# peak-KiB user-seconds system-seconds" to the log given.
timed() {
    local log=$1
    shift
    /usr/bin/time -a -o "$log" -f "%e %M %U %S" "$@"
}
# Every run writes into a directory of its own, and nothing is removed until
# the end: creating files just after removing as many costs the file system
# far more than creating them in a fresh directory as an installation does.
decompress() { timed "$1" bzip2 -dc "$archive" >/dev/null; }
untar() { mkdir "$work/tar.$2" && timed "$1" tar -xjf "$archive" -C "$work/tar.$2"; }
install() {
    # Answers: the directory, then yes to creating it.
    printf '%s\ny\n' "$work/install.$2" | PATH="$work:$PATH" TEMP="$work" timed "$1" "$work/setup" >/dev/null 2>&1
}

commands=(decompress untar install)
# One run of each first, untimed, so every command finds the files cached.
for command in "${commands[@]}"; do "$command" /dev/null warm-up; done
for ((run = 0; run < runs; ++run)); do
    for command in "${commands[@]}"; do "$command" "$work/$command.log" "$run"; done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
wall() { cut -d' ' -f1 "$work/$1.log" | median; }
cpu() { awk '{ print $3 + $4 }' "$work/$1.log" | median; }
wall_a=$(wall decompress)
cpu_a=$(cpu decompress)
printf '%-36s %8s %6s %8s %6s %9s\n' "command" "wall s" "ratio" "CPU s" "ratio" "peak KiB"
for command in "${commands[@]}"; do
    rss=$(cut -d' ' -f2 "$work/$command.log" | sort -n | tail -1)
    case $command in
        decompress) label="(a) bzip2 -dc > /dev/null" ;;
        untar) label="(b) tar -xjf into a fresh directory" ;;
        install) label="(c) installer, answers piped in" ;;
    esac
    awk -v l="$label" -v w="$(wall "$command")" -v wa="$wall_a" -v c="$(cpu "$command")" -v ca="$cpu_a" -v r="$rss" \
        'BEGIN { printf "%-36s %8.2f %6.3f %8.2f %6.3f %9s\n", l, w, w / wa, c, c / ca, r }'
done
