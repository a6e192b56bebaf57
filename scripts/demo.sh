#!/usr/bin/env bash
# Builds the library and the d2udir command, makes the demo samples if they are missing, and
# runs the command on one of them: stream information, every frame to a raw yuv420p file, a
# preview bitmap, and the frames with a subtitle drawn on them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${D2U_DEMO_BUILD:-build/demo}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DD2U_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target d2udir_cli d2udir >/dev/null
if ! ls samples/*.m2v >/dev/null 2>&1; then
    ./tools/make-samples.sh
fi
sample=$(ls samples/*.m2v | head -n 1)
out="$build/demo-output.yuv"
echo "== d2udir info $sample"
"$build/d2udir" info "$sample"
echo "== d2udir decode $sample $out --display-order"
"$build/d2udir" decode "$sample" "$out" --display-order
echo "== d2udir preview $sample $build/demo-preview.bmp 160 90 40"
"$build/d2udir" preview "$sample" "$build/demo-preview.bmp" 160 90 40
echo "== d2udir subtitle $sample (a framed box from 0.2 s to 1.6 s)"
python3 - "$build/demo-box.pgm" <<'PY'
import sys
width, height = 200, 40
def lit(x, y):
    return y < 4 or y >= height - 4 or x < 4 or x >= width - 4 or (20 < x < 180 and 15 < y < 25)
rows = b"".join(bytes(255 if lit(x, y) else 0 for x in range(width)) for y in range(height))
open(sys.argv[1], "wb").write(b"P5\n%d %d\n255\n" % (width, height) + rows)
PY
./tools/subtitle-maker -o "$build/demo.sub" --record "$build/demo-box.pgm" 0.2 1.6 76 200
"$build/d2udir" subtitle "$sample" "$build/demo.sub" "$build/demo-subtitled.yuv"
