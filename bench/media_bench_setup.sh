# Sourced by the media benchmark scripts: the build they use (BUILD_DIR, the
# first argument, default build/bench), its norv and NorvEngine, and a
# folder for the media they make ($work). Run from the repository's root.
build="${1:-build/bench}"
norv="$build/tools/norv"
engine="$build/engine/NorvEngine"
if [ ! -x "$norv" ] || [ ! -x "$engine" ]; then
    echo "build norv and NorvEngine in $build first (scripts/run-bench does)" >&2
    exit 2
fi
work="$build/bench-media"
mkdir -p "$work"

# The encode NorvEngine does for NP_NorvPlusHD, by the ffmpeg program: x264
# at the engine's preset (medium), its bitrate with 1.5x peak over a 2 s
# buffer, a keyframe at least every 10 s, the picture and the frame rate.
# usage: ffmpeg_as_engine IN OUT WIDTH HEIGHT FPS VIDEO_KBPS AUDIO_KBPS
ffmpeg_as_engine() {
    local video_bps=$(($6 * 1024))
    ffmpeg -nostdin -y -i "$1" -map 0:v:0 -map 0:a:0 \
        -vf "fps=$5,scale=$3:$4:flags=bicubic,setsar=1,format=yuv420p" \
        -c:v libx264 -preset medium -b:v "$video_bps" -maxrate $((video_bps * 3 / 2)) \
        -bufsize $((video_bps * 2)) -g $(($5 * 10)) \
        -c:a aac -b:a "$7k" -f matroska "$2"
}
