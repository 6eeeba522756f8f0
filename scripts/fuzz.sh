#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, preset fuzz in build-fuzz/,
# and runs each on its seed corpus (fuzz/corpus/<target>), checking the INI
# layer's and the registry file's promises on every input.
#   scripts/fuzz.sh                a bounded run: two minutes per target, random
#                                  seed (scripts/test.sh runs this); some
#                                  100,000 inputs each on a quiet machine
#   scripts/fuzz.sh --seconds S    S seconds per target, random seed
#   scripts/fuzz.sh --runs N       N inputs per target, fixed seed (repeatable)
# A failing input is kept as build-fuzz/<target>-crash-<hash>; run
# build-fuzz/fuzz_<target> on it to see the broken promise again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" --fuzz

# A budget of time, not of inputs: what a run reaches grows with the inputs it
# gets through, and a fixed count of them ran into the same few every time.
limit=(-max_total_time=120)
while (($#)); do
    case "$1" in
        --runs) limit=(-runs="${2:?--runs needs a number}" -seed=1); shift 2 ;;
        --seconds) limit=(-max_total_time="${2:?--seconds needs a number}"); shift 2 ;;
        *) echo "fuzz.sh: unknown option '$1'" >&2; exit 2 ;;
    esac
done

build=$top/build-fuzz
# A build-fuzz/ from when fuzz/ was a project of its own: configured anew,
# the inputs kept there stay.
if grep -qs '^CMAKE_HOME_DIRECTORY:INTERNAL=.*/fuzz$' "$build/CMakeCache.txt"; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
cd "$top"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Every input writes and syncs a file: on tmpfs that costs nothing.
scratch_root=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_root=/dev/shm
work=$(mktemp -d "$scratch_root/brennwerk-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

for target in ini registry; do
    # New inputs go to the scratch folder; the checked-in corpus is only read.
    mkdir -p "$work/corpus-$target"
    log=$work/$target.log
    started=$SECONDS
    if ! "$build/fuzz_$target" "${limit[@]}" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
        -dict="$top/fuzz/$target.dict" -artifact_prefix="$build/$target-" -print_final_stats=1 \
        "$work/corpus-$target" "$top/fuzz/corpus/$target" >"$log" 2>&1; then
        tail -n 60 "$log" >&2
        echo "fuzz_$target FAILED ($(grep -m1 -o 'Seed: [0-9]*' "$log")); the input is kept as $build/$target-crash-*" >&2
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
    echo "fuzz_$target: $runs inputs in $((SECONDS - started)) s ($speed/s, $cov), every invariant held" >&2
done
