#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each one for a time budget on a copy of its seed corpus. Fails on any
# crash, broken invariant, leak, timeout (a hang) or running out of memory.
#   fuzz/run.sh [seconds-per-target] [target...]
# Default: 30 seconds for each of the seven targets. New inputs go to a temporary folder,
# never into the repository; when a target fails, that folder (with the input that made it
# fail) is kept and named.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
all_targets=(fuzz_pagedecode fuzz_innertext fuzz_recordlines fuzz_listfile fuzz_savedlist
    fuzz_rdapanswer fuzz_ipaddress)
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")

# Longest input per target: enough for a page, a record or a list file with some variety,
# short enough that every execution stays quick.
declare -A max_len=(
    [fuzz_pagedecode]=16384
    [fuzz_innertext]=32768
    [fuzz_recordlines]=8192
    [fuzz_listfile]=8192
    [fuzz_savedlist]=4096
    [fuzz_rdapanswer]=16384
    [fuzz_ipaddress]=256
)

build=build-fuzz
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^QUORVANE_FUZZ:BOOL=ON$' "$build/CMakeCache.txt"; then
    echo "$build was configured without QUORVANE_FUZZ=ON; remove it and run again" >&2
    exit 2
fi
# Only the fuzz targets (and the libraries they link) are built: the program, the window and
# the tests have their own builds, and building them again with clang doubles this step.
target_options=()
for target in "${targets[@]}"; do
    target_options+=(--target "$target")
done
scripts/setup.sh "${target_options[@]}" "$build" -DQUORVANE_FUZZ=ON -DQUORVANE_BENCHMARKS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
summary=()
for target in "${targets[@]}"; do
    binary="$build/fuzz/$target"
    if [ ! -x "$binary" ] || [ -z "${max_len[$target]:-}" ]; then
        echo "No such fuzz target: $target" >&2
        exit 2
    fi
    work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-$target.XXXXXX")
    mkdir "$work/corpus"
    cp -R "fuzz/corpus/$target/." "$work/corpus/"
    options=(
        -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/"
    )
    if [ -f "fuzz/dict/$target.dict" ]; then
        options+=(-dict="fuzz/dict/$target.dict")
    fi
    echo "== $target: ${seconds}s"
    status=0
    "$binary" "${options[@]}" "$work/corpus" >"$work/log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
    if [ "$status" -ne 0 ]; then
        grep -E 'ERROR|SUMMARY|invariant|!=|actual|expected|Test unit written' "$work/log" | head -n 40 || true
        echo "$target FAILED (exit $status) after ${executions:-?} executions; log and input in $work"
        failed+=("$target")
        summary+=("$target: FAILED after ${executions:-?} executions")
    else
        echo "$target: ${executions:-?} executions, no failure"
        summary+=("$target: ${executions:-?} executions")
        rm -rf "$work"
    fi
done

echo "== Summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
    echo "Failed: ${failed[*]}"
    exit 1
fi
