#!/usr/bin/env bash
# Builds and runs every test, twice: in a normal build (build/) and in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/);
# then a bounded run of the fuzz targets (scripts/fuzz.sh).
#   scripts/test.sh --fast  skips the sanitizer build and the fuzzing (local use only).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" --with-wine

fast=0
for arg in "$@"; do
    case "$arg" in
        --fast) fast=1 ;;
        *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
    esac
done

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
    local dir=$1; shift
    cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== normal build" >&2
run_suite "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

if ((!fast)); then
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer build" >&2
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
    run_suite "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DBRENNWERK_SANITIZE=ON -DBRENNWERK_BENCHMARKS=OFF

    echo "== fuzz targets, bounded run (build-fuzz/, clang + libFuzzer)" >&2
    "$top/scripts/fuzz.sh"
fi
echo "All tests passed." >&2
