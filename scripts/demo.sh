#!/usr/bin/env bash
# The main job in one command. On a fresh Debian machine it installs what the build needs,
# builds Quiltra, the simulated camera driver (simcam) and the quiltra-grab host tool,
# prepares a system folder whose Quiltra.ini names simcam as the camera driver, and grabs a
# few images of three simulated cameras through Quiltra into PNG files under out/demo/.
# Safe to run again: it rebuilds what changed and replaces the images of the last run.
#
#   scripts/demo.sh [COUNT]     COUNT images per camera (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
count=${1:-3}

if [ -f scripts/setup.sh ]; then
    bash scripts/setup.sh
fi

echo "demo: building Quiltra, simcam and quiltra-grab (build/linux)"
mkdir -p build
cmake --preset linux >build/demo-configure.log 2>&1 || { cat build/demo-configure.log >&2; exit 1; }
cmake --build --preset linux -j"${QUILTRA_JOBS:-2}" --target quiltra simcam quiltra-grab >build/demo-build.log 2>&1 ||
    { tail -n 40 build/demo-build.log >&2; exit 1; }

bin=$root/build/linux/bin
demo=$root/out/demo
system=$demo/system
mkdir -p "$system"
rm -f "$demo"/*.png

# Quiltra's configuration: the simulated driver as the underlying camera driver.
cat >"$system/Quiltra.ini" <<INI
[Config]
CameraDriver=$bin/libsimcam.so
Verbose=0
INI

# Three simulated cameras side by side over one test-pattern conveyor; the third in colour.
cat >"$system/simcam.ini" <<INI
[Simcam]
Cameras=3
[Camera1]
Name=SimCam1
Width=640
Height=480
PixelSize=8
ExposureDelay=20
Scene=pattern
SceneX=0
ScrollRows=32
[Camera2]
Name=SimCam2
Width=640
Height=480
PixelSize=8
ExposureDelay=20
Scene=pattern
SceneX=640
ScrollRows=32
[Camera3]
Name=SimCam3
Width=640
Height=480
PixelSize=24
ExposureDelay=20
Scene=pattern
SceneX=1280
ScrollRows=32
INI

echo "demo: grabbing $count images of each simulated camera through Quiltra"
"$bin/quiltra-grab" --library "$bin/libquiltra.so" --system-dir "$system" \
    --count "$count" --out "$demo" --verify --quiet

echo "demo: the images are in $demo:"
ls -1 "$demo"/*.png | sed 's/^/  /'
