# Sourced by the benchmark scripts: whole-process timings, medians of runs.
# The caller sets $runs.

now() { date +%s%N; }

# median NANOSECONDS...: the middle one, in milliseconds to a tenth.
median() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", v[int((NR + 1) / 2)] / 1e6 }'
}

# time_runs NAME PREPARE RUN: the median over $runs of RUN, each after
# PREPARE (not timed), kept in result[NAME] and printed.
declare -A result
time_runs() {
    local name=$1 prepare=$2 run=$3 start times=()
    for ((r = 0; r < runs; r++)); do
        $prepare
        start=$(now)
        $run
        times+=($(($(now) - start)))
    done
    result[$name]=$(median "${times[@]}")
    printf '%-58s %9s ms\n' "$name" "${result[$name]}"
}
