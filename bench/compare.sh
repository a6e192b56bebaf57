#!/usr/bin/env bash
# Side-by-side speed of d2udir and ffmpeg (one thread) on generated streams:
#   decoding whole streams, and taking 100 preview thumbnails of a DVD-style program stream.
# Usage: bench/compare.sh [BUILD_DIR]   (default build/linux-x64; built if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux-x64}
if [ ! -x "$build/d2udir_decode_bench" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j"$(nproc)" --target d2udir_decode_bench d2udir_preview_bench >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); calc "$e - $s"; }
calc() { awk "BEGIN { print $1 }"; }

ff -f lavfi -i "testsrc2=size=720x576:rate=25:duration=20" -c:v mpeg2video -b:v 6M -g 12 -bf 2 "$work/sd.m2v"
ff -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=6" -c:v mpeg2video -b:v 20M -maxrate 20M -bufsize 9M -g 12 -bf 2 "$work/hd.m2v"
ff -f lavfi -i "testsrc2=size=720x576:rate=25:duration=60" -c:v mpeg2video -b:v 6M -g 12 -bf 2 -f dvd "$work/dvd.vob"

printf "%-28s %12s %12s %8s\n" "job" "d2udir s" "ffmpeg s" "ratio"
for stream in sd hd; do
    ours=$("$build/d2udir_decode_bench" "$work/$stream.m2v" 3 | awk '{print $4}')
    theirs=1e9
    for run in 1 2 3; do
        t=$(seconds ffmpeg -threads 1 -i "$work/$stream.m2v" -f null -)
        theirs=$(calc "($t < $theirs) ? $t : $theirs")
    done
    printf "%-28s %12.3f %12.3f %8.2f\n" "decode $stream" "$ours" "$theirs" "$(calc "$theirs / $ours")"
done

mkdir -p "$work/ours" "$work/theirs"
ours=$("$build/d2udir_preview_bench" "$work/dvd.vob" 100 160 90 "$work/ours" | awk '{print $6}')
duration=60
start=$(date +%s.%N)
for i in $(seq 0 99); do
    position=$(calc "$duration * $i / 101")
    ffmpeg -hide_banner -loglevel error -y -threads 1 -ss "$position" -i "$work/dvd.vob" \
        -frames:v 1 -vf scale=160:90 "$work/theirs/thumb_$i.bmp"
done
theirs=$(calc "$(date +%s.%N) - $start")
printf "%-28s %12.3f %12.3f %8.2f\n" "100 previews 160x90" "$ours" "$theirs" "$(calc "$theirs / $ours")"
echo "(ratio = ffmpeg time / d2udir time; above 1 means d2udir is faster)"
