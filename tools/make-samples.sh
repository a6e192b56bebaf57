#!/usr/bin/env bash
# Makes the small demo streams in samples/ with ffmpeg (an MPEG-2 and an MPEG-1 elementary
# stream of two seconds each).
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p samples
encode() {
    local out=$1; shift
    ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=352x288:rate=25' -frames:v 50 \
        -sc_threshold 1000000000 "$@" "$out"
}
encode samples/testsrc-352x288.m2v -c:v mpeg2video -q:v 8 -g 12 -bf 2 -f mpeg2video
encode samples/testsrc-352x288.m1v -c:v mpeg1video -q:v 8 -g 12 -bf 2 -f mpeg1video
ls -l samples
