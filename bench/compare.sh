#!/usr/bin/env bash
# Side-by-side speed of d2udir, libmpeg2 (mpeg2dec) and ffmpeg, one thread each, and of d2udir
# and ffmpeg on two threads, on streams generated with ffmpeg:
#   sd        720x576 MPEG-2, 25 fps interlaced (field DCT, alternate scan), 6 Mbit/s, B pictures
#   mpeg1     720x576 MPEG-1, progressive, 6 Mbit/s, B pictures
#   hd        1920x1080 MPEG-2, 25 fps, 20 Mbit/s, B pictures
#   dvd       an sd stream as a DVD title (program stream with navigation packets, AC-3 audio)
# Jobs: decoding only (d2udir decode --null, mpeg2dec -o null, ffmpeg -f null), decoding plus
# conversion to 32-bit pixels (d2udir --format bmp --null, mpeg2dec -o nullrgb32, ffmpeg
# -pix_fmt bgra), 100 preview bitmaps of the DVD stream (d2udir preview against ffmpeg
# thumbnails, one process per picture on both sides), and decoding sd and hd on two threads
# (d2udir --threads 2 against its own single thread, libmpeg2, which has no threads, and ffmpeg
# -threads 2), with the single-thread sd decode pinned to each of two processors beside them, to
# show how far the processors' speeds allow two threads to go. hyperfine times the programs of a
# job one after another, in an order that turns by one each round, and the rounds repeat that, so
# load from other processes falls on all of them alike; each figure is the median over the rounds.
# Peak memory comes from /usr/bin/time.
#
# Usage: bench/compare.sh [BUILD_DIR]        (default build/bench; configured and built if needed)
# Environment:
#   ROUNDS   rounds (default 9: the median of fewer moves with the other load of a shared machine)
#   D2UDIR   the d2udir command (default BUILD_DIR/d2udir)
#   STREAMS  folder of the generated streams, kept between runs (default BUILD_DIR/bench-streams)
#   RESULTS  markdown output (default bench/results.md)
# Frames per second are frames / (user + system CPU time) of the whole process: on a shared,
# loaded machine CPU time is what stays comparable; wall-clock ratios are printed as well. The
# two-thread jobs are rated by wall-clock time only: CPU time does not show a parallel speed-up.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/bench}
rounds=${ROUNDS:-9}
d2udir=${D2UDIR:-$build/d2udir}
streams=${STREAMS:-$build/bench-streams}
results=${RESULTS:-$root/bench/results.md}

for tool in ffmpeg ffprobe mpeg2dec hyperfine dvdauthor python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "compare.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
if [ -z "${D2UDIR:-}" ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DD2U_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$build" -j2 --target d2udir_cli >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
mkdir -p "$streams"
streams=$(cd "$streams" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- streams ------------------------------------------------------------------------------
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
# Moving test pattern with temporal noise, so that the encoder spends the bit rate on
# coefficients as camera footage would.
source_video() { echo "testsrc2=size=$1:rate=25,noise=alls=12:allf=t"; }

make_stream() {
    local name=$1
    shift
    [ -s "$streams/$name" ] && return 0
    echo "generating $name" >&2
    ff "$@" "$streams/$name.part"
    mv "$streams/$name.part" "$streams/$name"
}
make_stream sd.m2v -f lavfi -i "$(source_video 720x576)" -frames:v 500 -c:v mpeg2video \
    -b:v 6M -maxrate 9.8M -bufsize 1835k -g 15 -bf 2 -flags +ilme+ildct -top 1 \
    -alternate_scan 1 -intra_vlc 1 -f mpeg2video
make_stream mpeg1.m1v -f lavfi -i "$(source_video 720x576)" -frames:v 500 -c:v mpeg1video \
    -b:v 6M -maxrate 9.8M -bufsize 1835k -g 15 -bf 2 -f mpeg1video
make_stream hd.m2v -f lavfi -i "$(source_video 1920x1080)" -frames:v 200 -c:v mpeg2video \
    -b:v 20M -maxrate 25M -bufsize 9781k -g 12 -bf 2 -f mpeg2video
# A DVD title: ffmpeg's DVD target leaves room for a navigation packet before each GOP, which
# dvdauthor fills in as an authored disc has it.
make_stream dvd.mpg -f lavfi -i "$(source_video 720x576)" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -map 0:v -map 1:a -frames:v 500 \
    -target pal-dvd -aspect 4:3 -b:v 6M -maxrate 9.8M -bufsize 1835k -g 15 -bf 2 \
    -flags +ilme+ildct -top 1 -alternate_scan 1 -intra_vlc 1 -c:a ac3 -b:a 192k -shortest
if [ ! -s "$streams/dvd.vob" ]; then
    echo "generating dvd.vob" >&2
    VIDEO_FORMAT=PAL dvdauthor -o "$work/dvd" -t "$streams/dvd.mpg" >/dev/null 2>&1
    mv "$work/dvd/VIDEO_TS/VTS_01_1.VOB" "$streams/dvd.vob"
fi

frames_of() {
    local cache="$streams/$1.frames"
    if [ ! -s "$cache" ]; then
        ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
            -of csv=p=0 "$streams/$1" | tr -d ',\n' >"$cache"
    fi
    cat "$cache"
}
seconds_of() {
    ffprobe -v error -show_entries format=duration -of csv=p=0 "$streams/$1"
}

# The d2udir command must offer the decode-only path and threads.
if ! "$d2udir" decode "$streams/sd.m2v" --null --threads 1 >/dev/null 2>&1; then
    echo "compare.sh: '$d2udir decode FILE --null --threads 1' failed; this needs the d2udir" \
        "command with --null and --threads (build target d2udir_cli)" >&2
    exit 1
fi

# ---- jobs ---------------------------------------------------------------------------------
# One line per program of a job: job <TAB> count <TAB> unit <TAB> program <TAB> command.
jobs_file=$work/jobs.tsv
: >"$jobs_file"
job() { printf '%s\t%s\t%s\t%s\t%s\n' "$@" >>"$jobs_file"; }
ffbase="ffmpeg -hide_banner -loglevel error -nostdin -y"
ffdecode="$ffbase -threads 1 -filter_threads 1"
# d2udir decodes on one thread per processor unless told otherwise.
one="--threads 1"

for stream in sd.m2v mpeg1.m1v hd.m2v dvd.vob; do
    name=${stream%.*}
    file=$streams/$stream
    demux=""
    [ "$stream" = dvd.vob ] && demux="-s"
    frames=$(frames_of "$stream")
    job "decode $name" "$frames" fps d2udir "$d2udir decode $file --null $one"
    job "decode $name" "$frames" fps libmpeg2 "mpeg2dec $demux -o null $file"
    job "decode $name" "$frames" fps ffmpeg "$ffdecode -i $file -an -fps_mode passthrough -f null -"
done
for stream in sd.m2v hd.m2v; do
    name=${stream%.*}
    file=$streams/$stream
    frames=$(frames_of "$stream")
    job "32-bit pixels $name" "$frames" fps d2udir "$d2udir decode $file --format bmp --null $one"
    job "32-bit pixels $name" "$frames" fps libmpeg2 "mpeg2dec -o nullrgb32 $file"
    job "32-bit pixels $name" "$frames" fps ffmpeg \
        "$ffdecode -i $file -an -fps_mode passthrough -pix_fmt bgra -f null -"
    threaded="decode $name, 2 threads"
    job "$threaded" "$frames" fps d2udir "$d2udir decode $file --null --threads 2"
    job "$threaded" "$frames" fps "d2udir 1 thread" "$d2udir decode $file --null $one"
    job "$threaded" "$frames" fps libmpeg2 "mpeg2dec -o null $file"
    job "$threaded" "$frames" fps ffmpeg \
        "$ffbase -threads 2 -i $file -an -fps_mode passthrough -f null -"
done

# One thread pinned to each of two processors: on a virtual machine they need not be equally fast
# (the other half of a physical core may be busy), and two threads are at most as fast as both
# together, so that their speed-up over one thread depends on which processor that one ran on.
processors=$(python3 -c 'import os; print(" ".join(map(str, sorted(os.sched_getaffinity(0))[:2])))')
if [ "$(wc -w <<<"$processors")" -eq 2 ]; then
    for processor in $processors; do
        job "sd, one thread on each processor" "$(frames_of sd.m2v)" fps "processor $processor" \
            "taskset -c $processor $d2udir decode $streams/sd.m2v --null $one"
    done
fi

# 100 previews of 160x90 at evenly spread positions of the DVD stream, one process each.
previews=100
vob=$streams/dvd.vob
vob_kib=$(($(stat -c %s "$vob") / 1024))
vob_seconds=$(seconds_of dvd.vob)
mkdir -p "$work/previews"
{
    echo "failed=0"
    for i in $(seq 0 $((previews - 1))); do
        echo "\"$d2udir\" preview \"$vob\" -o \"$work/previews/d2udir.bmp\" --size 160x90 $one --at $((vob_kib * i / (previews + 1))) >/dev/null || failed=\$((failed + 1))"
    done
    echo "echo \$failed >\"$work/previews_d2udir.failed\""
} >"$work/previews_d2udir.sh"
{
    echo "failed=0"
    for i in $(seq 0 $((previews - 1))); do
        position=$(awk "BEGIN { printf \"%.3f\", $vob_seconds * $i / ($previews + 1) }")
        echo "$ffdecode -ss $position -i \"$vob\" -an -frames:v 1 -vf scale=160:90 -pix_fmt bgra \"$work/previews/ffmpeg.bmp\" || failed=\$((failed + 1))"
    done
    echo "echo \$failed >\"$work/previews_ffmpeg.failed\""
} >"$work/previews_ffmpeg.sh"
for program in d2udir ffmpeg; do
    bash "$work/previews_$program.sh" 2>/dev/null
    failed=$(cat "$work/previews_$program.failed")
    [ "$failed" = 0 ] || echo "compare.sh: $failed of $previews $program previews failed" >&2
done
job "100 previews 160x90" "$previews" "previews/s" d2udir "bash $work/previews_d2udir.sh"
job "100 previews 160x90" "$previews" "previews/s" ffmpeg "bash $work/previews_ffmpeg.sh"

# ---- timing -------------------------------------------------------------------------------
cat "$streams"/*.m2v "$streams"/*.m1v "$vob" >/dev/null
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
job_names=$(cut -f1 "$jobs_file" | uniq)
for round in $(seq 1 "$rounds"); do
    echo "round $round of $rounds" >&2
    index=0
    while IFS= read -r name; do
        index=$((index + 1))
        programs=()
        commands=()
        while IFS=$'\t' read -r _ _ _ program command; do
            programs+=("$program")
            commands+=("$command")
        done < <(awk -F'\t' -v job="$name" '$1 == job' "$jobs_file")
        # The program that runs right after another job's last one is often the slower for it
        # on a shared machine, so the order turns by one each round: every program takes the
        # first place as often as the others.
        arguments=()
        count=${#programs[@]}
        for ((k = 0; k < count; k++)); do
            at=$(((k + round - 1) % count))
            arguments+=(--command-name "${programs[$at]}" "${commands[$at]}")
        done
        hyperfine -N -i --style none --runs 1 --export-json "$work/time_${round}_${index}.json" \
            "${arguments[@]}" >/dev/null
    done <<<"$job_names"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- peak memory --------------------------------------------------------------------------
peak_kib() { /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1; cat "$work/rss"; }
{
    printf 'd2udir decode sd\t%s\n' "$(peak_kib "$d2udir" decode "$streams/sd.m2v" --null $one)"
    printf 'd2udir decode sd, 2 threads\t%s\n' \
        "$(peak_kib "$d2udir" decode "$streams/sd.m2v" --null --threads 2)"
    printf 'd2udir 32-bit pixels sd\t%s\n' \
        "$(peak_kib "$d2udir" decode "$streams/sd.m2v" --format bmp --null $one)"
    printf 'd2udir decode hd\t%s\n' "$(peak_kib "$d2udir" decode "$streams/hd.m2v" --null $one)"
    printf 'libmpeg2 decode sd\t%s\n' "$(peak_kib mpeg2dec -o null "$streams/sd.m2v")"
    printf 'ffmpeg decode sd\t%s\n' \
        "$(peak_kib $ffdecode -i "$streams/sd.m2v" -fps_mode passthrough -f null -)"
} >"$work/memory.tsv"

# ---- report -------------------------------------------------------------------------------
machine="$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores"
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$build_type" ]; then commit="$commit, $build_type build"; fi
if [ -n "${D2UDIR:-}" ]; then commit="$commit, d2udir from $D2UDIR"; fi
python3 - "$work" "$jobs_file" "$rounds" "$machine" "$commit" "$load_before" "$load_after" \
    >"$work/results.md" <<'PYTHON'
import glob, json, os, statistics, sys, time

work, jobs_file, rounds, machine, commit, load_before, load_after = sys.argv[1:8]
jobs = {}
order = []
for line in open(jobs_file):
    name, count, unit, program, _ = line.rstrip("\n").split("\t")
    if name not in jobs:
        jobs[name] = {"count": int(count), "unit": unit, "programs": []}
        order.append(name)
    jobs[name]["programs"].append(program)
threaded = [name for name in order if name.endswith("2 threads")]
pinned = [name for name in order if name.endswith("on each processor")]
single = [name for name in order if name not in threaded and name not in pinned]

# Per round, the seconds (CPU and wall) of each program of each job.
cpu, wall = {}, {}
for path in glob.glob(os.path.join(work, "time_*_*.json")):
    index = int(path.rsplit("_", 1)[1].split(".")[0]) - 1
    for result in json.load(open(path))["results"]:
        key = (order[index], result["command"])
        cpu.setdefault(key, []).append(result["user"] + result["system"])
        wall.setdefault(key, []).append(result["median"])

def rate(times, name, program):
    seconds = times.get((name, program))
    return jobs[name]["count"] / statistics.median(seconds) if seconds else None

def cell(value, digits=0):
    return "–" if value is None else f"{value:,.{digits}f}"

def ratio(ours, theirs):
    return None if ours is None or theirs is None else ours / theirs

def table(times):
    lines = ["| job | frames | d2udir | libmpeg2 | ffmpeg | d2udir / libmpeg2 | d2udir / ffmpeg |",
             "| --- | ---: | ---: | ---: | ---: | ---: | ---: |"]
    for name in single:
        ours, lib, ff = (rate(times, name, p) for p in ("d2udir", "libmpeg2", "ffmpeg"))
        unit = jobs[name]["unit"]
        count = jobs[name]["count"] if unit == "fps" else f"{jobs[name]['count']} (per s)"
        lines.append(f"| {name} | {count} | {cell(ours)} | {cell(lib)} | {cell(ff)} | "
                     f"{cell(ratio(ours, lib), 2)} | {cell(ratio(ours, ff), 2)} |")
    return lines

# Wall-clock only: d2udir on two threads against each of the others.
THREADED = ("d2udir", "d2udir 1 thread", "libmpeg2", "ffmpeg")
def threaded_table():
    lines = ["| job | frames | d2udir, 2 threads | d2udir, 1 thread | libmpeg2 | ffmpeg, 2 threads "
             "| / own 1 thread | / libmpeg2 | / ffmpeg |",
             "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"]
    for name in threaded:
        rates = [rate(wall, name, program) for program in THREADED]
        lines.append(f"| {name} | {jobs[name]['count']} | " + " | ".join(map(cell, rates)) +
                     " | " + " | ".join(cell(ratio(rates[0], r), 2) for r in rates[1:]) + " |")
    return lines

# What the two processors allow: two threads that share the work at the processors' speeds
# are 1 + faster time / slower time as fast as one thread on the faster processor.
def processor_lines():
    for name in pinned:
        times = {p: statistics.median(wall[(name, p)]) for p in jobs[name]["programs"]
                 if (name, p) in wall}
        if len(times) < 2:
            return []
        fast, slow = min(times.values()), max(times.values())
        two = wall.get(("decode sd, 2 threads", "d2udir"))
        share = (1 / statistics.median(two)) / sum(1 / t for t in times.values()) if two else None
        return ["", "One thread pinned to each processor, decode sd, wall-clock: " +
                ", ".join(f"{p} {t * 1000:.1f} ms" for p, t in times.items()) +
                f"; two threads can be at most {1 + fast / slow:.2f}x one thread on the faster "
                f"processor, and reached {cell(share and share * 100, 1)}% of the two processors' "
                "combined speed."]
    return []

memory = [line.rstrip("\n").split("\t") for line in open(os.path.join(work, "memory.tsv"))]
peak = {name: int(kib) for name, kib in memory if kib.strip().isdigit()}

def goal(text, value, target):
    if value is None:
        return f"| {text} | – | {target} | not measured |"
    peak = text.startswith("peak")
    met = value < target if peak else value >= target
    # Three decimals for the ratios, so that one just under its target does not read as on it.
    return f"| {text} | {value:.{2 if peak else 3}f} | {target} | {'met' if met else 'NOT met'} |"

def cpu_ratio(name, program):
    return ratio(rate(cpu, name, "d2udir"), rate(cpu, name, program))

def threaded_goals():
    lines = []
    for size, own, lib in (("sd", 1.7, 2.1), ("hd", 1.8, 2.5)):
        name = f"decode {size}, 2 threads"
        labels = ("own 1 thread", "libmpeg2", "ffmpeg -threads 2")
        for program, label, target in zip(THREADED[1:], labels, (own, lib, 2)):
            wall_ratio = ratio(rate(wall, name, "d2udir"), rate(wall, name, program))
            lines.append(goal(f"{name}, wall-clock: d2udir / {label}", wall_ratio, target))
    return lines

def peak_mib(name):
    return peak[name] / 1024 if name in peak else None

out = [f"Measured {time.strftime('%Y-%m-%d %H:%M %Z')} on {machine}, commit {commit}; "
       f"{rounds} rounds, median; load average {load_before} before, {load_after} after.", "",
       "Frames (or previews) per second of CPU time (user + system), one thread each:", ""]
out += table(cpu)
out += ["", "The same from wall-clock time (sensitive to the other load on the machine):", ""]
out += table(wall)
out += ["", "Two threads, frames per second of wall-clock time (the two-thread targets are for "
        "machines with two cores or more):", ""]
out += threaded_table()
out += processor_lines()
out += ["", "| goal | measured | target | |", "| --- | ---: | ---: | --- |",
        goal("decode sd: d2udir / libmpeg2", cpu_ratio("decode sd", "libmpeg2"), 1.25),
        goal("decode hd: d2udir / libmpeg2", cpu_ratio("decode hd", "libmpeg2"), 1.25),
        goal("32-bit pixels sd: d2udir / ffmpeg", cpu_ratio("32-bit pixels sd", "ffmpeg"), 1.5),
        goal("32-bit pixels hd: d2udir / ffmpeg", cpu_ratio("32-bit pixels hd", "ffmpeg"), 1.5),
        goal("peak RSS of the sd decode (MiB)", peak_mib("d2udir decode sd"), 16)]
out += threaded_goals()
out += [goal("peak RSS of the sd decode, 2 threads (MiB)",
             peak_mib("d2udir decode sd, 2 threads"), 20)]
out += ["", "Peak resident memory (MiB): " +
        ", ".join(f"{name} {kib / 1024:.1f}" for name, kib in peak.items()) + "."]
failed = {}
for program in ("d2udir", "ffmpeg"):
    path = os.path.join(work, f"previews_{program}.failed")
    if os.path.exists(path):
        failed[program] = open(path).read().strip()
if any(count != "0" for count in failed.values()):
    out += ["", "Previews that failed (their rate is not comparable then): " +
            ", ".join(f"{program} {count}" for program, count in failed.items()) + "."]
print("\n".join(out))
PYTHON
cp "$work/results.md" "$results"
cat "$results"
