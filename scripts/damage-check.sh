#!/usr/bin/env bash
# Runs every file in DIR through the soak program's checks (d2udir_soak --check) built with
# AddressSanitizer and UndefinedBehaviorSanitizer, one process per file with a 10 s limit, and
# lists the files that failed (a broken result, a sanitizer report, a crash) or hung.
#   scripts/damage-check.sh DIR [TIMEOUT_SECONDS]
# tests/soak/make-damaged.sh OUTDIR writes such a folder from generated streams. The build
# folder is build/soak-sanitize unless D2U_SANITIZE_BUILD_DIR names another.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=${1:?usage: scripts/damage-check.sh DIR [TIMEOUT_SECONDS]}
limit=${2:-10}
build=${D2U_SANITIZE_BUILD_DIR:-build/soak-sanitize}

cmake -S "$root" -B "$build" -DD2U_TEST_WORK_DIR="$root/build/test-work" \
    -DCMAKE_BUILD_TYPE=Debug -DD2U_SANITIZE=ON >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target d2udir_soak stub_ZoridaZera_ stub_dvdscript \
    >/dev/null || exit 1

export LD_LIBRARY_PATH="$root/$build/stubs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
logs=$(mktemp -d)
checked=0
failed=()
hung=()
for file in "$dir"/*; do
    [[ -f "$file" ]] || continue
    checked=$((checked + 1))
    log="$logs/$(basename "$file").log"
    timeout --kill-after=5 "$limit" "$build/tests/d2udir_soak" --check "$file" >"$log" 2>&1
    status=$?
    if [[ $status == 124 || $status == 137 ]]; then
        hung+=("$file")
    elif [[ $status != 0 ]]; then
        failed+=("$file")
        echo "-- $file (exit $status)"
        grep -m 5 -E "FAIL|ERROR|runtime error|SUMMARY" "$log"
    fi
done
echo "$checked files checked: ${#failed[@]} failed, ${#hung[@]} hung (over ${limit} s)"
for file in "${hung[@]}"; do echo "hung: $file"; done
for file in "${failed[@]}"; do echo "failed: $file (log: $logs/$(basename "$file").log)"; done
[[ ${#failed[@]} == 0 && ${#hung[@]} == 0 ]]
