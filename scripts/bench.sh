#!/usr/bin/env bash
# Measures Quiltra's scanner path with quiltra-bench (bench/): on a fresh Debian machine it
# installs what the build needs, builds the linux-bench preset (Release), runs every
# benchmark with repetitions and prints Google Benchmark's table followed by the targets
# table. The figures are kept in out/bench/ (results.json, report.txt).
#
#   scripts/bench.sh [quiltra-bench options]     e.g. --benchmark_filter=Pipeline
#   QUILTRA_BENCH_REPETITIONS=5 scripts/bench.sh  repetitions per benchmark (default 3)
#   scripts/bench.sh --resampler [options]      instead: the reference resampler against
#                                                OpenCV (quiltra-resample-bench), figures in
#                                                out/bench/resampler.{txt,json}
#   scripts/bench.sh --prefilter [options]      instead: the reference prefilter against
#                                                memcpy (quiltra-prefilter-bench), figures in
#                                                out/bench/prefilter.{txt,json}
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ -f scripts/setup.sh ]; then
    bash scripts/setup.sh
fi

plugin=
case "${1:-}" in
    --resampler) plugin=resample; shift ;;
    --prefilter) plugin=prefilter; shift ;;
esac
targets=(quiltra bench_memory_driver quiltra-bench)
[ -z "$plugin" ] || targets=("quiltra-$plugin-bench")
echo "bench: building ${targets[*]} (build/linux-bench)"
mkdir -p build
cmake --preset linux-bench >build/bench-configure.log 2>&1 || { cat build/bench-configure.log >&2; exit 1; }
cmake --build --preset linux-bench -j"${QUILTRA_JOBS:-2}" --target "${targets[@]}" \
    >build/bench-build.log 2>&1 || { tail -n 40 build/bench-build.log >&2; exit 1; }

out=$root/out/bench
mkdir -p "$out/system"
echo "bench: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$plugin" ]; then
    # One thread each side, so a raised priority (where permitted) keeps other work off it.
    priority=()
    nice -n -5 true 2>/dev/null && priority=(nice -n -5)
    figures=$out/${plugin/resample/resampler}
    "${priority[@]}" "$root/build/linux-bench/bin/quiltra-$plugin-bench" \
        --benchmark_repetitions="${QUILTRA_BENCH_REPETITIONS:-3}" \
        --benchmark_display_aggregates_only=true \
        --benchmark_out="$figures.json" --benchmark_out_format=json \
        "$@" 2>&1 | tee "$figures.txt"
    echo "bench: figures in $figures.txt and $figures.json"
    exit 0
fi
"$root/build/linux-bench/bin/quiltra-bench" --system-dir="$out/system" \
    --benchmark_repetitions="${QUILTRA_BENCH_REPETITIONS:-3}" \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$out/results.json" --benchmark_out_format=json \
    "$@" 2>&1 | tee "$out/report.txt"
echo "bench: figures in $out/report.txt and $out/results.json"
