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
# Absolute: the scripts point XDG_CACHE_HOME into it, which must be.
work="$(realpath -m "$build")/bench-media"
mkdir -p "$work"

# Peak resident memory (KiB) of a process, while it runs.
hwm() { awk '/^VmHWM/ {print $2}' "/proc/$1/status" 2>/dev/null || true; }

# One run of a command: "seconds KiB", the wall time and the peak memory of
# the command's process plus that of its largest child (the engine, for
# norv; ffmpeg has none), both read while they run.
measure() {
    local start own=0 child=0 v pid
    start="$(date +%s.%N)"
    "$@" >/dev/null 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        v="$(hwm "$pid")"
        [ -n "$v" ] && [ "$v" -gt "$own" ] && own="$v"
        for c in $(pgrep -P "$pid" || true); do
            v="$(hwm "$c")"
            [ -n "$v" ] && [ "$v" -gt "$child" ] && child="$v"
        done
        sleep 0.1
    done
    wait "$pid"
    echo "$(awk "BEGIN{print $(date +%s.%N) - $start}") $((own + child))"
}
# The median of RUNS figures, and column C of "a b c" run lines.
median() { printf '%s\n' "$@" | sort -g | sed -n "$(((runs + 1) / 2))p"; }
column() { local c="$1"; shift; for r in "$@"; do cut -d' ' -f"$c" <<<"$r"; done; }
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

# HandBrakeCLI, Debian's handbrake-cli, installed on first use: the peers
# and quality benchmarks compare with it (never the tests).
need_handbrake() {
    command -v HandBrakeCLI >/dev/null && return 0
    echo "installing handbrake-cli" >&2
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    "$(dirname "${BASH_SOURCE[0]}")/../scripts/apt-update"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        handbrake-cli >/dev/null
}

# A clip a Debian package ships (real footage for the quality bench): the
# package is fetched with apt-get download and unpacked into $work/debs,
# never installed. Prints the clip's path.
# usage: debian_clip PACKAGE PATH_IN_PACKAGE
debian_clip() {
    local debs="$work/debs" unpacked="$work/debs/$1"
    if [ ! -f "$unpacked/$2" ]; then
        mkdir -p "$debs"
        if ! (cd "$debs" && rm -f "$1"_*.deb && apt-get download -q "$1" >/dev/null 2>&1); then
            echo "cannot fetch Debian's $1" >&2
            return 1
        fi
        dpkg-deb -x "$debs/$1"_*.deb "$unpacked"
    fi
    echo "$unpacked/$2"
}
