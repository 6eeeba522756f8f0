#!/usr/bin/env bash
# What many changes to a server's INI file cost from a script: one `set`, 100
# changes in one `apply`, and 100 changes one call each, by this program, by
# crudini and by `git config` (the peers are skipped when they are missing:
# apt-get install -y crudini git). The file is a copy of
# tests/data/ini/server.ini (137 lines, CR LF, Windows-1252). Reports medians
# of wall time; it asserts nothing.
#   bench/cli_bench.sh [PROGRAM] [--runs N]   PROGRAM: default build/brennwerk-editor
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
program=$top/build/brennwerk-editor
runs=11
while (($#)); do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        *) program=$1; shift ;;
    esac
done
[[ -x $program ]] || { echo "cli_bench.sh: no program at $program (build it first)" >&2; exit 2; }
program=$(realpath "$program")

work=$(mktemp -d "${TMPDIR:-/tmp}/cli_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
server=$top/tests/data/ini/server.ini
file=$work/UnrealTournament.ini
changes=100

# The 100 changes: 50 keys set in [Botpack.DeathMatchPlus], 50 packages
# added to [Engine.GameEngine] ServerPackages.
script=$work/changes.txt
for ((i = 0; i < changes / 2; i++)); do
    echo "set Botpack.DeathMatchPlus BenchKey$i $i"
    echo "add Engine.GameEngine ServerPackages BenchPackage$i"
done >"$script"

# shellcheck source=bench/timing.sh
. "$(dirname "$0")/timing.sh"

fresh() { cp "$server" "$file"; }
one_set() { "$program" set "$file" Engine.GameEngine CacheSizeMegs 64 >/dev/null; }
one_apply() { "$program" apply "$file" "$script" >/dev/null; }
many_calls() {
    local i
    for ((i = 0; i < changes / 2; i++)); do
        "$program" set "$file" Botpack.DeathMatchPlus "BenchKey$i" "$i"
        "$program" add "$file" Engine.GameEngine ServerPackages "BenchPackage$i"
    done
}

echo "== $changes changes to a server's UnrealTournament.ini ($(nproc) cores, median of $runs)"
time_runs "brennwerk-editor: one set" fresh one_set
time_runs "brennwerk-editor: $changes changes in one apply" fresh one_apply
# The same bytes either way, or the comparison is void.
fresh && one_apply && cp "$file" "$work/by-apply.ini"
fresh && many_calls
cmp -s "$file" "$work/by-apply.ini" || { echo "cli_bench.sh: apply and the calls one by one differ" >&2; exit 1; }
time_runs "brennwerk-editor: $changes calls (set, add)" fresh many_calls

if command -v crudini >/dev/null; then
    # crudini reads UTF-8 only: it stops at the first Windows-1252 byte of the
    # game's file, so it gets a UTF-8 copy.
    crudini_fresh() { iconv -f WINDOWS-1252 -t UTF-8 "$server" >"$file"; }
    crudini_calls() {
        local i
        for ((i = 0; i < changes; i++)); do
            crudini --set "$file" Botpack.DeathMatchPlus "BenchKey$i" "$i"
        done
    }
    time_runs "crudini: $changes calls (--set)" crudini_fresh crudini_calls
else
    echo "crudini: not installed (apt-get install -y crudini), skipped"
fi
if command -v git >/dev/null; then
    # git config cannot read the game's file (keys such as Applications[0]);
    # it writes a file of its own.
    git_fresh() { : >"$work/git.cfg"; }
    git_calls() {
        local i
        for ((i = 0; i < changes / 2; i++)); do
            git config -f "$work/git.cfg" "botpack.deathmatchplus.benchkey$i" "$i"
            git config -f "$work/git.cfg" --add engine.gameengine.serverpackages "BenchPackage$i"
        done
    }
    time_runs "git config: $changes calls (set, --add)" git_fresh git_calls
else
    echo "git: not installed (apt-get install -y git), skipped"
fi

awk -v apply="${result["brennwerk-editor: $changes changes in one apply"]}" \
    -v set="${result["brennwerk-editor: one set"]}" \
    'BEGIN { printf "one apply of %d changes / one set: %.2f (target: at most 2)\n", '"$changes"', apply / set }'
