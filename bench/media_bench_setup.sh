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
