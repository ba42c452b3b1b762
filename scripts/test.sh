#!/usr/bin/env bash
# Builds Quiltra and runs every test, after setting up a fresh Debian machine:
#   Linux x86_64, then the same suite under AddressSanitizer + UndefinedBehaviorSanitizer,
#   each fuzz target for a short bounded time (linux-fuzz; scripts/fuzz.sh runs them long),
#   the concurrency tests under ThreadSanitizer, then Windows x64 and x86 (MinGW-w64 builds,
#   run under Wine).
#
#   scripts/test.sh           everything
#   scripts/test.sh --linux   the plain Linux build and its tests only (quick, for development)
#   scripts/test.sh PRESET..  just the named presets (linux, linux-asan, linux-fuzz, linux-tsan,
#                             win64, win32)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

presets=(linux linux-asan linux-fuzz linux-tsan win64 win32)
case "${1:-}" in
    "") ;;
    --linux) presets=(linux) ;;
    *) presets=("$@") ;;
esac

scripts/setup.sh || exit 1

jobs=${QUILTRA_JOBS:-2}
export WINEDEBUG=-all

# One fresh Wine prefix per run serves both Windows presets (a 64-bit prefix runs 32-bit
# programs too); it is created in the background while Linux builds. Where 32-bit code runs
# through qemu's emulator, creating it takes minutes and now and then fails: one more try then.
export WINEPREFIX=$root/build/wine/prefix
declare -A wine_loader=([win64]=/usr/lib/wine/wine64 [win32]=wine)
make_prefix() {
    for attempt in 1 2; do
        rm -rf "$WINEPREFIX"
        timeout 480 /usr/lib/wine/wine64 wineboot -i >"$WINEPREFIX.log" 2>&1 && wineserver -w && return 0
        wineserver -k 2>/dev/null
        echo "creating the Wine prefix failed (try $attempt), see $WINEPREFIX.log" >&2
    done
    return 1
}
wine_boot=
if [[ " ${presets[*]}" == *" win"* ]]; then
    mkdir -p build/wine
    make_prefix &
    wine_boot=$!
fi
wine_ready=

passed=0
failed=0
broken=()
started=$SECONDS
# A stage's heading, with the minutes since the start, so a slow stage shows itself.
stage() { printf '=== %s (at %d min)\n' "$1" $(((SECONDS - started) / 60)); }
for preset in "${presets[@]}"; do
    if [ "$preset" = linux-fuzz ]; then
        # Every fuzz target for a bounded time (it builds the preset itself); each counts
        # as one test program.
        stage "$preset: build and fuzz, ${QUILTRA_FUZZ_SECONDS:-30} s per target"
        log=build/$preset.fuzz.log
        scripts/fuzz.sh --seconds "${QUILTRA_FUZZ_SECONDS:-30}" 2>&1 | tee "$log"
        good=$(grep -c '^PASS ' "$log")
        bad=$(grep -c '^FAIL ' "$log")
        passed=$((passed + good))
        failed=$((failed + bad))
        [ $((good + bad)) -gt 0 ] || broken+=("$preset (build)")
        [ "$bad" -eq 0 ] || broken+=("$preset")
        continue
    fi
    stage "$preset: build"
    build_args=()
    if ! { cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 || { cat "build/$preset.configure.log"; false; }; }; then
        broken+=("$preset (build)")
        continue
    fi
    if [ "$preset" = linux-tsan ]; then
        # Only the concurrency tests run under ThreadSanitizer: their programs and what they
        # depend on are built, nothing else.
        mapfile -t tsan_targets < <(ctest --preset "$preset" -N | sed -n 's/^ *Test *#[0-9]*: //p')
        build_args=(--target "${tsan_targets[@]}")
    fi
    if ! cmake --build --preset "$preset" -j"$jobs" "${build_args[@]}"; then
        broken+=("$preset (build)")
        continue
    fi
    if [[ $preset == win* ]]; then
        if [ -z "$wine_ready" ]; then
            wait "$wine_boot" && wine_ready=yes || wine_ready=no
        fi
        if [ "$wine_ready" != yes ]; then
            broken+=("$preset (no Wine prefix)")
            continue
        fi
        # A persistent server and Wine's own services started now, with their output going
        # nowhere: each test program then starts fast, and no service inherits (and holds
        # open) the output pipe of the first test.
        wineserver -p
        "${wine_loader[$preset]}" wineboot </dev/null >/dev/null 2>&1 || true
    fi
    stage "$preset: test"
    log=build/$preset.ctest.log
    ctest_args=()
    # Under qemu's emulator a 32-bit program now and then dies with the emulator itself: a
    # failing test gets a second run there, and only the second result counts.
    [ "$preset" = win32 ] && ctest_args=(--repeat until-pass:2)
    # Where 32-bit code runs only through qemu's emulator (the set-up registered it), every
    # program still runs, and passes and failures count as anywhere else. The emulator itself
    # now and then dies inside Wine's 32-bit exception and thread dispatch (first seen at
    # OutputDebugStringA's exception): a program is left out only when its own output proves
    # that, and the proof is printed beside it (scripts/emulated_results.awk says what counts).
    emulated=0
    if [ "$preset" = win32 ] && [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        emulated=1
        # When the emulator crashes inside Wine, Wine starts its debugger and the program hangs
        # until ctest's timeout. Without the debugger the program ends at once, and a shorter
        # timeout bounds the rest.
        ctest_args+=(--timeout 150)
        export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d"
        # Wine's own errors of its memory set-up, so that a process the emulator cannot even
        # start says why (seen: "failed to map the shared user data").
        export WINEDEBUG=-all,err+virtual
    fi
    start_fault=
    if [ $emulated -eq 1 ]; then
        # Whether 32-bit Wine can start a process at all under this emulator: where it cannot,
        # every program fails the same way before its first line runs, after about 45 s of
        # emulation each (twice, with the second try), and the programs are left out with
        # that line, once each, instead.
        start_fault=$(timeout 300 wine "build/$preset/bin/platform_test.exe" --gtest_list_tests 2>&1 </dev/null |
                          grep -m1 'failed to map the shared user data')
    fi
    if [ -n "$start_fault" ]; then
        mapfile -t programs < <(ctest --preset "$preset" -N | sed -n 's/^ *Test *#[0-9]*: //p')
        for program in "${programs[@]}"; do
            echo "left out: $program: 32-bit Wine starts no process under the emulator here: $start_fault"
        done
        emulated_report="win32 under qemu's emulator: 0 passed, 0 failed, ${#programs[@]} left out (32-bit Wine starts no process here, above)"
        echo "$emulated_report"
    else
        ctest --preset "$preset" -j"$jobs" "${ctest_args[@]}" 2>&1 | tee "$log"
        total=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
        bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed.*/\1/p' "$log" | tail -1)
        if [ -z "$total" ]; then
            broken+=("$preset (no test ran)")
        elif [ $emulated -eq 1 ]; then
            # Sorted by the last attempt of each program, with the emulator's faults set apart.
            sorted=$(awk -f scripts/emulated_results.awk "build/$preset/Testing/Temporary/LastTest.log")
            grep -v '^counts ' <<<"$sorted"
            read -r _ ok bad left <<<"$(grep '^counts ' <<<"$sorted")"
            emulated_report="win32 under qemu's emulator: $ok passed, $bad failed, $left left out (the emulator's own faults, above)"
            echo "$emulated_report"
            passed=$((passed + ok))
            failed=$((failed + bad))
            [ "$bad" -eq 0 ] || broken+=("$preset")
        else
            passed=$((passed + total - bad))
            failed=$((failed + bad))
            [ "$bad" -eq 0 ] || broken+=("$preset")
        fi
    fi
    if [ "$preset" = win64 ]; then
        # Generated private-profile cases, ours against Windows': counted as one test program.
        stage "win64: private-profile agreement with Windows"
        if scripts/profile-agreement.sh --cases 2000; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            broken+=("win64 (profile agreement)")
        fi
    fi
    if [[ $preset == win* ]]; then
        wineserver -k || true
    fi
done
wait

echo
[ -z "${emulated_report:-}" ] || echo "$emulated_report"
if [ ${#broken[@]} -gt 0 ]; then
    echo "FAILED: ${broken[*]}"
fi
echo "total: $passed passed, $failed failed, in $(((SECONDS - started) / 60)) min"
[ ${#broken[@]} -eq 0 ]
