#!/usr/bin/env bash
# norv batch on a real Slurm cluster: a one-node cluster made in a temporary
# folder runs job arrays over a few small clips made for the test.
#   - a 0-based array with --shard auto and a 1-based one with --shard K/N
#     transcode every file exactly once;
#   - a task cancelled with scancel in the middle of a file, then queued
#     again, finishes its shard: it skips the files already done, redoes the
#     cut one and leaves no partial file;
#   - a list with a bad file: its task fails, the report names the file and
#     the merged summary gives it as the input of the next run;
#   - a task killed outright (SIGKILL) in the middle of a file: its report,
#     written from its start, names what it did not finish, the merge gives
#     those files for the next run (also when the report is missing and the
#     list is given), and the next run removes what the killed engine left.
#
# usage: slurm_test.sh NORV ENGINE
# Exits 77 (skipped) when Slurm's daemons or munge are not installed, or
# when not run as root.
set -euo pipefail

norv="$(realpath "$1")"
engine="$(realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=slurm_cluster.sh
source "$here/slurm_cluster.sh"
cluster_test_begin slurm_test scancel

cluster_start "$work/cluster" || fail "the cluster did not start"
mkdir -p "$work/clips" "$work/logs"
cd "$work"

# Tiny clips: 1 s of a small picture and a tone; one longer so that a task
# can be caught in the middle of it.
make_clip() {
    ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=160x120:rate=25:duration=$2" \
        -f lavfi -i "sine=frequency=440:duration=$2" -c:v libx264 -preset ultrafast \
        -c:a aac -shortest "$1"
}
for i in 1 2 3 4 5; do
    make_clip "clips/c$i.mp4" 1
done
make_clip clips/long.mp4 40
echo "not a video" >clips/bad.mp4

# The task every array runs: norv batch with the arguments given to sbatch,
# TASK in them standing for the task's index in its array.
mkdir -p pids
cat >task.sh <<EOF
#!/usr/bin/env bash
echo \$\$ >"$work/pids/\${SLURM_ARRAY_JOB_ID:-none}_\${SLURM_ARRAY_TASK_ID:-none}"
exec "$norv" --engine "$engine" batch -p NorvPlusHD --size 160x120 -j 1 --progress-period=0 \\
    "\${@//TASK/\$SLURM_ARRAY_TASK_ID}"
EOF
chmod +x task.sh

# The exit code of each task of an array job: "TASK:CODE" lines.
task_exits() {
    scontrol --oneliner show job "$1" |
        sed -n 's/.*ArrayTaskId=\([0-9]*\) .*ExitCode=\([0-9]*\):.*/\1:\2/p' | sort -n
}

# The inputs the reports give with a status, sorted, one a line.
inputs_with() {
    local status="$1"
    shift
    python3 - "$status" "$@" <<'EOF'
import json, sys
found = []
for path in sys.argv[2:]:
    with open(path) as report:
        found += [f["input"] for f in json.load(report)["files"] if f["status"] == sys.argv[1]]
print("\n".join(sorted(found)))
EOF
}

# The hidden files of an output folder other than norv's records: what an
# engine left unfinished.
leftovers() {
    find "$1" -mindepth 1 -maxdepth 1 -name '.*' ! -name .norv -printf '%f\n'
}

# Every clip transcoded exactly once, by the tasks' reports.
check_once() {
    local name="$1" done
    shift
    done="$(inputs_with done "$@")"
    [ "$done" = "$(printf 'clips/c%s.mp4\n' 1 2 3 4 5)" ] ||
        fail "$name: not every clip transcoded exactly once: $done"
}

clips=(clips/c1.mp4 clips/c2.mp4 clips/c3.mp4 clips/c4.mp4 clips/c5.mp4)

# --- arrays counted from 0 (--shard auto) and from 1 (--shard K/N) -------
mkdir -p out0 out1 reports0 reports1
zero="$(submit --array=0-2 --job-name=zero task.sh "${clips[@]}" -d out0 --shard auto \
    --report reports0/TASK.json)"
one="$(submit --array=1-3 --job-name=one task.sh "${clips[@]}" -d out1 --shard TASK/3 \
    --report reports1/TASK.json)"
wait_jobs "$zero" "$one"
[ "$(task_exits "$zero")" = $'0:0\n1:0\n2:0' ] || fail "0-based array: $(task_exits "$zero")"
[ "$(task_exits "$one")" = $'1:0\n2:0\n3:0' ] || fail "1-based array: $(task_exits "$one")"
check_once "0-based array" reports0/*.json
check_once "1-based array" reports1/*.json
for i in 1 2 3 4 5; do
    streams="$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "out0/c$i.mkv")"
    [[ "$streams" == *video* ]] || fail "out0/c$i.mkv is not a video"
done
echo "arrays: every clip transcoded once"

# --- a task cut in the middle of a file, then queued again ---------------
mkdir -p out2 reports2
printf '%s\n' clips/c1.mp4 clips/c2.mp4 clips/long.mp4 clips/c3.mp4 >list2.txt
cut="$(submit --array=0 --job-name=cut task.sh --from-list list2.txt -d out2 --shard auto \
    --report reports2/TASK.json)"
start=$SECONDS
# An unfinished output is hidden under a name of its own until complete:
# once c1 and c2 are there, the one being written is the long clip's.
until [ -f out2/c2.mkv ] && compgen -G "out2/.*.part" >/dev/null; do
    ((SECONDS - start < 60)) || fail "the long clip's transcode did not start"
    sleep 0.1
done
scancel "$cut"
wait_jobs "$cut"
[ -f out2/c1.mkv ] && [ -f out2/c2.mkv ] || fail "the files before the cut are missing"
[ ! -e out2/long.mkv ] && [ ! -e out2/c3.mkv ] || fail "files after the cut are there"
# The scheduler's signal reached norv and its engine alike: both cleaned up.
[ -z "$(leftovers out2)" ] || fail "the cut left partial files: $(ls -a out2)"
[ "$(inputs_with cancelled reports2/0.json)" = "clips/long.mp4" ] &&
    [ "$(inputs_with not_started reports2/0.json)" = "clips/c3.mp4" ] ||
    fail "the cut run's report: $(cat reports2/0.json)"
before="$(stat -c '%i %Y' out2/c1.mkv out2/c2.mkv)"
mv reports2/0.json reports2/cut.json

# A requeued job waits two minutes before it may start again, unless told.
scontrol requeue "$cut" || fail "the cut task could not be queued again"
scontrol update JobId="$cut" StartTime=now
wait_jobs "$cut"
[ "$(task_exits "$cut")" = "0:0" ] || fail "the re-run failed: $(task_exits "$cut")"
[ "$(inputs_with skipped reports2/0.json)" = $'clips/c1.mp4\nclips/c2.mp4' ] ||
    fail "the re-run did not skip the finished files: $(cat reports2/0.json)"
[ "$(inputs_with done reports2/0.json)" = $'clips/c3.mp4\nclips/long.mp4' ] ||
    fail "the re-run did not finish the shard: $(cat reports2/0.json)"
[ "$(stat -c '%i %Y' out2/c1.mkv out2/c2.mkv)" = "$before" ] || fail "finished files were redone"
[ -z "$(leftovers out2)" ] || fail "the re-run left partial files: $(ls -a out2)"
duration="$(ffprobe -v error -show_entries format=duration -of csv=p=0 out2/long.mkv)"
python3 -c "import sys; sys.exit(0 if abs(float("$duration") - 40) < 1 else 1)" ||
    fail "out2/long.mkv lasts $duration s"
echo "cut and re-run: finished files skipped, the shard completed, nothing partial"

# --- a list with a bad file; the merged summary feeds the next run -------
mkdir -p out3 reports3
printf '%s\n' clips/c1.mp4 clips/bad.mp4 clips/c2.mp4 clips/c3.mp4 >list3.txt
bad="$(submit --array=0-1 --job-name=bad task.sh --from-list list3.txt -d out3 --shard auto \
    --report reports3/TASK.json)"
wait_jobs "$bad"
[ "$(task_exits "$bad")" = $'0:0\n1:1' ] || fail "bad file: task exits $(task_exits "$bad")"
[ "$(inputs_with failed reports3/1.json)" = "clips/bad.mp4" ] ||
    fail "the report does not name the bad file: $(cat reports3/1.json)"
"$norv" report merge reports3/0.json reports3/1.json --rerun-list rerun.txt >summary.json
python3 - summary.json <<'EOF' || fail "summary: $(cat summary.json)"
import json, sys
summary = json.load(open(sys.argv[1]))
totals = summary["totals"]
assert (totals["files"], totals["done"], totals["failed"]) == (4, 3, 1), totals
assert summary["rerun"] == ["clips/bad.mp4"], summary["rerun"]
EOF
[ "$(cat rerun.txt)" = "clips/bad.mp4" ] || fail "the list for the next run: $(cat rerun.txt)"
status=0
./task.sh --from-list rerun.txt -d out3 --report next.json 2>/dev/null || status=$?
[ "$status" = 1 ] && [ "$(inputs_with failed next.json)" = "clips/bad.mp4" ] ||
    fail "the next run (status $status) did not take the bad file alone: $(cat next.json)"
echo "bad file: reported, and the next run's input"

# --- a task killed outright in the middle of a file ----------------------
mkdir -p out4 reports4
printf '%s\n' clips/c1.mp4 clips/long.mp4 clips/c2.mp4 clips/c3.mp4 >list4.txt
killed="$(submit --array=0-1 --job-name=killed task.sh --from-list list4.txt -d out4 \
    --shard auto --report reports4/TASK.json)"
start=$SECONDS
# Task 1 takes the long clip first: wait until its own engine holds the
# unfinished output (task 0's first clip has one of its own meanwhile), and
# until task 0 is past the leftovers' removal a batch makes as it starts.
holds_part() {
    local engine
    for engine in $(pgrep -P "$1"); do
        ls -l "/proc/$engine/fd" 2>/dev/null | grep -q '/out4/\..*\.part' && return 0
    done
    return 1
}
task=""
until [ -n "$task" ] && holds_part "$task" &&
    [ -n "$(inputs_with done reports4/0.json 2>/dev/null)" ]; do
    ((SECONDS - start < 60)) || fail "the long clip's transcode did not start"
    sleep 0.1
    task="$(cat "pids/${killed}_1" 2>/dev/null || true)"
done
# norv and its engine end with no chance to clean up or report: norv is
# held first, so that neither sees the other end (an engine whose request
# pipe closes removes its unfinished output).
kill -STOP "$task" || fail "the task to kill is gone"
kill -KILL $(pgrep -P "$task") "$task" || fail "the task to kill is gone"
wait_jobs "$killed"
[ -n "$(leftovers out4)" ] || fail "the killed engine left nothing behind to remove"
[ "$(inputs_with done reports4/0.json)" = $'clips/c1.mp4\nclips/c2.mp4' ] ||
    fail "the task beside the killed one: $(cat reports4/0.json)"
[ "$(inputs_with not_started reports4/1.json)" = $'clips/c3.mp4\nclips/long.mp4' ] ||
    fail "the killed task's report: $(cat reports4/1.json)"
"$norv" report merge reports4/*.json --rerun-list rerun4.txt >summary4.json ||
    fail "merge of the killed task's reports"
[ "$(sort rerun4.txt)" = $'clips/c3.mp4\nclips/long.mp4' ] ||
    fail "the list for the next run: $(cat rerun4.txt)"
# Without the killed task's report, the merge names the task, and with the
# list the shares were cut from, its files.
mv reports4/1.json killed.json
status=0
"$norv" report merge reports4/*.json >/dev/null 2>merge.err || status=$?
[ "$status" = 1 ] && grep -q "shard 2 of 2 wrote no report" merge.err ||
    fail "a missing report passed unnoticed (status $status): $(cat merge.err)"
"$norv" report merge reports4/*.json --from-list list4.txt --rerun-list rerun4b.txt \
    >/dev/null || fail "merge with the list"
[ "$(sort rerun4b.txt)" = $'clips/c3.mp4\nclips/long.mp4' ] ||
    fail "the list for the next run, from the list: $(cat rerun4b.txt)"
./task.sh --from-list rerun4.txt -d out4 --report next4.json 2>/dev/null ||
    fail "the run after the kill: $(cat next4.json)"
[ "$(inputs_with done next4.json)" = $'clips/c3.mp4\nclips/long.mp4' ] ||
    fail "the run after the kill did not finish the files: $(cat next4.json)"
[ -z "$(leftovers out4)" ] || fail "the killed engine's files are still there: $(ls -a out4)"
echo "killed task: its files named for the next run, and its leftovers removed"
echo "slurm_test: passed"
