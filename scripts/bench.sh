#!/usr/bin/env bash
# Measures what the editor costs, in a release build (preset bench,
# build-bench/), offscreen:
#   1. start-up to the main window shown and peak memory, against a bare Qt
#      window program built alongside (bench/bench_startup.cpp, bench/bare_window.cpp);
#   2. each page's show and largest write, on the sample installation and with
#      a 1 MB User.ini, against a plain read of the file (bench/bench_pages.cpp);
#   3. 100 changes to a server's file by one "apply", against one "set" and one
#      call per change, by this program, crudini and git config
#      (bench/cli_bench.sh; a peer that is not installed is skipped).
#   scripts/bench.sh [--runs N]   N start-ups of each program (default 15)
# Nothing here asserts a time: it reports, and the README keeps the figures.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" --bench

runs=15
while (($#)); do
    case "$1" in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        *) echo "bench.sh: unknown option '$1'" >&2; exit 2 ;;
    esac
done

build=$top/build-bench
cd "$top"
cmake --preset bench >/dev/null
# bench_startup brings its yardstick, bare_window, with it.
cmake --build --preset bench --target bench_startup bench_pages brennwerk-editor

export QT_QPA_PLATFORM=offscreen
echo "== start-up and memory ($(nproc) cores, $(uname -r))"
"$build/bench_startup" --bare "$build/bare_window" --runs "$runs"
echo
echo "== page show and largest write (ms; targets: under 16 on the sample, under 100 with a 1 MB User.ini)"
"$build/bench_pages" --benchmark_min_time=0.2
echo
"$top/bench/cli_bench.sh" "$build/brennwerk-editor"
