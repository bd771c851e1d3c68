#!/usr/bin/env bash
# norv beside its peers, in one run on the same machine: the same encode by
# norv (the library and NorvEngine, everything it does before the encode
# included), by HandBrakeCLI and by the ffmpeg program. The source is a 30 s
# 1080p H.264 + AAC clip with real noise; the output is NP_NorvPlusHD's
# (Matroska, x264 medium at the preview's picture and average bitrate, AAC at
# the preview's audio bitrate). ffmpeg gets the engine's peak and buffer too;
# HandBrakeCLI gets the average bitrate with its filters off. Each is run RUNS
# times (default 3), in turn; the medians of wall time, peak memory (for
# norv: the application's process and the engine's, which run at the same
# time), output size and SSIM against the source are compared.
#
# usage: bench/peers.sh [BUILD_DIR]   (default build/bench)
#   SPEED_SECONDS shortens the clip on a machine too slow for 30 s runs.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh
need_handbrake

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
video_bps=$((video_kbps * 1024))
echo "NP_NorvPlusHD: ${width}x${height}, video ${video_kbps} kbps, audio ${audio_kbps} kbps"

run_norv() {
    measure "$norv" --engine "$engine" transcode -p NP_NorvPlusHD -a 0 -y \
        -o "$work/peer-norv.mkv" "$clip"
}
run_ffmpeg() {
    measure ffmpeg_as_engine "$clip" "$work/peer-ffmpeg.mkv" "$width" "$height" 30 \
        "$video_kbps" "$audio_kbps"
}
run_handbrake() {
    # HandBrake counts kbit/s of 1000 bits.
    measure HandBrakeCLI -i "$clip" -o "$work/peer-handbrake.mkv" -f av_mkv \
        -e x264 --encoder-preset medium -b $((video_bps / 1000)) --cfr -r 30 \
        -w "$width" -l "$height" --crop 0:0:0:0 --non-anamorphic \
        --no-comb-detect --no-deinterlace --no-decomb --no-detelecine --no-hqdn3d \
        --no-nlmeans --no-chroma-smooth --no-unsharp --no-lapsharp --no-deblock \
        -E av_aac -B "$audio_kbps" -6 stereo
}
# SSIM of an output's picture against the source's (FFmpeg's ssim filter).
ssim() {
    ffmpeg -nostdin -i "$1" -i "$clip" -lavfi \
        "[0:v]scale=1920:1080:flags=bicubic,setsar=1[a];[1:v]setsar=1[b];[a][b]ssim" \
        -f null - 2>&1 | grep -o 'All:[0-9.]*' | tail -n 1 | cut -d: -f2
}

tools=(norv handbrake ffmpeg)
declare -A runs_of
runs="${RUNS:-3}"
for i in $(seq 1 "$runs"); do
    line="run $i:"
    for t in "${tools[@]}"; do
        r="$("run_$t")"
        runs_of[$t]+="$r|"
        line+="  $t $r"
    done
    echo "$line   (seconds, KiB)"
done

printf '\n%-12s %12s %16s %14s %8s\n' "median of $runs" "wall time s" "peak memory MiB" "size bytes" "SSIM"
declare -A time_of
for t in "${tools[@]}"; do
    IFS='|' read -r -a rs <<<"${runs_of[$t]%|}"
    time_of[$t]="$(median $(column 1 "${rs[@]}"))"
    mem="$(median $(column 2 "${rs[@]}"))"
    printf '%-12s %12.2f %16.1f %14s %8s\n' "$t" "${time_of[$t]}" \
        "$(awk "BEGIN{print $mem/1024}")" "$(stat -c %s "$work/peer-$t.mkv")" \
        "$(ssim "$work/peer-$t.mkv")"
done
fastest="$(printf '%s\n' "${time_of[handbrake]}" "${time_of[ffmpeg]}" | sort -g | head -n 1)"
printf 'norv / fastest peer: %.3f   (goal: 1.0 or less, aim 0.95)\n' \
    "$(awk "BEGIN{print ${time_of[norv]}/$fastest}")"
