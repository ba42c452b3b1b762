#!/usr/bin/env bash
# The main job in one command. On a fresh Debian machine it installs what the build needs,
# builds Quiltra, the simulated camera driver (simcam) and the quiltra-grab host tool,
# prepares a system folder whose Quiltra.ini names simcam as the camera driver, grabs a few
# images of three simulated cameras through Quiltra, and then lets Quiltra's Scanner0001
# join the three cameras side by side, four scans deep, into final images. Every image is
# checked by its frame stamps and saved as a PNG file under out/demo/.
# Safe to run again: it rebuilds what changed and replaces the images of the last run.
#
#   scripts/demo.sh [COUNT]     COUNT images per camera and COUNT final images (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
count=${1:-3}
if ! [[ $count =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/demo.sh [COUNT]   (COUNT: images per camera, a number from 1)" >&2
    exit 2
fi

if [ -f scripts/setup.sh ]; then
    bash scripts/setup.sh --demo
fi

echo "demo: building Quiltra, simcam and quiltra-grab (build/demo)"
mkdir -p build
cmake --preset demo >build/demo-configure.log 2>&1 || { cat build/demo-configure.log >&2; exit 1; }
cmake --build --preset demo -j"${QUILTRA_JOBS:-2}" --target quiltra simcam quiltra-grab >build/demo-build.log 2>&1 ||
    { tail -n 40 build/demo-build.log >&2; exit 1; }

bin=$root/build/demo/bin
demo=$root/out/demo
system=$demo/system
mkdir -p "$system"
rm -f "$demo"/*.png

# Quiltra's configuration: the simulated driver as the underlying camera driver, and
# Scanner0001 over the cameras on ports 0, 1 and 2. Each camera's field is its whole image
# at pitch 1 (x runs down the rows, y along the columns: 480 rows, 3 x 640 columns), so
# every image is placed unchanged; four scans make a final image of 1920 x 1920 pixels.
cat >"$system/Quiltra.ini" <<INI
[Config]
CameraDriver=$bin/libsimcam.so
Verbose=0
[Scanner0001]
Cameras=3
Scans=4
Overlap=0
ActiveGrabTimeout=2000
MinScans=0
TopLeft_x=0
TopLeft_y=0
Size_x=480
Size_y=1920
Pitch_x=1
Pitch_y=1
PassThru=-
Threaded=1
[Scanner0001.Camera1]
Port=0
[Scanner0001.Camera2]
Port=1
[Scanner0001.Camera3]
Port=2
INI

# Three grey cameras side by side over one test-pattern conveyor that moves on by one image
# height per exposure, so that consecutive scans join into one continuous picture.
{
    echo "[Simcam]"
    echo "Cameras=3"
    for n in 1 2 3; do
        cat <<INI
[Camera$n]
Name=SimCam$n
Width=640
Height=480
PixelSize=8
ExposureDelay=20
Scene=pattern
SceneX=$(((n - 1) * 640))
ScrollRows=480
INI
    done
} >"$system/simcam.ini"

echo "demo: grabbing $count images of each simulated camera through Quiltra"
"$bin/quiltra-grab" --library "$bin/libquiltra.so" --system-dir "$system" \
    --count "$count" --out "$demo" --verify --quiet

echo "demo: grabbing $count final images of Scanner0001 (3 cameras side by side, 4 scans each)"
if ! "$bin/quiltra-grab" --library "$bin/libquiltra.so" --system-dir "$system" \
    --camera SimCam1@0 --camera SimCam2@1 --camera SimCam3@2 --scanner Scanner0001@3 \
    --count "$count" --out "$demo" --verify --quiet; then
    echo "demo: Scanner0001 did not deliver $count verified final images (see the errors above)" >&2
    exit 1
fi

echo "demo: the images are in $demo:"
ls -1 "$demo"/*.png | sed 's/^/  /'
