#!/usr/bin/env bash
# Builds the fuzz targets of the core (the CMake tree of TAVRO_BUILD_FUZZERS:
# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer, clang) and
# runs each one for SECONDS seconds on a fresh copy of its seed corpus, JOBS
# targets at a time (default 2, one per core) at low priority. Every
# fuzz/*.cpp file is a target.
#
#   scripts/fuzz.sh              60 seconds per target
#   scripts/fuzz.sh 3600         the long run: an hour per target
#   scripts/fuzz.sh 0            build only
#
# Fails (non-zero exit) on any finding: a crash, a sanitizer report, a leak,
# a failed check inside a target, a timeout or running out of memory. The
# input that caused it is kept under build/fuzz/artifacts/<target>/; replay it
# with build/fuzz/bin/<target> <file>. The working corpus lives under
# build/fuzz/work/ and is not committed; its seeds come from fuzz/corpus/<target>/.
#
# Environment: CXX (default clang++), JOBS (default 2), FUZZ_TARGETS (default:
# every fuzz/*.cpp, by file name without .cpp).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

SECONDS_PER_TARGET=${1:-60}
case "$SECONDS_PER_TARGET" in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

CXX=${CXX:-clang++}
JOBS=${JOBS:-2}
if [ -z "${FUZZ_TARGETS:-}" ]; then
    FUZZ_TARGETS=$(for src in fuzz/*.cpp; do basename "$src" .cpp; done)
fi
TARGETS=$FUZZ_TARGETS
OUT=$ROOT/build/fuzz

# run_target NAME: one campaign; prints its figures; returns libFuzzer's status.
run_target() {
    local target=$1 work=$OUT/work/$1 artifacts=$OUT/artifacts/$1/ log=$OUT/logs/$1.log
    local dict_args=() max_len=8192
    rm -rf "$work"
    mkdir -p "$work" "$artifacts" "$OUT/logs"
    if [ -d "$ROOT/fuzz/corpus/$target" ]; then
        cp "$ROOT/fuzz/corpus/$target/"* "$work/"
    fi
    if [ -f "$ROOT/fuzz/$target.dict" ]; then
        dict_args=(-dict="$ROOT/fuzz/$target.dict")
    fi
    case "$target" in
        fuzz_round_trip) dict_args=(-dict="$ROOT/fuzz/node_update_json.dict") ;;
        # Up to a thousand table operations per input, each checked against std::map.
        fuzz_flat_table) max_len=2048 ;;
    esac
    log "fuzzing $target for ${SECONDS_PER_TARGET}s"
    local status=0
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        nice -n 10 "$OUT/bin/$target" "$work" "${dict_args[@]}" \
        -max_total_time="$SECONDS_PER_TARGET" -max_len="$max_len" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
        >"$log" 2>&1 || status=$?
    local runs rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    printf '%-24s runs %-12s execs/s %-8s corpus %s files\n' "$target" "${runs:-?}" \
        "${rate:-?}" "$(find "$work" -type f | wc -l)"
    if [ "$status" != 0 ]; then
        echo "FINDING in $target (exit $status); log: $log" >&2
        grep -E 'ERROR|FUZZ CHECK|runtime error|Test unit written' "$log" | head -20 >&2 || true
    fi
    return "$status"
}

log "building fuzz targets with $CXX"
mkdir -p "$OUT"
if ! { cmake -S "$ROOT" -B "$OUT" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" \
    -DTAVRO_BUILD_FUZZERS=ON -DTAVRO_WARNINGS_AS_ERRORS=ON &&
    cmake --build "$OUT" -j "$JOBS" --target $TARGETS; } >"$OUT/build.log" 2>&1; then
    cat "$OUT/build.log" >&2
    exit 1
fi
[ "$SECONDS_PER_TARGET" = 0 ] && exit 0

# JOBS campaigns at a time, each on a core of its own for its full time.
failed=()
running=()
wait_for_one() {
    local target=${running[0]}
    running=("${running[@]:1}")
    wait "${pids[$target]}" || failed+=("$target")
}
declare -A pids
for target in $TARGETS; do
    [ ${#running[@]} -ge "$JOBS" ] && wait_for_one
    run_target "$target" &
    pids[$target]=$!
    running+=("$target")
done
while [ ${#running[@]} -gt 0 ]; do
    wait_for_one
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]}" >&2
    exit 1
fi
log "fuzzing found nothing"
