#!/usr/bin/env bash
# Nightly soak of the syntax-coverage generator: decodes COUNT generated streams (default
# 10000) from seed FIRST (default 1) with the library and with ffmpeg, compares them, and lists
# the failing seeds. Uses the build in $D2U_SOAK_BUILD (default build/soak, made if missing).
#   scripts/streamgen-soak.sh [FIRST] [COUNT]
# A failing seed's stream stays in the build's test work folder, named in its line; one seed
# again: D2U_STREAMGEN_FIRST=N D2U_STREAMGEN_SEEDS=1 build/soak/tests/streamgen_decode
set -euo pipefail
cd "$(dirname "$0")/.."
first=${1:-1}
count=${2:-10000}
build=${D2U_SOAK_BUILD:-build/soak}
jobs=${D2U_SOAK_JOBS:-$(nproc)}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target streamgen_decode >/dev/null

log_dir=$(mktemp -d)
trap 'rm -rf "$log_dir"' EXIT
# Split the seeds over the jobs; each runs the decode test on its share.
share=$(( (count + jobs - 1) / jobs ))
pids=()
for ((job = 0; job < jobs; ++job)); do
    start=$(( first + job * share ))
    n=$(( first + count - start ))
    (( n > share )) && n=$share
    (( n <= 0 )) && break
    D2U_STREAMGEN_FIRST=$start D2U_STREAMGEN_SEEDS=$n "$build/tests/streamgen_decode" \
        --gtest_filter='StreamgenDecodeTest.EverySeedDecodesLikeTheReferenceDecoder' \
        >"$log_dir/job$job.log" 2>&1 &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || true; done

cat "$log_dir"/job*.log | grep -o 'streamgen seed [0-9]*: .*' | sort -t' ' -k3,3n || true
failed=$(cat "$log_dir"/job*.log | grep -c 'streamgen seed [0-9]*: ' || true)
minimum=$(cat "$log_dir"/job*.log | sed -n 's/.*minimum PSNR \([0-9.]*\) dB.*/\1/p' | sort -n | head -n 1)
echo "seeds $first..$(( first + count - 1 )): $failed failed, minimum PSNR ${minimum:-?} dB"
[[ "$failed" == 0 ]]
