#!/usr/bin/env bash
# Builds the soak program and runs the fuzz targets' call sequences, steered by random control
# bytes, on valid and damaged streams in one process, failing on a crash (with --sanitize: on a
# sanitizer report) or when memory grows after warm-up.
#   scripts/soak.sh [--sanitize] [SEQUENCES] [SEED]
# Default: 10000 sequences, seed 1, Release build in build/soak (with --sanitize: the
# AddressSanitizer + UndefinedBehaviorSanitizer build in build/soak-sanitize).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sanitize=0
if [[ "${1:-}" == "--sanitize" ]]; then
    sanitize=1
    shift
fi
sequences=${1:-10000}
seed=${2:-1}

if [[ $sanitize == 1 ]]; then
    dir=build/soak-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DD2U_SANITIZE=ON)
else
    dir=build/soak
    flags=(-DCMAKE_BUILD_TYPE=Release)
fi

cmake -S "$root" -B "$dir" -DD2U_TEST_WORK_DIR="$root/build/test-work" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" --target d2udir_soak stub_ZoridaZera_ stub_dvdscript >/dev/null

export LD_LIBRARY_PATH="$root/$dir/stubs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
echo "== $sequences sequences, seed $seed ($dir)"
"$dir/tests/d2udir_soak" --sequences "$sequences" --seed "$seed"
