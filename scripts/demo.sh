#!/usr/bin/env bash
# Builds the library and the d2udir command, makes the demo samples if they are missing, and
# decodes one of them: stream information, then every frame to a raw yuv420p file.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${D2U_DEMO_BUILD:-build/demo}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DD2U_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target d2udir_cli >/dev/null
if ! ls samples/*.m2v >/dev/null 2>&1; then
    ./tools/make-samples.sh
fi
sample=$(ls samples/*.m2v | head -n 1)
out="$build/demo-output.yuv"
echo "== d2udir info $sample"
"$build/d2udir" info "$sample"
echo "== d2udir decode $sample $out --display-order"
"$build/d2udir" decode "$sample" "$out" --display-order
