#!/usr/bin/env bash
# The probe's cost on a title of a minute or more: one norv transcode
# --quality with an empty probe cache, its probe's seconds against the rest
# of the run (the encode itself). The title is the moving test card under
# light grain, TITLE_SECONDS (60) long at PICTURE (1920x1080).
#
# usage: bench/quality_probe_cost.sh [BUILD_DIR]   (default build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh

seconds="${TITLE_SECONDS:-60}"
picture="${PICTURE:-1920x1080}"
dir="$work/probe-cost-$picture-${seconds}s"
mkdir -p "$dir"
export XDG_CACHE_HOME="$dir/cache"
rm -rf "$XDG_CACHE_HOME"
clip="$dir/title.mp4"
[ -f "$clip" ] || ffmpeg -nostdin -loglevel error -y -f lavfi \
    -i "testsrc2=size=$picture:rate=25" -t "$seconds" -vf "noise=alls=4:allf=t,format=yuv420p" \
    -c:v libx264 -preset veryfast -crf 12 "$clip"
start="$(date +%s.%N)"
nice "$norv" --engine "$engine" --json transcode -p NP_NorvPlusHD -y --quality standard \
    "$clip" -o "$dir/out.mkv" >"$dir/run.json" 2>/dev/null
end="$(date +%s.%N)"
python3 - "$dir/run.json" "$start" "$end" "$dir/out.mkv" "$seconds" <<'PY'
import json, os, sys
plan = [json.loads(l) for l in open(sys.argv[1]) if '"quality_plan"' in l][-1]
total = float(sys.argv[3]) - float(sys.argv[2])
probe = plan["probe_seconds"]
size = os.path.getsize(sys.argv[4])
print("title %.0f s: probe %.1f s (%d samples, %.1f s of them, %d at cuts, %d bitrates), "
      "encode %.1f s: probe share %.1f %% of the encode's time (goal: at most 15 %%)" % (
          float(sys.argv[5]), probe,
          plan["samples"], plan["sample_seconds"], plan["samples_at_cuts"],
          len(plan["probe_points"]), total - probe, 100 * probe / (total - probe)))
print("size predicted %d, made %d (%+.1f %%)" % (
    plan["predicted_size"], size, 100.0 * (plan["predicted_size"] - size) / size))
PY
