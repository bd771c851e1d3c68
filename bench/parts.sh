#!/usr/bin/env bash
# One film in parts against the same film encoded whole. A 1080p film of
# four scenes (a moving test card, a cellular automaton, a grainy card,
# drifting gradients) with keyframes every 2 s and at the cuts and a film-like
# sound, FILM_SECONDS (600) long, encoded by norv with NorvPlusHD in two
# passes: whole, with --parts 4 --jobs 2, and as the four tasks of an array
# (run one after another here, each as it would run on a node of its own)
# and their join. For each: wall time, CPU time (norv and every engine it
# starts), size against the preview's estimate, and SSIM against the source
# (FFmpeg's ssim filter, the mean and the mean of the worst 1 % of frames).
# Then the same job with HEVC1080 over HEVC_SECONDS (20) of the grainy scene,
# whole, for the encoder's cost against x264's, and on paper a two-hour 1080p HEVC film on
# NODES (20) nodes like this machine, from these figures.
#
# usage: bench/parts.sh [BUILD_DIR]   (default build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh

seconds="${FILM_SECONDS:-600}"
hevc_seconds="${HEVC_SECONDS:-20}"
nodes="${NODES:-20}"
dir="$work/parts-${seconds}s"
mkdir -p "$dir"
export XDG_CACHE_HOME="$dir/cache"
rm -rf "$XDG_CACHE_HOME" "$dir"/out-* "$dir"/*.log "$dir"/*.mkv.parts
film="$dir/film.mkv"
scene=$((seconds / 4))

if [ ! -f "$film" ]; then
    sound() {
        echo "sine=frequency=$1:duration=$scene[t$2];anoisesrc=colour=pink:amplitude=0.3:duration=$scene[n$2];[t$2][n$2]amix=inputs=2[a$2]"
    }
    v="rate=25:duration=$scene"
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=size=1920x1080:$v" \
        -f lavfi -i "cellauto=size=1920x1080:rule=110:rate=25,trim=duration=$scene,format=yuv420p" \
        -f lavfi -i "testsrc2=size=1920x1080:$v,hue=h=120,noise=alls=30:allf=t+u" \
        -f lavfi -i "gradients=size=1920x1080:speed=0.02:$v" \
        -filter_complex "$(sound 330 0);$(sound 440 1);$(sound 550 2);$(sound 660 3);[0:v][a0][1:v][a1][2:v][a2][3:v][a3]concat=n=4:v=1:a=1[v][a]" \
        -map "[v]" -map "[a]" -c:v libx264 -preset veryfast -crf 14 -g 50 -pix_fmt yuv420p \
        -c:a aac -b:a 192k "$film.tmp.mkv"
    mv "$film.tmp.mkv" "$film"
fi

settings=(-p NorvPlusHD --size 1920x1080 --two-pass -y --progress-period=0)

# measure_cpu NAME COMMAND...: appends "NAME wall cpu" to times.tsv.
: >"$dir/times.tsv"
measure_cpu() {
    local name="$1"
    shift
    python3 - "$name" "$dir/times.tsv" "$dir/$name.log" "$@" <<'PY'
import os, resource, subprocess, sys, time
name, table, log, cmd = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
# CPU time by a cpuacct group holding the command and every process it
# starts (the engines norv starts are reaped by threads of its own, whose
# time the rusage of its children may miss); rusage where no group can be made.
group = f"/sys/fs/cgroup/cpuacct/norv-bench-{os.getpid()}"
try:
    os.mkdir(group)
except OSError:
    group = None
def enter():
    if group:
        with open(f"{group}/tasks", "w") as tasks:
            tasks.write(str(os.getpid()))
start = time.monotonic()
with open(log, "w") as err:
    status = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=err, preexec_fn=enter).returncode
wall = time.monotonic() - start
if group:
    cpu = int(open(f"{group}/cpuacct.usage").read()) / 1e9
    try:
        os.rmdir(group)
    except OSError:
        print(f"{name}: processes outlived the command: {open(group + '/tasks').read()}")
else:
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = used.ru_utime + used.ru_stime
if status != 0:
    sys.exit(f"{name}: {cmd[0]} failed, see {log}")
with open(table, "a") as out:
    out.write(f"{name}\t{wall:.1f}\t{cpu:.1f}\n")
PY
}
# run NAME ARGS...: norv with ARGS, measured.
run() {
    local name="$1"
    shift
    measure_cpu "$name" "$norv" --engine "$engine" "$@"
}

run whole transcode "$film" "${settings[@]}" -o "$dir/out-whole.mkv"
run local transcode "$film" "${settings[@]}" -o "$dir/out-local.mkv" --parts 4 --jobs 2
for k in 1 2 3 4; do
    run "task$k" transcode "$film" "${settings[@]}" -o "$dir/out-array.mkv" --parts 4 --part "$k/4"
done
run join transcode "$film" "${settings[@]}" -o "$dir/out-array.mkv" --parts 4 --join
"$norv" --engine "$engine" --json preview "$film" "${settings[@]:0:5}" >"$dir/preview.json"

# The encoder's cost with HEVC: a stretch of the grainy scene, whole.
ffmpeg -nostdin -loglevel error -y -ss $((scene * 2)) -i "$film" -t "$hevc_seconds" -c copy \
    "$dir/excerpt.mkv"
run hevc transcode "$dir/excerpt.mkv" -p HEVC1080 --size 1920x1080 --two-pass -y \
    --progress-period=0 -o "$dir/out-hevc.mkv"
run hevc-x264 transcode "$dir/excerpt.mkv" "${settings[@]}" -o "$dir/out-hevc-x264.mkv"
# The join's small picture is copied where the engine can copy the source's
# video; where it cannot (an HEVC job of an H.264 film) the join decodes the
# whole film once more: at most this.
measure_cpu decode ffmpeg -nostdin -v error -i "$film" -map 0:v:0 -f null -

# ssim OUT: "mean worst1" against the source scaled to OUT's picture, the
# pictures paired in order (outputs may start their picture a frame later
# than the source against the sound).
ssim() {
    local size
    size="$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1")"
    ffmpeg -nostdin -v error -i "$1" -i "$film" -filter_complex \
        "[1:v]setpts=PTS-STARTPTS,scale=$size:flags=bicubic,setsar=1[ref];[0:v]setpts=PTS-STARTPTS,setsar=1[out];[out][ref]ssim=stats_file=-" \
        -f null - | python3 -c '
import sys
v = sorted(float(l.split("All:")[1].split()[0]) for l in sys.stdin if "All:" in l)
n = max(1, len(v) // 100)
print(f"{sum(v) / len(v):.4f} {sum(v[:n]) / n:.4f}")'
}
: >"$dir/ssim.tsv"
for out in whole local array; do
    echo "$out $(ssim "$dir/out-$out.mkv")" >>"$dir/ssim.tsv"
done

python3 - "$dir" "$seconds" "$hevc_seconds" "$nodes" <<'PY'
import json, os, sys
d, seconds, hevc_seconds, nodes = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
t = {l.split()[0]: (float(l.split()[1]), float(l.split()[2])) for l in open(f"{d}/times.tsv")}
q = {l.split()[0]: (float(l.split()[1]), float(l.split()[2])) for l in open(f"{d}/ssim.tsv")}
estimate = json.load(open(f"{d}/preview.json"))["estimated_size"]
tasks = [t[f"task{k}"] for k in range(1, 5)]
array_wall = max(w for w, _ in tasks) + t["join"][0]
array_cpu = sum(c for _, c in tasks) + t["join"][1]
rows = [("whole", *t["whole"]), ("--parts 4 --jobs 2", *t["local"]),
        ("4 tasks + join", array_wall, array_cpu)]
print(f"{seconds:.0f} s of 1080p film, NorvPlusHD, two passes (estimate {estimate / 1e6:.2f} MB)")
print(f"{'':20} {'wall s':>8} {'CPU s':>8} {'MB':>8} {'vs est':>7} {'SSIM':>7} {'worst 1%':>9}")
for (name, wall, cpu), out in zip(rows, ["whole", "local", "array"]):
    size = os.path.getsize(f"{d}/out-{out}.mkv")
    print(f"{name:20} {wall:8.1f} {cpu:8.1f} {size / 1e6:8.2f} {size / estimate - 1:+7.1%} "
          f"{q[out][0]:7.4f} {q[out][1]:9.4f}")
print("tasks (wall, CPU s): " + ", ".join(f"{w:.1f}/{c:.1f}" for w, c in tasks) +
      f"; join {t['join'][0]:.1f}/{t['join'][1]:.1f}")

# On paper: two hours of 1080p HEVC on nodes like this one.
whole_cpu, whole_wall = t["whole"][1], t["whole"][0]
seam = array_cpu / whole_cpu - 1             # what the parts and the join cost more in all
skew = max(c for _, c in tasks) / (sum(c for _, c in tasks) / 4)  # hardest part / mean
hevc_ratio = t["hevc"][1] / t["hevc-x264"][1]  # HEVC's CPU over x264's, same stretch
# Cores an encoder keeps busy on a node of its own (this machine is shared,
# so its own figure reads low): CORES_BUSY, 1.8 of 2 by default.
use = float(os.environ.get("CORES_BUSY", "1.8"))
join_per_s = t["join"][1] / seconds          # the join's CPU per second of film
film = 7200.0
hevc_cpu = whole_cpu / seconds * hevc_ratio * film
one_node = hevc_cpu / use
task = hevc_cpu * (1 + seam) / nodes * skew / use
join_copied = join_per_s * film / use
join = (join_per_s + t["decode"][1] / seconds) * film / use
print(f"HEVC1080 costs {hevc_ratio:.1f}x x264's CPU on the same {hevc_seconds:.0f} s; "
      f"the parts and join cost {seam:+.1%} CPU; the hardest task {skew:.2f}x the mean")
print(f"on paper, 2 h of 1080p HEVC: one node {one_node / 3600:.1f} h; {nodes} nodes "
      f"{(task + join_copied) / 3600:.2f} to {(task + join) / 3600:.2f} h (tasks {task / 3600:.2f} h, "
      f"join {join_copied / 60:.0f} min with the source's video copied, {join / 60:.0f} min "
      f"decoding it), {one_node / (task + join):.1f} to {one_node / (task + join_copied):.1f}x "
      f"faster, {hevc_cpu * (1 + seam) / 3600:.1f} CPU-hours")
PY
