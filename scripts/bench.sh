#!/usr/bin/env bash
# Measures what the editor costs, in a release build (preset bench,
# build-bench/), offscreen:
#   1. start-up to the main window shown and peak memory, against a bare Qt
#      window program built alongside (bench/bench_startup.cpp, bench/bare_window.cpp);
#   2. each page's show and largest write, on the sample installation and with
#      a 1 MB User.ini, against a plain read of the file (bench/bench_pages.cpp);
#   3. a command's whole process, "get" on a 21 KB server file, against a
#      program that links Qt Core alone and reads the file, and crudini where
#      it is installed (bench/bench_command.cpp, bench/bare_read.cpp);
#   4. 100 changes to a server's file by one "apply", against one "set" and one
#      call per change, by this program, crudini and git config
#      (bench/cli_bench.sh; a peer that is not installed is skipped);
#   5. "apply" of 100, 1,000 and 10,000 changes to an 83 KB server file,
#      against crudini --merge of the same keys and one "set"
#      (bench/apply_bench.sh);
#   6. time and peak memory of "get" and of a mistyped "set" on files of about
#      100 MB of the costliest shapes (bench/shapes_bench.sh).
#   scripts/bench.sh [--runs N]   N start-ups of each program (default 15; 2N+1 of each command)
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
# bench_startup and bench_command bring their yardsticks, bare_window and
# bare_read, with them.
cmake --build --preset bench --target bench_startup bench_command bench_pages brennwerk-editor

export QT_QPA_PLATFORM=offscreen
echo "== start-up and memory ($(nproc) cores, $(uname -r))"
"$build/bench_startup" --bare "$build/bare_window" --runs "$runs"
echo
echo "== page show and largest write (ms; targets: under 16 on the sample, under 100 with a 1 MB User.ini)"
"$build/bench_pages" --benchmark_min_time=0.2
echo
echo "== a command's whole process (target: get at most 1.2 times the Qt Core yardstick)"
"$build/bench_command" --program "$build/brennwerk-editor" --bare "$build/bare_read" --runs $((runs * 2 + 1))
echo
"$top/bench/cli_bench.sh" "$build/brennwerk-editor"
echo
"$top/bench/apply_bench.sh" "$build/brennwerk-editor"
echo
"$top/bench/shapes_bench.sh" "$build/brennwerk-editor"
