#!/usr/bin/env bash
# Runs a fuzz target (or all of them) for a number of seconds on a copy of its committed corpus:
#   scripts/fuzz.sh TARGET|all SECONDS [JOBS]
# Builds the fuzz configuration (build/fuzz, clang, libFuzzer with the address and
# undefined-behaviour sanitizers) when needed. New inputs stay in build/fuzz/runs/TARGET; a
# finding is written there as crash-*, leak-*, timeout-* or oom-* and the run fails. Copy such
# an input into tests/fuzz/regressions/TARGET/ once the library is fixed.
# 'all' runs JOBS targets at a time (default: the number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
target=${1:?usage: scripts/fuzz.sh TARGET|all SECONDS [JOBS]}
seconds=${2:?usage: scripts/fuzz.sh TARGET|all SECONDS [JOBS]}
jobs=${3:-$(nproc)}
build=$root/build/fuzz

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DD2U_FUZZ=ON -DD2U_FUZZ_MAX_PICTURE_AREA=2097152 >/dev/null
fi
cmake --build "$build" -j"$jobs" --target fuzz_targets >/dev/null

run_one() {
    local name=$1 runs=$build/runs/$1
    rm -rf "$runs"
    mkdir -p "$runs/corpus"
    cp "$root/tests/fuzz/corpus/$name"/* "$runs/corpus/" 2>/dev/null || true
    local inputs=("$runs/corpus")
    [ -d "$root/tests/fuzz/regressions/$name" ] && inputs+=("$root/tests/fuzz/regressions/$name")
    if "$build/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
            -max_len=262144 -print_final_stats=1 -artifact_prefix="$runs/" "${inputs[@]}" \
            >"$runs/log.txt" 2>&1; then
        echo "$name: no finding in ${seconds} s ($(grep -o 'stat::number_of_executed_units: *[0-9]*' \
            "$runs/log.txt" | grep -o '[0-9]*$') runs)"
    else
        echo "$name: FINDING, see $runs/log.txt:"
        grep -E "ERROR|SUMMARY|Test unit written" "$runs/log.txt" | head -5
        return 1
    fi
}

if [ "$target" != all ]; then
    run_one "$target"
    exit
fi

names=()
for source in "$root"/tests/fuzz/*_fuzzer.cpp; do
    name=$(basename "$source" _fuzzer.cpp)
    names+=("$name")
done
status=0
pids=()
for name in "${names[@]}"; do
    run_one "$name" &
    pids+=($!)
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
exit $status
