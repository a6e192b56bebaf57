#!/usr/bin/env bash
# Makes the seed corpus of every fuzz target in tests/fuzz/corpus/<target>/ from small streams
# written by ffmpeg, mplex and tools/subtitle-maker. Each seed starts with the target's control
# bytes (see the target's source), followed by the stream. With a built fuzz configuration
# (scripts/fuzz.sh builds one) the seeds are then minimised with -merge=1.
#   tests/fuzz/make-corpus.sh [FUZZ_BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/fuzz}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

encode() {  # encode OUT SIZE FRAMES ffmpeg-options...; SIZE "ts" adds a tone and means 64x48
    local out=$1 size=$2 frames=$3 tone=()
    shift 3
    [ "$size" = ts ] && size=64x48 tone=(-f lavfi -i sine=frequency=440:sample_rate=48000)
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" "${tone[@]}" \
        -frames:v "$frames" -threads 1 "$@" "$work/$out"
}

# Elementary streams: the coding tools the decoder has paths for.
encode mpeg2-ipb.m2v 64x48 8 -c:v mpeg2video -g 6 -bf 2 -q:v 6 -f mpeg2video
encode mpeg2-field.m2v 96x64 6 -c:v mpeg2video -g 4 -bf 1 -flags +ilme+ildct -top 1 -q:v 8 \
    -f mpeg2video
encode mpeg2-alternate.m2v 48x32 5 -c:v mpeg2video -g 5 -bf 1 -alternate_scan 1 \
    -intra_vlc 1 -non_linear_quant 1 -qmax 28 -q:v 4 -f mpeg2video
encode mpeg2-422.m2v 48x32 4 -c:v mpeg2video -pix_fmt yuv422p -g 4 -bf 1 -q:v 6 -f mpeg2video
encode mpeg2-intra.m2v 32x32 3 -c:v mpeg2video -g 1 -q:v 2 -intra_matrix \
    "$(seq -s, 8 71)" -f mpeg2video
encode mpeg1-ipb.m1v 64x48 8 -c:v mpeg1video -g 6 -bf 2 -q:v 6 -f mpeg1video
encode mpeg1-odd.m1v 40x24 4 -c:v mpeg1video -g 3 -bf 1 -q:v 12 -f mpeg1video

# Program streams in 2048-byte packs, as on DVDs.
encode ps-source.m2v 64x48 12 -c:v mpeg2video -g 6 -bf 2 -q:v 6 -f mpeg2video
mplex -v 0 -f 8 -o "$work/ps-dvd.mpg" "$work/ps-source.m2v" 2>/dev/null
encode ps-ffmpeg.mpg 64x48 10 -c:v mpeg2video -g 5 -bf 2 -q:v 6 -f dvd

# Transport streams: 188- and 192-byte packets, with audio; MPEG-1 and interlaced MPEG-2.
encode ts-mp2.ts ts 8 -c:v mpeg2video -g 4 -bf 2 -q:v 6 -c:a mp2 -shortest -f mpegts
encode ts-m2ts.m2ts ts 8 -c:v mpeg2video -g 4 -bf 1 -q:v 6 -c:a ac3 -shortest \
    -mpegts_m2ts_mode 1 -f mpegts
encode ts-mpeg1.ts ts 8 -c:v mpeg1video -g 4 -bf 1 -q:v 6 -an -f mpegts
encode ts-interlaced.ts ts 8 -c:v mpeg2video -g 4 -bf 1 -q:v 8 -flags +ilme+ildct -top 1 -an \
    -f mpegts

# Subtitle files: pictures of grey levels in one or two records.
python3 -c '
import sys
def pgm(name, width, height, pixel):
    data = bytes(pixel(x, y) for y in range(height) for x in range(width))
    open(f"{sys.argv[1]}/{name}", "wb").write(b"P5 %d %d 255\n" % (width, height) + data)
pgm("stripes.pgm", 24, 8, lambda x, y: (x // 3 % 4) * 85)
pgm("block.pgm", 9, 5, lambda x, y: 255 if x < 4 else 85 * (y % 3))' "$work"
maker="python3 $root/tools/subtitle-maker"
$maker -o "$work/one.sub" --record "$work/stripes.pgm" 0 2 10 20
$maker -o "$work/two.sub" --record "$work/block.pgm" 0 1 700 560 --line-end explicit \
    --record "$work/stripes.pgm" 1.5 3 0 0 --palette 10,20,30,40 --visible 1,1,0,1

# Seeds: control bytes, then the stream.
seed() {  # seed TARGET NAME CONTROL-HEX FILE
    mkdir -p "$work/seeds/$1"
    { printf "$3"; cat "$work/$4"; } >"$work/seeds/$1/$2"
}
for stream in mpeg2-ipb.m2v mpeg2-field.m2v mpeg2-alternate.m2v mpeg2-422.m2v mpeg2-intra.m2v \
        mpeg1-ipb.m1v mpeg1-odd.m1v; do
    seed header_parser "$stream" '' "$stream"
    seed buffer_decode "$stream" '\x00\x00\x00\x00\x00\x00' "$stream"
    seed buffer_decode "bitmaps-$stream" '\x07\x00\x9e\x9e\x9e\x9e' "$stream"
    seed file_decode "$stream" '\x00\x00\x00\x00\x00\x00\x00\x00' "$stream"
    seed file_decode "mixed-$stream" '\x01\x02\x0b\x13\x24\x2d\x06\x07' "$stream"
done
seed buffer_decode "pieces-mpeg2-ipb.m2v" '\x00\x03\x00\x00\x00\x00' mpeg2-ipb.m2v
for stream in ps-dvd.mpg ps-ffmpeg.mpg; do
    seed pack_reader "$stream" '\x01\x20\x40\x02' "$stream"
    seed pack_reader "small-$stream" '\x01\x04\x01\x00' "$stream"
done
seed transport_stream mp2.ts '\x01\x00\x10' ts-mp2.ts
seed transport_stream m2ts.m2ts '\x01\x00\x08' ts-m2ts.m2ts
seed transport_stream mpeg1-pid256.ts '\x03\x00\x04' ts-mpeg1.ts
seed transport_stream interlaced.ts '\x01\x00\x20' ts-interlaced.ts
for subtitles in one.sub two.sub; do
    seed subtitle "yuv-$subtitles" '\x00\x60\x40\x40\x00\x00\x01\x00' "$subtitles"
    seed subtitle "rgb24-$subtitles" '\x01\x60\xc0\x40\xb4\x90\x05\x00' "$subtitles"
    seed subtitle "rgb32-$subtitles" '\x06\x60\x40\x40\x00\x00\x03\x00' "$subtitles"
done

for target_dir in "$work"/seeds/*; do
    target=$(basename "$target_dir")
    out="$here/corpus/$target"
    rm -rf "$out"
    mkdir -p "$out"
    if [ -x "$build/fuzz_$target" ]; then
        "$build/fuzz_$target" -merge=1 -rss_limit_mb=2560 "$out" "$target_dir" 2>/dev/null
    else
        cp "$target_dir"/* "$out"/
    fi
    echo "$target: $(ls "$out" | wc -l) seeds, $(du -sk "$out" | cut -f1) KiB"
done
