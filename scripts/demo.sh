#!/usr/bin/env bash
# The d2udir command on the bundled samples: installs what the build needs when it is missing,
# builds the library and the command, then shows the stream information, decodes the sample to
# a YUV4MPEG2 file, writes a preview bitmap and a contact sheet, and draws the subtitles.
# Outputs go to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${D2U_DEMO_BUILD:-build/demo}
out=out

./scripts/install-deps.sh
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DD2U_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target d2udir_cli >/dev/null
d2udir="$build/d2udir"
mkdir -p "$out"

run() {
    echo
    echo "\$ d2udir $*"
    "$d2udir" "$@"
}

run info samples/sample.m2v
run info samples/sample.vob
run decode samples/sample.m2v -o "$out/sample.y4m"
run decode samples/sample.vob -o "$out/sample-vob.y4m"
run preview samples/sample.m2v --at-percent 50 -o "$out/preview.bmp"
run preview samples/sample.vob --count 9 --size 160x90 -o "$out/contact-sheet.bmp"
run subtitle "$out/sample.y4m" samples/sample.sub -o "$out/sample-subtitled.y4m"

echo
echo "Outputs in $root/$out:"
echo "  sample.y4m             the decoded sample.m2v (YUV4MPEG2; play it with: ffplay $out/sample.y4m)"
echo "  sample-vob.y4m         the video of the program stream sample.vob"
echo "  preview.bmp            a 320-pixel preview from the middle of sample.m2v"
echo "  contact-sheet.bmp      nine previews spread over sample.vob"
echo "  sample-subtitled.y4m   sample.y4m with the subtitles of samples/sample.sub"
