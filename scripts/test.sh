#!/usr/bin/env bash
# Builds Quiltra and runs every test, after setting up a fresh Debian machine:
#   Linux x86_64, then the same suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   the concurrency tests under ThreadSanitizer, then Windows x64 and x86 (MinGW-w64 builds,
#   run under Wine).
#
#   scripts/test.sh           everything
#   scripts/test.sh --linux   the plain Linux build and its tests only (quick, for development)
#   scripts/test.sh PRESET..  just the named presets (linux, linux-asan, linux-tsan, win64, win32)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

presets=(linux linux-asan linux-tsan win64 win32)
case "${1:-}" in
    "") ;;
    --linux) presets=(linux) ;;
    *) presets=("$@") ;;
esac

scripts/setup.sh || exit 1

jobs=${QUILTRA_JOBS:-2}
export WINEDEBUG=-all
wants_windows=0
for preset in "${presets[@]}"; do [[ $preset == win* ]] && wants_windows=1; done

# A fresh Wine prefix per run and architecture, created in the background while Linux builds.
declare -A wine_prefix=([win64]="$root/build/wine/win64" [win32]="$root/build/wine/win32")
declare -A wine_boot=()
if [ $wants_windows -eq 1 ]; then
    mkdir -p build/wine
    for preset in win64 win32; do
        prefix=${wine_prefix[$preset]}
        rm -rf "$prefix"
        if [ $preset = win64 ]; then
            (WINEPREFIX=$prefix /usr/lib/wine/wine64 wineboot -i >"$prefix.log" 2>&1) &
        else
            (WINEARCH=win32 WINEPREFIX=$prefix wine wineboot -i >"$prefix.log" 2>&1) &
        fi
        wine_boot[$preset]=$!
    done
fi

passed=0
failed=0
broken=()
for preset in "${presets[@]}"; do
    echo "=== $preset: build"
    if ! { cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 || { cat "build/$preset.configure.log"; false; }; } ||
       ! cmake --build --preset "$preset" -j"$jobs"; then
        broken+=("$preset (build)")
        continue
    fi
    if [[ $preset == win* ]]; then
        wait "${wine_boot[$preset]}" || true
        export WINEPREFIX=${wine_prefix[$preset]}
        # A persistent server and Wine's own services started now, with their output going
        # nowhere: each test program then starts fast, and no service inherits (and holds
        # open) the output pipe of the first test.
        wineserver -p
        if [ "$preset" = win64 ]; then loader=/usr/lib/wine/wine64; else loader=wine; fi
        "$loader" wineboot </dev/null >/dev/null 2>&1 || true
    fi
    echo "=== $preset: test"
    log=build/$preset.ctest.log
    ctest --preset "$preset" -j"$jobs" 2>&1 | tee "$log"
    total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed.*/\1/p' "$log" | tail -1)
    if [ -z "$total" ]; then
        broken+=("$preset (no test ran)")
    else
        passed=$((passed + total - bad))
        failed=$((failed + bad))
        [ "$bad" -eq 0 ] || broken+=("$preset")
    fi
    if [[ $preset == win* ]]; then
        wineserver -k || true
        unset WINEPREFIX
    fi
done
wait

echo
if [ ${#broken[@]} -gt 0 ]; then
    echo "FAILED: ${broken[*]}"
fi
echo "total: $passed passed, $failed failed"
[ ${#broken[@]} -eq 0 ]
