#!/usr/bin/env bash
# The throughput of one node on a batch of short clips: norv batch with
# --jobs 1 and --jobs 2, against a shell loop of the ffmpeg program doing
# the same encodes one after another (NP_NorvPlusHD: Matroska, libx264 at
# the engine's preset, the previewed picture and bitrates). Then, on paper,
# what an array of NODES nodes (default 100) would take over a library of
# LIBRARY files (default 10000) like these, from the measured throughput
# and the per-file encode times of the batch's --report.
#
# usage: bench/batch_throughput.sh [BUILD_DIR]   (default build/bench)
#   CLIPS (default 20) clips of CLIP_SECONDS (default 5) at CLIP_SIZE
#   (default 640x360)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh
clips="${CLIPS:-20}"
seconds="${CLIP_SECONDS:-5}"
size="${CLIP_SIZE:-640x360}"
nodes="${NODES:-100}"
library="${LIBRARY:-10000}"

dir="$work/batch-${clips}x${seconds}s-$size"
mkdir -p "$dir/in"
for i in $(seq -w 1 "$clips"); do
    clip="$dir/in/clip$i.mp4"
    [ -f "$clip" ] && continue
    # Each clip its own picture, so that no encode is cheaper than another.
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=size=$size:rate=30:duration=$seconds" \
        -f lavfi -i "sine=frequency=$((300 + 10#$i * 20)):sample_rate=48000:duration=$seconds" \
        -vf "hue=h=$((10#$i * 17)),noise=alls=6:allf=t" -c:v libx264 -preset veryfast -crf 23 \
        -c:a aac -b:a 128k -shortest "$clip"
done
inputs=("$dir"/in/*.mp4)

preview="$("$norv" --engine "$engine" --json preview -p NP_NorvPlusHD "${inputs[0]}")"
field() { grep -o "\"$1\":\\[\\{0,1\\}[0-9]*" <<<"$preview" | head -n 1 | grep -o '[0-9]*$'; }
width="$(field width)"
height="$(field height)"
video_kbps="$(field video_kbps)"
audio_kbps="$(field audio_kbps)"
echo "$clips clips of $seconds s at $size to NP_NorvPlusHD: ${width}x${height}," \
    "video $video_kbps kbps, audio $audio_kbps kbps"

now() { date +%s.%N; }
elapsed() { awk "BEGIN{printf \"%.2f\", $(now) - $1}"; }

run_batch() {
    local jobs="$1" start
    rm -rf "$dir/out$jobs"
    start="$(now)"
    "$norv" --engine "$engine" batch -p NP_NorvPlusHD -j "$jobs" -d "$dir/out$jobs" \
        --report "$dir/report$jobs.json" --progress-period=0 "${inputs[@]}" 2>"$dir/batch$jobs.log" ||
        { tail -n 3 "$dir/batch$jobs.log" >&2; exit 1; }
    elapsed "$start"
}
run_loop() {
    local start clip
    rm -rf "$dir/ffmpeg"
    mkdir -p "$dir/ffmpeg"
    start="$(now)"
    for clip in "${inputs[@]}"; do
        ffmpeg_as_engine "$clip" "$dir/ffmpeg/$(basename "$clip" .mp4).mkv" \
            "$width" "$height" 30 "$video_kbps" "$audio_kbps" >/dev/null 2>&1
    done
    elapsed "$start"
}

loop="$(run_loop)"
one="$(run_batch 1)"
two="$(run_batch 2)"
total=$((clips * seconds))
row() {
    printf '%-26s %10s %12s %14s\n' "$1" "$2" \
        "$(awk "BEGIN{printf \"%.3f\", $clips / $2}")" "$(awk "BEGIN{printf \"%.1f\", $total / $2}")"
}
printf '\n%-26s %10s %12s %14s\n' "one node, $(nproc) cores" "wall s" "files/s" "media s per s"
row "ffmpeg loop, one by one" "$loop"
row "norv batch --jobs 1" "$one"
row "norv batch --jobs 2" "$two"

# Per-file encode times from the report of the --jobs 2 run.
per_file="$(python3 - "$dir/report2.json" <<'PY'
import json, statistics, sys
files = [f for f in json.load(open(sys.argv[1]))["files"] if f["status"] == "done"]
times = sorted(f["encode_seconds"] for f in files)
print("%.2f %.2f %.2f" % (statistics.mean(times), statistics.median(times), times[-1]))
PY
)"
read -r mean median slowest <<<"$per_file"
echo "per file (report, --jobs 2): mean $mean s, median $median s, slowest $slowest s"

best="$(awk "BEGIN{print ($one < $two) ? $one : $two}")"
python3 - "$nodes" "$library" "$clips" "$best" "$loop" "$mean" <<'PY'
import math, sys
nodes, library, clips = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
best, loop, mean = float(sys.argv[4]), float(sys.argv[5]), float(sys.argv[6])
per_node = math.ceil(library / nodes)
rate = clips / best  # files per second of one node, at its best --jobs
print(f"\non paper: {library} such files over {nodes} nodes, {per_node} files a node")
print(f"  norv batch --shard auto, best --jobs: {per_node / rate / 60:.1f} min "
      f"({nodes * rate:.1f} files/s over the cluster)")
print(f"  ffmpeg loop on each node:             {per_node * loop / clips / 60:.1f} min")
print(f"  one node alone:                       {library / rate / 3600:.1f} h")
print(f"  one task per file (--array=0-{library - 1}): about {mean:.1f} s a task, "
      f"{library / (nodes * 2) * mean / 60:.1f} min with 2 tasks a node, plus the scheduler's "
      f"start-up per task")
PY
