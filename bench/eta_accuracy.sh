#!/usr/bin/env bash
# Times a user can plan by: for one profile of each family, one pass and
# two, on clips with real detail (moving, noisy pictures and noisy sound),
#  - the preview's measured estimate against the time the transcode took:
#    with --measure and no history (goal: within 35 %), and from the rate
#    file after one earlier transcode of another clip (goal: within 25 %);
#  - the remaining time shown during the run at 25, 50 and 75 % against the
#    time that actually remained (goal: within 15 % at 50 and 75 %);
# and a batch of six files of different lengths: its overall remaining time
# at one third done against what remained (goal: within 20 %).
# The library's own figure (GetEstimatedTime) is shown beside for reference.
# Each case starts from an empty rate file of its own. Prints the table;
# exits 1 when a goal is missed.
#
# usage: bench/eta_accuracy.sh [--quick] [BUILD_DIR]   (default build/bench)
#   --quick: two profiles and 10 s clips instead of four and 20 s.
#   ETA_PROFILES, ETA_SECONDS and ETA_SIZE (WxH, default 1920x1080) override.
# The clips are full HD: the engine tells the remaining time in whole
# seconds, and on smaller pictures the last quarter of a fast encoder's run
# lasts two or three seconds, where the rounding alone is a fifth of it.
set -euo pipefail
quick=0
if [ "${1:-}" = "--quick" ]; then
    quick=1
    shift
fi
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh
if [ "$quick" = 1 ]; then
    profiles="${ETA_PROFILES:-NP_NorvPlusHD NP_HD720}"
    seconds="${ETA_SECONDS:-10}"
else
    profiles="${ETA_PROFILES:-NP_HD720 NP_NorvPlusHD NP_iPadMP4H264 NP_HEVC720}"
    seconds="${ETA_SECONDS:-20}"
fi
size="${ETA_SIZE:-1920x1080}"
caches="$(mktemp -d "$work/eta-cache.XXXXXX")"
trap 'rm -rf "$caches"' EXIT

# A clip with real detail; seed makes a different picture and sound.
clip() {
    local name="$1" length="$2" seed="$3"
    local file="$work/eta-$name-$size-${length}s.mkv"
    if [ ! -f "$file" ]; then
        ffmpeg -nostdin -loglevel error -y \
            -f lavfi -i "testsrc2=size=$size:rate=25:duration=$length" \
            -f lavfi -i "anoisesrc=color=pink:amplitude=0.3:seed=$seed:sample_rate=48000:duration=$length" \
            -vf "hue=h=$((seed * 37 % 360)),noise=alls=16:allf=t:all_seed=$seed" \
            -c:v libx264 -preset veryfast -crf 16 -c:a pcm_s16le -shortest "$file"
    fi
    echo "$file"
}

# Runs norv with the rate file under $XDG_CACHE_HOME; the rest as given.
norv_in() {
    local cache="$1"
    shift
    XDG_CACHE_HOME="$cache" "$norv" --engine "$engine" "$@"
}
json_number() { sed -n "s/.*\"$1\":\\([0-9.e+-]*\\).*/\\1/p" | head -n 1; }

# Runs a command that prints JSON lines, prefixing each with the seconds since
# the start; the last line is "END <seconds>".
timed() {
    local start line
    start="$EPOCHREALTIME"
    "$@" 2>/dev/null | while IFS= read -r line; do
        echo "$(awk "BEGIN{print $EPOCHREALTIME - $start}") $line"
    done
    echo "END $(awk "BEGIN{print $EPOCHREALTIME - $start}")"
}

# The error of an estimate against the truth, in percent, and its mark.
verdict() {
    local estimate="$1" actual="$2" goal="$3"
    if [ -z "$estimate" ] || [ "$estimate" = null ]; then
        echo "- -"
        return
    fi
    awk -v e="$estimate" -v a="$actual" -v g="$goal" 'BEGIN{
        err = a > 0 ? 100 * (e - a) / a : 0
        mark = (g == "" || (err <= g && err >= -g)) ? "ok" : "MISS"
        printf "%+.0f%% %s\n", err, mark }'
}

fail=0
seconds_text() { awk -v s="$1" 'BEGIN{ if (s == "" || s == "null") print "-"; else printf "%.1f", s }'; }
row() {
    printf '%-15s %-5s %-22s %9s %9s %7s %-4s %s\n' "$1" "$2" "$3" "$(seconds_text "$4")" \
        "$(seconds_text "$5")" "$6" "$7" "${8:-}"
    [ "$7" != MISS ] || fail=1
}
printf '%-15s %-5s %-22s %9s %9s %7s %-4s %s\n' profile pass check estimate actual error "" goal
other="$(clip other "$seconds" 7)"
main="$(clip main "$seconds" 3)"
for profile in $profiles; do
    for passes in one-pass two-pass; do
        cache="$caches/$profile-$passes"
        mkdir -p "$cache"
        p="${passes%%-*}"
        measured="$(norv_in "$cache" --json preview --measure -p "$profile" "--$passes" "$main" |
            json_number measured_seconds)"
        # One earlier run of another clip fills the rate file.
        norv_in "$cache" transcode -a 0 -y -o "$work/eta-other.out" -p "$profile" "--$passes" \
            "$other" >/dev/null 2>&1
        preview="$(norv_in "$cache" --json preview -p "$profile" "--$passes" "$main")"
        history="$(json_number measured_seconds <<<"$preview")"
        library="$(json_number estimated_seconds <<<"$preview")"
        run="$(timed norv_in "$cache" --json transcode -a 0 -y -o "$work/eta-main.out" \
            -p "$profile" "--$passes" "$main")"
        total="$(awk '$1 == "END" {print $2}' <<<"$run")"
        row "$profile" "$p" "library's figure" "$library" "$total" \
            $(verdict "$library" "$total" "")
        row "$profile" "$p" "--measure, no history" "$measured" "$total" \
            $(verdict "$measured" "$total" 35) "35%"
        row "$profile" "$p" "after another clip" "$history" "$total" \
            $(verdict "$history" "$total" 25) "25%"
        for at in 25 50 75; do
            # The first progress event at or past the mark: its remaining
            # time against what remained until norv ended.
            read -r t shown < <(awk -v at="$at" '$1 != "END" && /"event":"progress"/ {
                    if (match($0, /"percent":[0-9.]+/)) {
                        pc = substr($0, RSTART + 10, RLENGTH - 10) + 0
                        if (pc >= at && match($0, /"remaining":[0-9.]+/)) {
                            print $1, substr($0, RSTART + 12, RLENGTH - 12); exit
                        }
                    }
                }' <<<"$run") || true
            goal=15
            [ "$at" != 25 ] || goal=""
            left="$(awk -v a="$total" -v t="${t:-0}" 'BEGIN{printf "%.1f", a - t}')"
            row "$profile" "$p" "ETA at $at %" "${shown:-}" "$left" \
                $(verdict "${shown:-}" "$left" "$goal") "${goal:+$goal%}"
        done
    done
done

# A batch of six files of three lengths, one after another's rates known.
profile="${profiles%% *}"
cache="$caches/batch"
mkdir -p "$cache"
norv_in "$cache" transcode -a 0 -y -o "$work/eta-other.out" -p "$profile" "$other" \
    >/dev/null 2>&1
files=()
for i in 1 2 3 4 5 6; do
    files+=("$(clip "batch$i" $((seconds * (i % 3 + 1) / 2)) $((10 + i)))")
done
rm -rf "$work/eta-batch"
run="$(timed norv_in "$cache" --json batch -y -d "$work/eta-batch" -p "$profile" "${files[@]}")"
total="$(awk '$1 == "END" {print $2}' <<<"$run")"
read -r t shown < <(awk '$1 != "END" && match($0, /"overall_percent":[0-9.]+/) {
        pc = substr($0, RSTART + 18, RLENGTH - 18) + 0
        if (pc >= 100 / 3 && match($0, /"overall_remaining":[0-9.]+/)) {
            print $1, substr($0, RSTART + 20, RLENGTH - 20); exit
        }
    }' <<<"$run") || true
left="$(awk -v a="$total" -v t="${t:-0}" 'BEGIN{printf "%.1f", a - t}')"
row "$profile" batch "6 files, ETA at 1/3" "${shown:-}" "$left" \
    $(verdict "${shown:-}" "$left" 20) "20%"
exit "$fail"
