#!/usr/bin/env bash
# Runs generated private-profile cases through our own implementation (linux preset) and,
# under Wine, through the Windows functions (win64 preset), then compares the transcripts:
# every difference must be a documented one. Prints the report; exits non-zero on any other
# difference or failure.
#
#   scripts/profile-agreement.sh [--cases N] [--seed S] [--examples N]
#
# --examples: how many unexplained cases the report shows (default 5).
#
# Builds only the profile_agreement program of both presets. Uses the Wine prefix of
# scripts/test.sh (build/wine/prefix) when there is one, and makes it otherwise.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cases=2000
seed=1
examples=5
while [ $# -gt 0 ]; do
    case "$1" in
        --cases) cases=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --examples) examples=$2; shift 2 ;;
        *) echo "usage: $0 [--cases N] [--seed S] [--examples N]" >&2; exit 2 ;;
    esac
done

jobs=${QUILTRA_JOBS:-2}
for preset in linux win64; do
    if ! { cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 || { cat "build/$preset.configure.log"; false; }; } ||
       ! cmake --build --preset "$preset" -j"$jobs" --target profile_agreement >"build/$preset.agreement-build.log" 2>&1; then
        tail -30 "build/$preset.agreement-build.log" >&2
        echo "profile agreement: the $preset build failed" >&2
        exit 2
    fi
done

export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$root/build/wine/prefix}
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 480 /usr/lib/wine/wine64 wineboot -i >"$WINEPREFIX.log" 2>&1 && wineserver -w ||
        { echo "profile agreement: creating the Wine prefix failed, see $WINEPREFIX.log" >&2; exit 2; }
fi

out=build/profile-agreement
mkdir -p "$out"
run=(run --seed "$seed" --cases "$cases")
build/linux/bin/profile_agreement "${run[@]}" >"$out/linux.txt" &
ours=$!
/usr/lib/wine/wine64 build/win64/bin/profile_agreement.exe "${run[@]}" >"$out/win64.txt" </dev/null
windows=$?
wait $ours
linux=$?
if [ $linux -ne 0 ] || [ $windows -ne 0 ]; then
    echo "profile agreement: a run failed (linux $linux, win64 $windows)" >&2
    exit 2
fi
echo "profile agreement with Windows: seed $seed"
build/linux/bin/profile_agreement compare "$out/linux.txt" "$out/win64.txt" --examples "$examples"
