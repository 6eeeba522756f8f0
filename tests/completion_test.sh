#!/usr/bin/env bash
# Completes command lines as bash does at a prompt, with the completion script
# sourced on its own and under Debian's bash-completion, against a copy of the
# sample game: the options, the commands, FILE, and the section and key names
# read from the game's files.
#   tests/completion_test.sh PROGRAM COMPLETION_SCRIPT EXAMPLES_DIR
set -uo pipefail

if (($# != 3)); then
    echo "usage: $0 PROGRAM COMPLETION_SCRIPT EXAMPLES_DIR" >&2
    exit 2
fi
program=$(realpath "$1")
script=$(realpath "$2")
examples=$(realpath "$3")

work=$(mktemp -d "${TMPDIR:-/tmp}/completion_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/home" "$work/here"
cp -r "$examples" "$work/here/UT"
ln -s "$program" "$work/bin/brennwerk-editor"
# Nothing of the machine's own Wine prefix or registry file.
export PATH=$work/bin:$PATH HOME=$work/home XDG_CONFIG_HOME=$work/home/.config WINEPREFIX=$work/home/.wine
cd "$work/here" || exit 1

modes=(alone)
if [[ -f /usr/share/bash-completion/bash_completion ]]; then
    modes+=(bash-completion)
else
    echo "SKIP: bash-completion is not installed; the script is tried on its own only" >&2
fi

failures=0

# Completes LINE (the cursor at its end) and prints the candidates, sorted,
# one per line. COMP_WORDS is split as readline splits it: at blanks, and
# with "=" a word of its own.
complete_line() {
    local mode=$1 line=$2
    bash --norc --noprofile -c '
        mode=$1 script=$2 line=$3
        if [[ $mode == bash-completion ]]; then
            . /usr/share/bash-completion/bash_completion
        fi
        . "$script"
        read -ra words <<<"${line//=/ = }"
        [[ $line == *" " ]] && words+=("")
        COMP_WORDS=("${words[@]}")
        COMP_CWORD=$((${#words[@]} - 1))
        COMP_LINE=$line
        COMP_POINT=${#line}
        _brennwerk_editor brennwerk-editor "${words[-1]}" "${words[-2]-}"
        printf "%s\n" "${COMPREPLY[@]}" | sort
    ' - "$mode" "$script" "$line"
}

# expect LINE WORD... : the candidates are exactly the words given.
expect() {
    local line=$1 mode got want
    shift
    want=$(printf '%s\n' "$@" | sort)
    for mode in "${modes[@]}"; do
        got=$(complete_line "$mode" "$line")
        if [[ $got != "$want" ]]; then
            echo "FAIL ($mode): '$line'" >&2
            echo "  expected: $(echo $want)" >&2
            echo "  got:      $(echo $got)" >&2
            failures=$((failures + 1))
        fi
    done
}

expect 'brennwerk-editor --' --game-dir --ini-dir --registry --create --first --all --dry-run --diff --help --version
expect 'brennwerk-editor --game-dir U' UT
expect 'brennwerk-editor --game-dir UT ' get set add remove unset list apply paths
expect 'brennwerk-editor --game-dir UT get ' main user UT
# After the command: the options it takes, and those that choose the files.
expect 'brennwerk-editor --game-dir UT set -' --create --first --dry-run --diff --game-dir --ini-dir --registry
expect 'brennwerk-editor remove main --d' --dry-run --diff
expect 'brennwerk-editor get main Engine.GameEngine CacheSizeMegs --ini-dir U' UT
# Section names of the game's main INI (CR LF, Windows-1252), as it spells them.
expect 'brennwerk-editor --game-dir UT get main Engine.G' Engine.GameEngine Engine.GameInfo Engine.GameReplicationInfo
# The section matched regardless of letter case; a commented-out key is none,
# and each key comes once.
expect 'brennwerk-editor --game-dir=UT set --create main engine.gameengine Cache' CacheSizeMegs
expect 'brennwerk-editor --game-dir UT get user Engine.Input Aliases[1' \
    'Aliases\[1\]' 'Aliases\[10\]' 'Aliases\[11\]' 'Aliases\[12\]' 'Aliases\[13\]' 'Aliases\[14\]' \
    'Aliases\[15\]' 'Aliases\[16\]' 'Aliases\[17\]' 'Aliases\[18\]' 'Aliases\[19\]'
expect 'brennwerk-editor --ini-dir UT/System get user Botpack.Ladder ' HasBeatenGame
# Options after the command choose the file all the same; a value option's
# value is no operand.
expect 'brennwerk-editor list main --game-dir UT Engine.G' Engine.GameEngine Engine.GameInfo Engine.GameReplicationInfo
expect 'brennwerk-editor unset --dry-run user --ini-dir=UT/System Botpack.Ladder H' HasBeatenGame
# remove: the values of the key, a list's every line, as the shell quotes them.
expect 'brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors IpServer.UdpServerU' \
    'IpServer.UdpServerUplink\ MasterServerAddress=master.brennwerk.example\ MasterServerPort=27900' \
    'IpServer.UdpServerUplink\ MasterServerAddress=master2.brennwerk.example\ MasterServerPort=27900'
expect 'brennwerk-editor remove -- UT/System/UnrealTournament.ini Engine.GameEngine ServerPackages S' SoldierSkins SGirlSkins
# apply: FILE, then the script, any file.
expect 'brennwerk-editor --game-dir UT apply main ' UT
# A path as FILE needs no game folder.
expect 'brennwerk-editor get UT/System/User.ini Def' DefaultPlayer
expect 'brennwerk-editor get UT/System/User.ini NoSuchSection ' 

# The game found through a Wine registry, as a Wine user starts the editor:
# only the program knows which files that gives ("paths").
printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n"Folder"="%s"\n' \
    "$work/here/UT" >"$work/system.reg"
if brennwerk-editor --registry "$work/system.reg" paths >/dev/null 2>&1; then
    expect "brennwerk-editor --registry $work/system.reg get main FirstR" FirstRun
    expect "brennwerk-editor --registry $work/system.reg get user DefaultPlayer Na" Name
else
    echo "SKIP: this build has no 'paths' command; main and user come from --game-dir and --ini-dir only" >&2
fi

if ((failures)); then
    echo "$failures completion(s) failed" >&2
    exit 1
fi
echo "completion checks passed"
