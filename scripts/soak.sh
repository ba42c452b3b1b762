#!/usr/bin/env bash
# The full-length soak (tests/soak/): 10^6 camera images from four driver threads into two
# scanners, with host threads, port reopens and injected faults, then the accounting of
# every image, the frame-stamp check of every final image and the resident-size check.
#
#   scripts/soak.sh                 Linux, 10^6 images (about two minutes on 2 cores)
#   scripts/soak.sh --win64         Windows x64 under Wine, 10^5 images
#   scripts/soak.sh [--win64] --images N   another length
set -euo pipefail
cd "$(dirname "$0")/.."

preset=linux
images=1000000
while [ $# -gt 0 ]; do
    case "$1" in
        --win64) preset=win64; images=100000 ;;
        --images) images=$2; shift ;;
        *) echo "usage: scripts/soak.sh [--win64] [--images N]" >&2; exit 2 ;;
    esac
    shift
done

scripts/setup.sh
mkdir -p build
echo "soak: building quiltra_soak (build/$preset)"
cmake --preset "$preset" >"build/$preset.soak-configure.log" 2>&1 ||
    { cat "build/$preset.soak-configure.log" >&2; exit 1; }
cmake --build --preset "$preset" -j"${QUILTRA_JOBS:-2}" --target quiltra_soak \
    >"build/$preset.soak-build.log" 2>&1 || { tail -n 40 "build/$preset.soak-build.log" >&2; exit 1; }

echo "soak: $images images on $preset; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$preset" = win64 ]; then
    export WINEDEBUG=-all
    export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine/prefix}
    exec nice -n 10 /usr/lib/wine/wine64 "build/$preset/bin/quiltra_soak.exe" --images "$images"
fi
exec nice -n 10 "build/$preset/bin/quiltra_soak" --images "$images"
