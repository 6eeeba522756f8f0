#!/usr/bin/env bash
# What `apply` costs for many changes to a server's INI file of 83 KB (CR LF,
# Windows-1252, repeated ServerPackages and Maps keys, some 200 sections):
# scripts of 100, 1,000 and 10,000 changes (sets of existing and of new keys
# in several sections, adds to lists, removes from them), each against
# `crudini --merge` of the same keys and values, and 100 changes in one
# `apply` against one `set`. Each figure is the median wall time of the
# whole process over RUNS runs, each on a fresh copy of the file. Reports;
# it asserts nothing.
#   bench/apply_bench.sh [PROGRAM] [--runs N] [--largest N]
#       PROGRAM: default build/brennwerk-editor; N runs of each (default 7);
#       --largest: the largest script (default 10000; 1000 for a slow build)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
program=$top/build/brennwerk-editor
runs=7
largest=10000
while (($#)); do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --largest) largest=${2:?--largest needs a number}; shift 2 ;;
        *) program=$1; shift ;;
    esac
done
[[ -x $program ]] || { echo "apply_bench.sh: no program at $program (build it first)" >&2; exit 2; }
program=$(realpath "$program")

work=$(mktemp -d "${TMPDIR:-/tmp}/apply_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file=$work/UnrealTournament.ini
original=$work/original.ini

# The server's file (tests/data/ini/server.ini), grown by the settings of
# made-up mods to 83 KB: each section ten keys, one value with a
# Windows-1252 umlaut, and a list of maps.
perl -e '
    binmode STDOUT;
    local $/;
    open(my $in, "<:raw", $ARGV[0]) or die;
    my $text = <$in>;
    for (my $i = 1; length($text) < 83000; ++$i) {
        $text .= "\r\n[BenchMod$i.Settings]\r\n";
        $text .= "Key$_=Value $i.$_\r\n" for 1 .. 9;
        $text .= "Greeting=Gr\xfc\xdfe von Mod $i\r\n";
        $text .= "Maps=DM-Bench$i-$_\r\n" for 1 .. 4;
    }
    print $text;' "$top/tests/data/ini/server.ini" >"$original"
sections=$(grep -c '^\[BenchMod' "$original")

# script N: N changes, in turn: a set of an existing key, a set of a new key,
# an add to ServerPackages or to a mod's maps, a set of an existing key, a
# remove of one of the maps there are.
script() {
    perl -e '
        my ($n, $sections) = @ARGV;
        for my $r (0 .. $n - 1) {
            my $s = 1 + ($r * 7) % $sections;
            my $kind = $r % 5;
            if ($kind == 0 || $kind == 3) {
                printf "set BenchMod%d.Settings Key%d Changed%d\n", $s, 1 + $r % 9, $r;
            } elsif ($kind == 1) {
                printf "set BenchMod%d.Settings NewKey%d %d\n", $s, $r, $r;
            } elsif ($kind == 2) {
                printf $r % 2 ? "add Engine.GameEngine ServerPackages BenchPackage%d\n"
                              : "add BenchMod$s.Settings Maps DM-New%d\n", $r;
            } else {
                printf "remove BenchMod%d.Settings Maps DM-Bench%d-%d\n", $s, $s, 1 + $r % 4;
            }
        }' "$1" "$sections"
}
# merge_input SCRIPT: what crudini --merge is given for it, its sets and
# adds as keys of their sections (crudini has no lists: an add sets the key).
merge_input() {
    awk '$1 == "set" || $1 == "add" { print "[" $2 "]"; print $3 " = " $4 }' "$1"
}

# shellcheck source=bench/timing.sh
. "$(dirname "$0")/timing.sh"

fresh() { cp "$original" "$file"; }
# crudini reads UTF-8 only: it stops at the first Windows-1252 byte of the
# game's file, so it gets a UTF-8 copy.
crudini_fresh() { iconv -f WINDOWS-1252 -t UTF-8 "$original" >"$file"; }
one_set() { "$program" set "$file" BenchMod1.Settings Key1 Changed >/dev/null; }
apply_script=
apply() { "$program" apply "$file" "$apply_script" >/dev/null; }
merge() { crudini --merge "$file" <"$apply_script.merge"; }

echo "== apply on a server's UnrealTournament.ini of $(stat -c %s "$original") bytes, $sections mods' sections" \
    "($(nproc) cores, median of $runs)"
time_runs "brennwerk-editor: one set" fresh one_set
for n in 100 1000 10000; do
    ((n <= largest)) || continue
    apply_script=$work/changes-$n.txt
    script "$n" >"$apply_script"
    merge_input "$apply_script" >"$apply_script.merge"
    # A script that fails is no measure of one that works.
    fresh && apply || { echo "apply_bench.sh: apply of $n changes failed" >&2; exit 1; }
    cmp -s "$file" "$original" && { echo "apply_bench.sh: apply of $n changes changed nothing" >&2; exit 1; }
    time_runs "brennwerk-editor: $n changes in one apply" fresh apply
    if command -v crudini >/dev/null; then
        crudini_fresh && merge || { echo "apply_bench.sh: crudini --merge of $n changes failed" >&2; exit 1; }
        time_runs "crudini --merge of the same keys ($n)" crudini_fresh merge
    fi
done
command -v crudini >/dev/null || echo "crudini: not installed (apt-get install -y crudini), skipped"

awk -v apply="${result["brennwerk-editor: 100 changes in one apply"]}" \
    -v set="${result["brennwerk-editor: one set"]}" \
    'BEGIN { printf "one apply of 100 changes / one set: %.2f (target: at most 1.5)\n", apply / set }'
if [[ -n ${result["crudini --merge of the same keys ($largest)"]:-} ]]; then
    awk -v apply="${result["brennwerk-editor: $largest changes in one apply"]}" \
        -v merge="${result["crudini --merge of the same keys ($largest)"]}" \
        'BEGIN { printf "apply of '"$largest"' changes / crudini --merge: %.2f (target: at most 1)\n", apply / merge }'
fi
