#!/usr/bin/env bash
# Keeping the preview's word: for one profile of each family, the size of
# the output against the size GetOutputProperties estimated, on clips with
# real detail (moving, noisy pictures and noisy sound); and, with a size
# limit that has priority, the output against the limit (never above it,
# at least 90 % of it). Prints the table.
#
# usage: bench/preview_accuracy.sh [BUILD_DIR]   (default build/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/media_bench_setup.sh
source bench/media_bench_setup.sh
seconds="${ACCURACY_SECONDS:-20}"
clip="$work/detail-720p-${seconds}s.mkv"
if [ ! -f "$clip" ]; then
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=$seconds" \
        -f lavfi -i "anoisesrc=color=pink:amplitude=0.3:sample_rate=48000:duration=$seconds" \
        -vf noise=alls=16:allf=t -c:v libx264 -preset veryfast -crf 16 \
        -c:a pcm_s16le -shortest "$clip"
fi

estimate() {
    "$norv" --engine "$engine" --json preview "$@" "$clip" |
        sed -n 's/.*"estimated_size":\([0-9]*\).*/\1/p'
}
transcode() {
    local out="$1"
    shift
    "$norv" --engine "$engine" transcode -a 0 -y -o "$out" "$@" "$clip" >/dev/null 2>&1
    stat -c %s "$out"
}

printf '%-18s %-6s %-10s %12s %12s %8s\n' profile passes check target output ratio
fail=0
for profile in NP_HD720 NP_NorvPlusHD NP_iPadMP4H264 NP_HEVC720; do
    for passes in one-pass two-pass; do
        est="$(estimate -p "$profile" "--$passes")"
        out="$(transcode "$work/acc-$profile-$passes" -p "$profile" "--$passes")"
        ratio="$(awk "BEGIN{printf \"%.3f\", $out/$est}")"
        ok="$(awk "BEGIN{print ($out >= 0.9*$est && $out <= 1.1*$est) ? \"\" : \"  <- off\"}")"
        [ -z "$ok" ] || fail=1
        printf '%-18s %-6s %-10s %12s %12s %8s%s\n' "$profile" "${passes%%-*}" estimate \
            "$est" "$out" "$ratio" "$ok"
    done
    # A limit well below the estimate, with priority: the output fills it.
    limit="$(awk "BEGIN{printf \"%d\", $(estimate -p "$profile") * 0.6}")"
    out="$(transcode "$work/acc-$profile-limit" -p "$profile" --size-limit "$limit" \
        --priority size)"
    ratio="$(awk "BEGIN{printf \"%.3f\", $out/$limit}")"
    ok="$(awk "BEGIN{print ($out <= $limit && $out >= 0.9*$limit) ? \"\" : \"  <- off\"}")"
    [ -z "$ok" ] || fail=1
    printf '%-18s %-6s %-10s %12s %12s %8s%s\n' "$profile" two limit "$limit" "$out" "$ratio" "$ok"
done
exit "$fail"
