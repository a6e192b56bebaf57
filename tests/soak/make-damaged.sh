#!/usr/bin/env bash
# Writes a damaged corpus to OUTDIR: each generated stream (ffmpeg, mpeg2enc, mplex) and a
# subtitle file, valid and with truncations, bit flips, zeroed ranges, swapped packs or pieces,
# absurd header values and extreme quantiser matrices.
#   tests/soak/make-damaged.sh OUTDIR [COPIES_PER_KIND] [SEED]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
out=${1:?usage: tests/soak/make-damaged.sh OUTDIR [COPIES_PER_KIND] [SEED]}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=build/soak
cmake -S "$root" -B "$build" -DD2U_TEST_WORK_DIR="$root/build/test-work" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target d2udir_soak >/dev/null
"$build/tests/d2udir_soak" --write-damaged "$out" --per-kind "${2:-6}" --seed "${3:-1}"
