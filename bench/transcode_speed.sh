#!/usr/bin/env bash
# The speed and memory of a transcode through the library and NorvEngine,
# beside the ffmpeg program doing the identical encode on the same machine
# in the same run: a 30 s 1080p H.264 + AAC clip to NP_NorvPlusHD
# (Matroska, libx264 at the engine's preset, the previewed picture and
# bitrates). Each is run RUNS times (default 3), alternately; the medians of
# wall time and peak memory (for norv: the application's process and the
# engine's, which run at the same time) are compared.
#
# usage: bench/transcode_speed.sh [BUILD_DIR]   (default build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh
# SPEED_SECONDS shortens the clip on a machine too slow for 30 s runs.
seconds="${SPEED_SECONDS:-30}"
clip="$work/speed-1080p-${seconds}s.mp4"
if [ ! -f "$clip" ]; then
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=size=1920x1080:rate=30:duration=$seconds" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
        -vf noise=alls=6:allf=t -c:v libx264 -preset veryfast -crf 23 \
        -c:a aac -b:a 192k -shortest "$clip"
fi

# The preview's figures, which the engine encodes at.
preview="$("$norv" --engine "$engine" --json preview -p NP_NorvPlusHD "$clip")"
field() { grep -o "\"$1\":\\[\\{0,1\\}[0-9]*" <<<"$preview" | head -n 1 | grep -o '[0-9]*$'; }
width="$(field width)"
height="$(field height)"
video_kbps="$(field video_kbps)"
audio_kbps="$(field audio_kbps)"
echo "NP_NorvPlusHD: ${width}x${height}, video ${video_kbps} kbps, audio ${audio_kbps} kbps"

# Peak resident memory (KiB) of a process, while it runs.
hwm() { awk '/^VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || true; }

# One run of a command: "seconds KiB", the wall time and the peak memory of
# the command's process plus that of its largest child (the engine, for
# norv; ffmpeg has none), both read while they run.
measure() {
    local start own=0 child=0 v pid
    start="$(date +%s.%N)"
    "$@" >/dev/null 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        v="$(hwm "$pid")"
        [ -n "$v" ] && [ "$v" -gt "$own" ] && own="$v"
        for c in $(pgrep -P "$pid" || true); do
            v="$(hwm "$c")"
            [ -n "$v" ] && [ "$v" -gt "$child" ] && child="$v"
        done
        sleep 0.1
    done
    wait "$pid"
    echo "$(awk "BEGIN{print $(date +%s.%N) - $start}") $((own + child))"
}
run_norv() {
    measure "$norv" --engine "$engine" transcode -p NP_NorvPlusHD -a 0 -y \
        -o "$work/speed-norv.mkv" "$clip"
}
run_ffmpeg() {
    measure ffmpeg_as_engine "$clip" "$work/speed-ffmpeg.mkv" "$width" "$height" 30 \
        "$video_kbps" "$audio_kbps"
}

norv_runs=()
ffmpeg_runs=()
runs="${RUNS:-3}"
for i in $(seq 1 "$runs"); do
    norv_runs+=("$(run_norv)")
    ffmpeg_runs+=("$(run_ffmpeg)")
    echo "run $i: norv ${norv_runs[-1]}   ffmpeg ${ffmpeg_runs[-1]}   (seconds, KiB)"
done
median() { printf '%s\n' "$@" | sort -g | sed -n "$(((runs + 1) / 2))p"; }
column() { local c="$1"; shift; for r in "$@"; do cut -d' ' -f"$c" <<<"$r"; done; }
nt="$(median $(column 1 "${norv_runs[@]}"))"
nm="$(median $(column 2 "${norv_runs[@]}"))"
ft="$(median $(column 1 "${ffmpeg_runs[@]}"))"
fm="$(median $(column 2 "${ffmpeg_runs[@]}"))"
printf '\n%-22s %12s %16s\n' "median of $runs" "wall time s" "peak memory MiB"
printf '%-22s %12.2f %16.1f\n' "library + NorvEngine" "$nt" "$(awk "BEGIN{print $nm/1024}")"
printf '%-22s %12.2f %16.1f\n' "ffmpeg program" "$ft" "$(awk "BEGIN{print $fm/1024}")"
printf '%-22s %12.3f %16.3f   (goals: 1.05 and 1.1)\n' "ratio" \
    "$(awk "BEGIN{print $nt/$ft}")" "$(awk "BEGIN{print $nm/$fm}")"
printf 'output sizes: norv %s bytes, ffmpeg %s bytes\n' \
    "$(stat -c %s "$work/speed-norv.mkv")" "$(stat -c %s "$work/speed-ffmpeg.mkv")"
