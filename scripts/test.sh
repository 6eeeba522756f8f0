#!/usr/bin/env bash
# Builds and runs every test, twice: in a normal build (preset default,
# build/) and in a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (preset asan, build-asan/); then a bounded run of the fuzz targets
# (scripts/fuzz.sh). The ci build compiles the benchmarks too, so that a
# change that breaks them fails there.
#   scripts/test.sh --fast  skips the sanitizer build and the fuzzing (local use only)
#   scripts/test.sh --ci    the normal build with warnings as errors (preset ci,
#                           build-ci/), as .ci/run has it
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

fast=0
normal=default
for arg in "$@"; do
    case "$arg" in
        --fast) fast=1 ;;
        --ci) normal=ci ;;
        *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
    esac
done

deps=(--tests --with-wine --bench)
((fast)) || deps+=(--fuzz)
"$top/scripts/deps.sh" "${deps[@]}"

cd "$top"
jobs=$(nproc)

run_suite() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
}

echo "== normal build (preset $normal)" >&2
run_suite "$normal"

if ((!fast)); then
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (preset asan)" >&2
    run_suite asan

    echo "== fuzz targets, bounded run (preset fuzz, clang + libFuzzer)" >&2
    "$top/scripts/fuzz.sh"
fi
echo "All tests passed." >&2
