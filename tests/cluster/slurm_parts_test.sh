#!/usr/bin/env bash
# One film across a Slurm cluster: a one-node cluster made in a temporary
# folder encodes a film of a minute with scene changes in four parts, by a
# job array counted from 0 with --part auto, and a job that depends on the
# array joins them.
#   - the joined film has the source's pictures, timestamps rising evenly
#     across every seam, audio as long as the video, a size within 5 % of
#     the preview's estimate and an SSIM against the source within 0.003 of
#     the same job encoded whole;
#   - the same parts run locally (--jobs 2) make the same film;
#   - a part deleted and its task run again redoes that part alone;
#   - a join with a part missing, or with other settings than the parts
#     were made with, fails with an error naming the part and leaves no
#     output.
#
# usage: slurm_parts_test.sh NORV ENGINE
# Exits 77 (skipped) when Slurm's daemons or munge are not installed, or
# when not run as root.
set -euo pipefail

norv="$(realpath "$1")"
engine="$(realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=slurm_cluster.sh
source "$here/slurm_cluster.sh"
cluster_test_begin slurm_parts_test

cluster_start "$work/cluster" || fail "the cluster did not start"
mkdir -p "$work/logs" "$work/out" "$work/out2"
cd "$work"

# A minute in three scenes of 20 s (moving test pictures, a fractal zoom,
# the first again in other colours), keyframes every 2 s and at the scene
# cuts, and a sound that changes with each scene: noise under a tone, so
# that the audio encoder spends the bitrate it is given, as on a film.
sound() {
    echo "sine=frequency=$1:duration=20[t$2];anoisesrc=colour=pink:amplitude=0.3:duration=20[n$2];[t$2][n$2]amix=inputs=2[a$2]"
}
ffmpeg -nostdin -loglevel error \
    -f lavfi -i "testsrc2=size=192x108:rate=25:duration=20" \
    -f lavfi -i "mandelbrot=size=192x108:rate=25,trim=duration=20" \
    -f lavfi -i "testsrc2=size=192x108:rate=25:duration=20,hue=h=120" \
    -filter_complex "$(sound 330 0);$(sound 440 1);$(sound 550 2);[0:v][a0][1:v][a1][2:v][a2]concat=n=3:v=1:a=1[v][a]" \
    -map "[v]" -map "[a]" -c:v libx264 -preset veryfast -g 50 -c:a aac -b:a 192k film.mp4
frames="$(ffprobe -v error -select_streams v:0 -count_packets \
    -show_entries stream=nb_read_packets -of csv=p=0 film.mp4)"

settings=(-p NorvPlusHD --size 160x96 --two-pass --title Film-title)
job() {
    "$norv" --engine "$engine" transcode film.mp4 "${settings[@]}" --progress-period=0 "$@"
}

cat >part.sh <<TASK
#!/usr/bin/env bash
cd "$work"
exec "$norv" --engine "$engine" transcode film.mp4 ${settings[*]} --progress-period=0 \\
    --parts 4 --part auto "\$@"
TASK
cat >join.sh <<TASK
#!/usr/bin/env bash
cd "$work"
exec "$norv" --engine "$engine" transcode film.mp4 ${settings[*]} --progress-period=0 \\
    --parts 4 --join "\$@"
TASK
chmod +x part.sh join.sh

# "TASK:CODE " for each task of an array.
exits() {
    scontrol --oneliner show job "$1" |
        sed -n 's/.*ArrayTaskId=\([0-9]*\) .*ExitCode=\([0-9]*\):.*/\1:\2 /p' | sort -n | tr -d '\n'
}
# The exit code of a single job.
exit_code() {
    scontrol --oneliner show job "$1" | sed -n 's/.*ExitCode=\([0-9]*\):.*/\1/p'
}

# --- the array and the join that waits for it ----------------------------
array="$(submit --array=0-3 --job-name=parts part.sh -o out/film.mkv)"
joined="$(submit --dependency=afterok:"$array" --job-name=join join.sh -o out/film.mkv)"
# The whole job, meanwhile, for the comparison.
job -o whole.mkv 2>logs/whole.err || fail "the whole job: $(cat logs/whole.err)"
estimate="$("$norv" --engine "$engine" --json preview film.mp4 "${settings[@]}" |
    python3 -c 'import json,sys; print(json.load(sys.stdin)["estimated_size"])')"
wait_jobs "$array" "$joined"
[ "$(exits "$array")" = "0:0 1:0 2:0 3:0 " ] || fail "the array's tasks: $(exits "$array")"
[ "$(exit_code "$joined")" = 0 ] || fail "the join: $(exit_code "$joined")"
[ -f out/film.mkv ] || fail "no joined film"
[ ! -e out/film.mkv.parts ] || fail "the parts outlived the join: $(ls out/film.mkv.parts)"

python3 - "$frames" "$estimate" <<'CHECK' || fail "the joined film"
import json, subprocess, sys
frames, estimate = int(sys.argv[1]), int(sys.argv[2])
def probe(*args):
    return json.loads(subprocess.check_output(
        ["ffprobe", "-v", "error", "-of", "json", *args, "out/film.mkv"]))
video = probe("-select_streams", "v:0", "-show_entries", "packet=pts_time")["packets"]
pts = sorted(float(p["pts_time"]) for p in video)
assert len(pts) == frames, f"{len(pts)} pictures, the source has {frames}"
steps = [b - a for a, b in zip(pts, pts[1:])]
assert max(abs(s - 0.04) for s in steps) < 0.0015, \
    f"timestamps do not rise evenly: steps from {min(steps)} to {max(steps)}"
audio = probe("-select_streams", "a:0", "-show_entries", "packet=pts_time,duration_time")["packets"]
audio_end = max(float(p["pts_time"]) + float(p["duration_time"]) for p in audio)
video_end = pts[-1] + 0.04
assert abs(audio_end - video_end) <= 0.04, f"audio ends at {audio_end}, video at {video_end}"
size = int(probe("-show_entries", "format=size")["format"]["size"])
assert abs(size / estimate - 1) <= 0.05, f"{size} bytes, the estimate {estimate}"
print(f"joined: {len(pts)} pictures, {size} bytes ({size / estimate - 1:+.1%} of the estimate)")
CHECK

# Titles, tags and chapters as the job encoded whole has them.
python3 - <<'CHECK' || fail "the joined film's tags and chapters"
import json, subprocess
def described(path):
    d = json.loads(subprocess.check_output(["ffprobe", "-v", "error", "-of", "json", "-show_chapters",
        "-show_entries", "format_tags:stream=codec_type,codec_name:stream_tags", path]))
    for s in d["streams"]:
        s.get("tags", {}).pop("DURATION", None)
    return d
joined, whole = described("out/film.mkv"), described("whole.mkv")
assert joined == whole, f"{joined} != {whole}"
assert joined["format"]["tags"]["title"] == "Film-title", joined
CHECK

# SSIM against the source scaled to the output's picture, joined and whole.
ssim() {
    local size
    size="$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1")"
    ffmpeg -nostdin -v error -i "$1" -i film.mp4 -filter_complex \
        "[1:v]scale=$size:flags=bicubic,setsar=1[ref];[0:v]setsar=1[out];[out][ref]ssim=stats_file=-" \
        -f null - | python3 -c '
import sys
values = [float(l.split("All:")[1].split()[0]) for l in sys.stdin if "All:" in l]
print(sum(values) / len(values))'
}
python3 - "$(ssim out/film.mkv)" "$(ssim whole.mkv)" <<'CHECK' || fail "SSIM"
import sys
joined, whole = float(sys.argv[1]), float(sys.argv[2])
print(f"SSIM joined {joined:.4f}, whole {whole:.4f}")
assert abs(joined - whole) <= 0.003
CHECK
echo "array and join: the film whole, its seams even, its size kept"

# --- the same parts on local engines, two at a time -----------------------
job -o local.mkv --parts 4 --jobs 2 2>logs/local.err || fail "the local run: $(cat logs/local.err)"
# (Encoders with other numbers of threads than the array's tasks had code
# other bits, so the two are alike, not the same.)
python3 - "$frames" <<'CHECK' || fail "the local run's film"
import json, os, subprocess, sys
count = int(subprocess.check_output(["ffprobe", "-v", "error", "-select_streams", "v:0",
    "-count_packets", "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", "local.mkv"]))
assert count == int(sys.argv[1]), f"{count} pictures"
local, array = os.path.getsize("local.mkv"), os.path.getsize("out/film.mkv")
assert abs(local / array - 1) < 0.03, f"{local} bytes, the array's {array}"
CHECK
echo "local run: the film whole, as the array made it"

# --- a part deleted and its task run again ------------------------------
array2="$(submit --array=0-3 --job-name=parts2 part.sh -o out2/film.mkv)"
wait_jobs "$array2"
[ "$(exits "$array2")" = "0:0 1:0 2:0 3:0 " ] || fail "the second array: $(exits "$array2")"
parts=out2/film.mkv.parts
before="$(stat -c '%n %i %Y' "$parts"/part-{1,2,4}-of-4.mkv)"
rm "$parts/part-3-of-4.mkv"
scontrol requeue "${array2}_2" || fail "task 2 could not be queued again"
scontrol update JobId="${array2}_2" StartTime=now
wait_jobs "$array2"
[ -f "$parts/part-3-of-4.mkv" ] || fail "the deleted part was not made again"
[ "$(stat -c '%n %i %Y' "$parts"/part-{1,2,4}-of-4.mkv)" = "$before" ] ||
    fail "parts that were there were made again"
python3 - "$parts" <<'CHECK' || fail "the re-run's report"
import json, sys
report = json.load(open(f"{sys.argv[1]}/part-3-of-4.report.json"))
assert [f["status"] for f in report["files"]] == ["done"], report
CHECK
# Run once more, the part is skipped.
job -o out2/film.mkv --parts 4 --part 3/4 2>logs/skip.err ||
    fail "the run over a finished part: $(cat logs/skip.err)"
grep -q "already complete" logs/skip.err || fail "the finished part was not skipped: $(cat logs/skip.err)"
echo "a deleted part: made again alone"

# --- joins that must fail -----------------------------------------------
mv "$parts/part-2-of-4.mkv" aside.mkv
status=0
./join.sh -o out2/film.mkv 2>logs/missing.err || status=$?
[ "$status" = 1 ] && grep -q "part 2 of 4 is missing" logs/missing.err ||
    fail "a join with a part missing (status $status): $(cat logs/missing.err)"
[ "$(ls -A out2)" = film.mkv.parts ] || fail "a failed join left: $(ls -A out2)"
mv aside.mkv "$parts/part-2-of-4.mkv"
status=0
./join.sh -o out2/film.mkv --audio-bitrate 128k 2>logs/other.err || status=$?
[ "$status" = 1 ] && grep -q "made with other settings" logs/other.err ||
    fail "a join with other settings (status $status): $(cat logs/other.err)"
[ "$(ls -A out2)" = film.mkv.parts ] || fail "a failed join left: $(ls -A out2)"
./join.sh -o out2/film.mkv 2>logs/join2.err || fail "the join after all: $(cat logs/join2.err)"
echo "failed joins: a clear error and no output"
echo "slurm_parts_test: passed"
