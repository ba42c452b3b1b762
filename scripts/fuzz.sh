#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz: clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each in turn, under nice, from its seed corpus
# (tests/fuzz/corpus/TARGET) and the corpus earlier runs grew (build/fuzz/corpus/TARGET).
#
#   scripts/fuzz.sh [TARGET..] [--runs N | --seconds S] [--max-len BYTES]
#
# Default: every target, 10^7 executions each, inputs of at most the target's own length
# (below; --max-len sets one for all). A crash, a leak, an input slower than 25 s or
# a broken invariant fails the target; the input that did it is kept in
# build/fuzz/artifacts/TARGET/ (add it, minimised, to the seed corpus as a regression file).
# Prints one line of figures per target, then "PASS TARGET" or "FAIL TARGET"; the exit status
# is the number of targets that failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

all_targets=(pass_thru_fuzz profile_fuzz scanner_config_fuzz control_fuzz calibration_fuzz prefilter_fuzz)
# The longest input of each target: enough for every path of what it reads (a profile file
# with several sections and a run of operations, a Quiltra.ini of two scanners with cameras
# and calibration entries, a few dozen commands), and short enough that an execution stays
# short, since each one's cost grows with the file it reads and writes or the commands it runs.
declare -A max_len=([pass_thru_fuzz]=4096 [profile_fuzz]=256 [scanner_config_fuzz]=512
                    [control_fuzz]=256 [calibration_fuzz]=4096 [prefilter_fuzz]=4096)
targets=()
limit=(-runs=10000000)
len_override=
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) limit=(-runs="$2"); shift 2 ;;
        --seconds) limit=(-max_total_time="$2"); shift 2 ;;
        --max-len) len_override=$2; shift 2 ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        -*) echo "usage: scripts/fuzz.sh [TARGET..] [--runs N | --seconds S] [--max-len BYTES]" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

scripts/setup.sh || exit 1
{ cmake --preset linux-fuzz >build/linux-fuzz.configure.log 2>&1 || { cat build/linux-fuzz.configure.log; exit 1; }; } &&
    nice -n 10 cmake --build --preset linux-fuzz -j"${QUILTRA_JOBS:-2}" --target "${targets[@]}" || exit 1

# The profile target writes its file once per operation: a memory-backed folder keeps the
# file system out of the figures.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
# Reports leave out where a block was allocated and freed, and freed blocks are held back
# for reuse less long: a third more executions a second. A fault found is replayed with the
# full report by the target itself: build/linux-fuzz/bin/TARGET ARTIFACT.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:malloc_context_size=0:quarantine_size_mb=32}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=0
for target in "${targets[@]}"; do
    work=$root/build/fuzz/corpus/$target
    artifacts=$root/build/fuzz/artifacts/$target/
    log=$root/build/fuzz/$target.log
    mkdir -p "$work" "$artifacts"
    start=$(date +%s)
    # The first folder receives what the run finds; the seeds are only read.
    # A Quiltra.ini may ask for a final image of up to 4 GB, which the library allocates as
    # asked: the limits leave room for one such image instead of calling it a fault.
    nice -n 10 "$root/build/linux-fuzz/bin/$target" "${limit[@]}" -timeout=25 -print_final_stats=1 \
        -max_len="${len_override:-${max_len[$target]:-4096}}" \
        -malloc_limit_mb=4608 -rss_limit_mb=12288 \
        -artifact_prefix="$artifacts" "$work" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1
    status=$?
    seconds=$(($(date +%s) - start))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corpus=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
    echo "$target: ${runs:-0} executions in ${seconds} s (${rate:-0} exec/s), corpus ${corpus:-?}, cov ${cov:-?} ft ${ft:-?}"
    if [ $status -eq 0 ]; then
        echo "PASS $target"
    else
        failed=$((failed + 1))
        grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -8
        echo "FAIL $target (see $log)"
    fi
done
exit $failed
