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
