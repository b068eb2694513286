#!/usr/bin/env bash
# Builds the fuzz targets (clang, preset "fuzz") and runs each for a while
# with a fixed seed, as many side by side as there are processors.
#
#   fuzz/run.sh [-t SECONDS] [-j JOBS] [--fresh] [--preset PRESET] [TARGET...]
#
#   -t SECONDS  time per target (default 600); the targets whose inputs are
#               short strings take half of it: in runs of the whole time
#               they found no new coverage after the first half
#   -j JOBS     targets run at once (default: the number of processors)
#   --fresh     start from the seed corpus alone, as CI does; otherwise the
#               corpus grown by earlier runs (fuzz/corpus-run/TARGET) is
#               used and grows further
#   --preset PRESET  the build that makes the targets: fuzz (default), or
#               asan, the sanitizer build, which makes them beside the tests
#   TARGET      a name under fuzz/corpus/ (default: all of them)
#
# Prints the executions of each target and exits 1 when one found something:
# the input is saved as build-PRESET/findings/TARGET-crash-... (or -timeout-,
# -leak-, -oom-) and reproduces with build-PRESET/bin/fuzz_TARGET FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
jobs=$(nproc)
fresh=0
preset=fuzz
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        -t) seconds="$2"; shift 2 ;;
        -j) jobs="$2"; shift 2 ;;
        --fresh) fresh=1; shift ;;
        --preset)
            case "$2" in
                fuzz | asan) preset="$2"; shift 2 ;;
                *) echo "fuzz/run.sh: the preset $2 makes no fuzz targets (fuzz or asan do)" >&2; exit 2 ;;
            esac ;;
        -*) echo "usage: fuzz/run.sh [-t SECONDS] [-j JOBS] [--fresh] [--preset PRESET] [TARGET...]" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
if [ ${#targets[@]} -eq 0 ]; then
    for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

QUICK_TARGETS=" brace_expand dollar_substitute dstr_cstring qword_split simplify wild_match "
is_quick() { [[ "$QUICK_TARGETS" == *" $1 "* ]]; }
seconds_for() { if is_quick "$1"; then echo $(((seconds + 1) / 2)); else echo "$seconds"; fi; }
# The long runs start first, so that the short ones fill in beside them.
ordered=()
for target in "${targets[@]}"; do if ! is_quick "$target"; then ordered+=("$target"); fi; done
for target in "${targets[@]}"; do if is_quick "$target"; then ordered+=("$target"); fi; done
targets=("${ordered[@]}")

scripts/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)" >/dev/null

build=build-$preset
mkdir -p "$build/findings" "$build/logs"
# Blocks that the design keeps for the whole run are not leaks.
export LSAN_OPTIONS="suppressions=$PWD/sanitizer/lsan.supp:print_suppressions=0"

# run_target TARGET: fuzzes it; its exit status and executions go to
# $build/logs/TARGET.result.
run_target() {
    local target=$1 work log status=0
    # New inputs go to the first directory, so the seeds stay as committed.
    if [ "$fresh" -eq 1 ]; then
        work="$build/corpus-fresh/$target"
        rm -rf "$work"
    else
        work="fuzz/corpus-run/$target"
    fi
    mkdir -p "$work"
    log="$build/logs/$target.log"
    # A single input may run 10 s; the target's own output is discarded.
    "$build/bin/fuzz_$target" -seed=1 -max_total_time="$(seconds_for "$target")" -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
        "$work" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    echo "$status $(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)" >"$build/logs/$target.result"
}

for target in "${targets[@]}"; do
    if [ ! -d "fuzz/corpus/$target" ]; then
        echo "fuzz/run.sh: no seed corpus fuzz/corpus/$target" >&2
        exit 2
    fi
done
running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    run_target "$target" &
    running=$((running + 1))
done
wait

failed=0
passed_count=0
failed_count=0
for target in "${targets[@]}"; do
    read -r status runs <"$build/logs/$target.result"
    if [ "$status" -eq 0 ]; then
        echo "$target: ${runs:-?} executions in $(seconds_for "$target") s, no finding"
        passed_count=$((passed_count + 1))
    else
        failed=1
        failed_count=$((failed_count + 1))
        echo "$target: FINDING after ${runs:-?} executions (exit $status); log $build/logs/$target.log"
        grep -E 'ERROR|SUMMARY|property failed|Test unit written' "$build/logs/$target.log" | head -20 || true
    fi
done
echo "fuzz: $passed_count passed, $failed_count failed"
exit "$failed"
