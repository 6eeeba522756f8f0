#!/usr/bin/env bash
# What a hostile or odd INI file of about 100 MB costs one command: time
# and peak memory (GNU time's maximum resident set size, in MB of 10^6
# bytes) of the whole process, for files of the shapes that cost most per
# byte: ten million one-line sections, one section of five million keys, one
# line of 100 MB, the sections again with a lone CR ending each line, the
# shortest header lines, and a section name of 50 MB that a mistyped name is
# compared with; and a key set in the section of five million keys.
# Reports; it asserts nothing.
#   bench/shapes_bench.sh [PROGRAM] [--mb N]   PROGRAM: default build/brennwerk-editor;
#                                              N: the size of the files (default 100)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
program=$top/build/brennwerk-editor
mb=100
while (($#)); do
    case $1 in
        --mb) mb=${2:?--mb needs a number}; shift 2 ;;
        *) program=$1; shift ;;
    esac
done
[[ -x $program ]] || { echo "shapes_bench.sh: no program at $program (build it first)" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "shapes_bench.sh: needs GNU time (apt-get install -y time)" >&2; exit 2; }
program=$(realpath "$program")

work=$(mktemp -d "${TMPDIR:-/tmp}/shapes_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
bytes=$((mb * 1000000))

# Each line 11 bytes ("[S1234567]\n"), 20 bytes ("K1234567=V123456789\n").
perl -e '$n = int($ARGV[0] / 11); print "[S$_]\n" for 1000000 .. 1000000 + $n - 1' "$bytes" >"$work/sections.ini"
perl -e '$n = int($ARGV[0] / 20); print "[S]\n"; printf "K%07d=V%09d\n", $_, $_ for 1 .. $n' "$bytes" >"$work/keys.ini"
perl -e 'print "[S]\nK=", "x" x $ARGV[0], "\n"' "$bytes" >"$work/line.ini"
tr '\n' '\r' <"$work/sections.ini" >"$work/cr.ini"
# The most names the index can be given: header lines of four bytes each,
# all names apart (no capitals, which would repeat a name in small letters).
perl -e '@c = grep { !/[][A-Z]/ } map { chr } 0x21 .. 0x7e, 0xa0 .. 0xff; $n = int($ARGV[0] / 7); binmode STDOUT;
    for $w (@c) { for $x (@c) { for $y (@c) { for $z (@c) { print "[$w$x$y$z]\n"; exit if --$n == 0 } } } }' \
    "$bytes" >"$work/short.ini"
perl -e 'print "[", "N" x ($ARGV[0] / 2), "]\nK=1\n[Engine.GameEngine]\nK=2\n"' "$bytes" >"$work/name.ini"

# measure LABEL FILE ARGUMENTS...: one run of "PROGRAM ARGUMENTS" on FILE.
measure() {
    local label=$1 file=$2 size
    shift 2
    size=$(stat -c %s "$file")
    /usr/bin/time -f '%e %M' -o "$work/time" "$program" "$@" >/dev/null 2>&1 || true
    read -r seconds kb < <(tail -n 1 "$work/time")
    awk -v l="$label" -v s="$seconds" -v kb="$kb" -v size="$size" \
        'BEGIN { printf "%-52s %7.2f s %8.1f MB %6.2f x file\n", l, s, kb * 1024 / 1e6, kb * 1024 / size }'
}

echo "== one command on a file of about $mb MB ($(nproc) cores; wall time, peak memory)"
measure "get, 10 million one-line sections" "$work/sections.ini" get "$work/sections.ini" S1999999 K
measure "get, one section of 5 million keys" "$work/keys.ini" get "$work/keys.ini" S K4999999
measure "get, one line of $mb MB (the value)" "$work/line.ini" get "$work/line.ini" S K
measure "get, sections ending in a lone CR" "$work/cr.ini" get "$work/cr.ini" S1999999 K
measure "get, 14 million sections of 4 bytes" "$work/short.ini" get "$work/short.ini" zzzz K
measure "set to a missing section, 10 million sections" "$work/sections.ini" set "$work/sections.ini" S99 K v
measure "set to a missing section, a name of $((mb / 2)) MB" "$work/name.ini" set "$work/name.ini" Engine.GaemEngine K v
# The one command here that writes: each line of the section is held as a
# line to edit (on a copy, which the rows above did not read).
cp "$work/keys.ini" "$work/keys-set.ini"
measure "set of a key in one section of 5 million keys" "$work/keys-set.ini" set "$work/keys-set.ini" S K4999999 v
