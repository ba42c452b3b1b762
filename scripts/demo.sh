#!/usr/bin/env bash
# The main job in one command. On a fresh Debian machine it installs what the build needs,
# builds Quiltra, the simulated camera driver (simcam) and the quiltra-grab host tool,
# prepares a system folder whose Quiltra.ini names simcam as the camera driver, grabs a few
# images of three simulated cameras through Quiltra, and then lets Quiltra's Scanner0001
# join the three cameras side by side, four scans deep, into final images. Every image is
# checked by its frame stamps and saved as a PNG file under out/demo/.
# Then the calibrated story under out/demo/calibrated/: three cameras mounted with visible
# errors (rotated, shifted, scaled, tilted, with lens distortion) look at a flat scene;
# quiltra-calibrate fits their models to simcam's checkerboard target grabbed through
# Quiltra's camera ports and writes the calibration files and Scanner0001's sections; the
# final image of the scene is then straight and seamless, checked against the scene itself
# rendered at the final pitch. Three pictures of it are saved: the raw camera images, the
# final image without calibration and the one with it.
# Last the flat-field story under out/demo/flatfield/: the three cameras of the first part,
# each with its own vignetting, gain and dark offset; quiltra-calibrate flatfield makes each
# camera's dark and flat references from images of a covered lens and of a uniform field
# grabbed through Quiltra, and the prefilter plug-in corrects every camera image with them:
# the final image's segments are then of one brightness (checked), where before they differed.
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

echo "demo: building Quiltra, simcam, the plug-ins and the tools (build/demo)"
mkdir -p build
cmake --preset demo >build/demo-configure.log 2>&1 || { cat build/demo-configure.log >&2; exit 1; }
cmake --build --preset demo -j"${QUILTRA_JOBS:-2}" --target quiltra simcam quiltra-grab resampler_plugin prefilter_plugin quiltra-calibrate quiltra-stitch-check quiltra-config >build/demo-build.log 2>&1 ||
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

# The configuration as Quiltra reads it: any problem stops the demo; the final image's
# layout is drawn into out/demo/layout.png.
echo "demo: checking Quiltra.ini (quiltra-config check)"
"$bin/quiltra-config" check "$system" --picture "$demo/layout.png" | sed 's/^/  /'

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

# The calibrated rig: three 640 x 480 cameras, nominally 0.1 mm per pixel and 60 mm apart
# along y (4 mm of overlap), each mounted with its own errors (degrees, pixels, factors).
cal=$demo/calibrated
rm -rf "$cal"
mkdir -p "$cal/system"
mounting=(
    "Rotation=1.5 ShiftColumns=4 ShiftRows=-3 Scale=0.02 TiltColumns=0.02 TiltRows=0 K1=-0.05 K2=0.01"
    "Rotation=-1 ShiftColumns=-5 ShiftRows=2 Scale=-0.01 TiltColumns=0 TiltRows=0.015 K1=0.04 K2=0"
    "Rotation=2 ShiftColumns=0 ShiftRows=5 Scale=0 TiltColumns=-0.02 TiltRows=0 K1=-0.03 K2=-0.01"
)
# simcam.ini for the rig: SCENE is "target" or the scene's PNG file.
rig() {
    echo "[Simcam]"
    echo "Cameras=3"
    echo "TargetSquare=2"
    echo "TargetRows=30"
    echo "TargetColumns=100"
    for n in 1 2 3; do
        echo "[Camera$n]"
        echo "Name=SimCam$n"
        printf '%s\n' Width=640 Height=480 ExposureDelay=20 Stamp=0 ScrollRows=0 \
            "Scene=$1" ScenePitch=0.1 WorldX=6 "WorldY=$((4 + (n - 1) * 60))" WorldPitch=0.1 \
            ${mounting[$((n - 1))]}
    done
}
# Quiltra.ini: Scanner0001 over the three cameras, one scan per final image, bilinear
# resampling; quiltra-calibrate adds the fields of the calibrated set-up. Further lines of
# the scanner's section and of each camera's section may follow as arguments 1 and 2.
scanner() {
    cat <<INI
[Config]
CameraDriver=$bin/libsimcam.so
Verbose=0
[Scanner0001]
Cameras=3
Scans=1
Overlap=0
ActiveGrabTimeout=2000
MinScans=0
PassThru=-
Threaded=1
${1:-}
INI
    for n in 1 2 3; do
        printf '[Scanner0001.Camera%d]\nPort=%d\nResampleMode=1\n%s\n' "$n" "$((n - 1))" "${2:-}"
    done
}
grab_final() {  # SYSTEM OUT
    "$bin/quiltra-grab" --library "$bin/libquiltra.so" --system-dir "$1" --camera SimCam1@0 \
        --camera SimCam2@1 --camera SimCam3@2 --scanner Scanner0001@3 --count 1 --out "$2" --quiet
}
"$bin/quiltra-stitch-check" scene --out "$cal/system/scene.png" --columns 2000 --rows 600

echo "demo: calibrating the three mounted cameras from simcam's checkerboard target"
rig target >"$cal/system/simcam.ini"
scanner >"$cal/system/Quiltra.ini"
"$bin/quiltra-calibrate" --library "$bin/libquiltra.so" --system-dir "$cal/system" \
    --grab SimCam1@0 --grab SimCam2@1 --grab SimCam3@2 --grab-dir "$cal/target" \
    --square 2 --rows 30 --columns 100 --view 6,4,0.1 --view 6,64,0.1 --view 6,124,0.1 |
    grep -E '^(camera [0-9]+ \(|wrote )' | sed 's/^/  /'

echo "demo: the cameras look at the scene again; raw images and final images"
rig scene.png >"$cal/system/simcam.ini"
"$bin/quiltra-grab" --library "$bin/libquiltra.so" --system-dir "$cal/system" \
    --camera SimCam1@0 --camera SimCam2@1 --camera SimCam3@2 --count 1 --out "$cal/raw" --quiet
grab_final "$cal/system" "$cal/calibrated"
# Without calibration each field is its camera's image cut to the nominal 600 columns that
# do not overlap, in camera pixels.
mkdir -p "$cal/uncalibrated-system"
rig scene.png >"$cal/uncalibrated-system/simcam.ini"
cp "$cal/system/scene.png" "$cal/uncalibrated-system/"
scanner $'TopLeft_x=0\nTopLeft_y=0\nSize_x=480\nSize_y=1800\nPitch_x=1\nPitch_y=1' \
    $'TopLeft_x=0\nTopLeft_y=20\nSize_x=480\nSize_y=600' >"$cal/uncalibrated-system/Quiltra.ini"
grab_final "$cal/uncalibrated-system" "$cal/uncalibrated"

echo "demo: the calibrated final image against the scene at the final pitch"
"$bin/quiltra-stitch-check" check --final "$cal/calibrated/Scanner0001_port3_0000.png" \
    --scene "$cal/system/scene.png" --scene-pitch 0.1 --system-dir "$cal/system" | sed 's/^/  /'
"$bin/quiltra-stitch-check" join --shrink 3 --gap 12 --out "$cal/raw-cameras.png" \
    "$cal"/raw/SimCam{1_port0,2_port1,3_port2}_0000.png
"$bin/quiltra-stitch-check" join --shrink 3 --out "$cal/final-uncalibrated.png" \
    "$cal/uncalibrated/Scanner0001_port3_0000.png"
"$bin/quiltra-stitch-check" join --shrink 3 --out "$cal/final-calibrated.png" \
    "$cal/calibrated/Scanner0001_port3_0000.png"
echo "demo: the calibrated story's pictures are in $cal:"
ls -1 "$cal"/*.png | sed 's/^/  /'

# The flat-field rig: the first part's three cameras and Scanner0001, each camera with its own
# shading (simcam's Gain, Vignetting, DarkOffset), no frame stamp.
ff=$demo/flatfield
rm -rf "$ff"
mkdir -p "$ff/system"
shading=(
    "Gain=0 Vignetting=0.35 DarkOffset=8"
    "Gain=0.15 Vignetting=0.2 DarkOffset=20"
    "Gain=-0.1 Vignetting=0.5 DarkOffset=4"
)
shaded() {  # SCENE: simcam.ini of the shaded cameras looking at SCENE
    echo "[Simcam]"
    echo "Cameras=3"
    for n in 1 2 3; do
        echo "[Camera$n]"
        printf '%s\n' "Name=SimCam$n" Width=640 Height=480 PixelSize=8 ExposureDelay=20 \
            "Scene=$1" "SceneX=$(((n - 1) * 640))" ScrollRows=480 Stamp=0 ${shading[$((n - 1))]}
    done
}
grab_cameras() {  # OUT: four images of each camera
    "$bin/quiltra-grab" --library "$bin/libquiltra.so" --system-dir "$ff/system" \
        --camera SimCam1@0 --camera SimCam2@1 --camera SimCam3@2 --count 4 --out "$1" --quiet
}
segments() {  # FINAL [--max-spread GREY]
    "$bin/quiltra-stitch-check" segments --final "$1" --bands 4 --cameras 3 "${@:2}" |
        sed 's/^/    /'
}
cp "$system/Quiltra.ini" "$ff/system/Quiltra.ini"

echo "demo: flat field: the final image of three cameras with their own vignetting, gain and dark offset"
shaded pattern >"$ff/system/simcam.ini"
grab_final "$ff/system" "$ff/before"

echo "demo: flat field: references of each camera from 4 images of a covered lens and 4 of a uniform field"
shaded dark >"$ff/system/simcam.ini"
grab_cameras "$ff/dark"
shaded uniform >"$ff/system/simcam.ini"
grab_cameras "$ff/flat"
for n in 1 2 3; do
    image=SimCam${n}_port$((n - 1))
    "$bin/quiltra-calibrate" flatfield --dark "$ff/dark/${image}"_000{0,1,2,3}.png \
        --flat "$ff/flat/${image}"_000{0,1,2,3}.png --out "$ff/system" \
        --system-dir "$ff/system" --camera "$n" --flat-level 200 | sed "s/^/  camera $n: /"
done

echo "demo: flat field: the final image again, each camera image through its prefilter"
shaded pattern >"$ff/system/simcam.ini"
grab_final "$ff/system" "$ff/after"
echo "demo: mean grey of the final image's segments (per band: camera 1, 2, 3)"
echo "  before the flat-field correction:"
segments "$ff/before/Scanner0001_port3_0000.png"
echo "  after it:"
segments "$ff/after/Scanner0001_port3_0000.png" --max-spread 1
"$bin/quiltra-stitch-check" join --shrink 4 --gap 16 --out "$ff/final-flatfield.png" \
    "$ff"/{before,after}/Scanner0001_port3_0000.png
echo "demo: the flat-field picture (before, after) is $ff/final-flatfield.png"
