#!/usr/bin/env bash
# Makes the demo samples in samples/ (each under 1 MB):
#   sample.m2v  MPEG-2 video elementary stream, 720x576 interlaced (top field first), 4:3,
#               25 frames/s, 3 s, groups of 12 with two B pictures (ffmpeg testsrc2)
#   sample.vob  DVD-style program stream: MPEG-2 video 720x576 16:9 with MPEG audio, 3 s
#   sample.sub  subtitle file of two records ("D2UDIR" from 0.2 s, "SAMPLE" from 1.6 s)
# The files are committed; run this again only to remake them.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p samples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=720x576:rate=25' -t 3 \
    -c:v mpeg2video -b:v 2M -maxrate 2M -bufsize 1835k -g 12 -bf 2 \
    -flags +ildct+ilme -top 1 -aspect 4:3 -f mpeg2video samples/sample.m2v
ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc=size=720x576:rate=25' \
    -f lavfi -i 'sine=frequency=440:sample_rate=48000' -t 3 \
    -c:v mpeg2video -b:v 1500k -maxrate 2M -bufsize 1835k -g 12 -bf 2 -aspect 16:9 \
    -c:a mp2 -b:a 128k -f dvd samples/sample.vob 2>/dev/null

# Two caption pictures in a 5x7 pixel font, drawn 4 times larger: white letters on a
# dark box (grey levels 255 and 85 of the subtitle palette).
python3 - "$work" <<'PY'
import sys
GLYPHS = {
    "D": "11110 10001 10001 10001 10001 10001 11110",
    "2": "01110 10001 00001 00010 00100 01000 11111",
    "U": "10001 10001 10001 10001 10001 10001 01110",
    "I": "01110 00100 00100 00100 00100 00100 01110",
    "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110",
    "A": "01110 10001 10001 11111 10001 10001 10001",
    "M": "10001 11011 10101 10101 10001 10001 10001",
    "P": "11110 10001 10001 11110 10000 10000 10000",
    "L": "10000 10000 10000 10000 10000 10000 11111",
    "E": "11111 10000 10000 11110 10000 10000 11111",
}
SCALE, MARGIN, SPACING = 4, 8, 4

def caption(text, path):
    width = 2 * MARGIN + len(text) * (5 * SCALE + SPACING) - SPACING
    height = 2 * MARGIN + 7 * SCALE
    rows = [[85] * width for _ in range(height)]
    for index, letter in enumerate(text):
        left = MARGIN + index * (5 * SCALE + SPACING)
        for gy, line in enumerate(GLYPHS[letter].split()):
            for gx, bit in enumerate(line):
                if bit == "1":
                    for y in range(SCALE):
                        for x in range(SCALE):
                            rows[MARGIN + gy * SCALE + y][left + gx * SCALE + x] = 255
    with open(path, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (width, height) + b"".join(bytes(r) for r in rows))

caption("D2UDIR", sys.argv[1] + "/d2udir.pgm")
caption("SAMPLE", sys.argv[1] + "/sample.pgm")
PY
./tools/subtitle-maker -o samples/sample.sub \
    --record "$work/d2udir.pgm" 0.2 1.4 280 470 \
    --record "$work/sample.pgm" 1.6 2.8 280 470
ls -l samples
