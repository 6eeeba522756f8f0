#!/usr/bin/env bash
# Completes command lines as bash does at a prompt, with the completion script
# sourced on its own and under Debian's bash-completion, against a copy of the
# sample game: the options, the commands, FILE, and the section and key names
# read from the game's files. Then types into an interactive bash on a
# pseudo-terminal (completion_typing.py), with the script where the package
# puts it for bash-completion to load, and reads the line that TAB made:
# quoting, blanks and "[" in names, values and file names.
#   tests/completion_test.sh PROGRAM COMPLETION_SCRIPT EXAMPLES_DIR
set -uo pipefail

if (($# != 3)); then
    echo "usage: $0 PROGRAM COMPLETION_SCRIPT EXAMPLES_DIR" >&2
    exit 2
fi
program=$(realpath "$1")
script=$(realpath "$2")
examples=$(realpath "$3")
typing=$(realpath "$(dirname "$0")/completion_typing.py")

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
expect 'brennwerk-editor --ini-dir UT/System get user Botpack.Ladder ' HasBeatenGame
# Options after the command choose the file all the same; a value option's
# value is no operand.
expect 'brennwerk-editor list main --game-dir UT Engine.G' Engine.GameEngine Engine.GameInfo Engine.GameReplicationInfo
expect 'brennwerk-editor unset --dry-run user --ini-dir=UT/System Botpack.Ladder H' HasBeatenGame
# remove: the values of the key, a list's every line.
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

# As a person types: KEYS (TAB as $'\t') at a prompt make the command line
# LINE, and bash lists exactly the LISTED words (a second TAB lists).
typed() {
    local keys=$1 line=$2 mode got want
    shift 2
    want=$(printf '%s\n' "$line"; printf '%s\n' "$@" | sort)
    for mode in "${modes[@]}"; do
        got=$(python3 "$typing" "$work/rc.$mode" "$keys" | { IFS= read -r first; printf '%s\n' "$first"; sort; })
        if [[ $got != "$want" ]]; then
            echo "FAIL ($mode, typed): '${keys//$'\t'/<TAB>}'" >&2
            echo "  expected: $want" >&2
            echo "  got:      $got" >&2
            failures=$((failures + 1))
        fi
    done
}

if ! command -v python3 >/dev/null; then
    echo "FAIL: python3 is missing (scripts/deps.sh --tests installs it)" >&2
    exit 1
fi
# Sourced on its own, or found by bash-completion where it looks first for
# a command's completion, on the first TAB after the command's name.
printf '. %q\n' "$script" >"$work/rc.alone"
printf '. /usr/share/bash-completion/bash_completion\n' >"$work/rc.bash-completion"
mkdir -p "$HOME/.local/share/bash-completion/completions"
cp "$script" "$HOME/.local/share/bash-completion/completions/brennwerk-editor"
# A server's own file: a name with blanks, keys with "[", values with
# blanks, a quote and a dollar sign.
mkdir "My Game"
printf '%s\r\n' '[Botpack.DeathMatchPlus]' 'Maps[0]=DM-Deck16][' 'Maps[1]=DM-Morpheus' 'Maps[10]=CTF-Face' \
    '[Engine.GameEngine]' "ServerActors=It's \$5 a game" 'ServerActors=Glut.Actor Speed=2' >"My Game/Server Settings.ini"

tab=$'\t'
typed "brennwerk-editor --game-dir UT get main UBrowser.UBrowserMainClientWindow ServerListNames\\[2$tab" \
    'brennwerk-editor --game-dir UT get main UBrowser.UBrowserMainClientWindow ServerListNames\[2\] '
typed "brennwerk-editor --game-dir UT get main UBrowser.UBrowserMainClientWindow ServerListNames\\[$tab$tab" \
    'brennwerk-editor --game-dir UT get main UBrowser.UBrowserMainClientWindow ServerListNames\[' \
    'ServerListNames[0]' 'ServerListNames[1]' 'ServerListNames[2]' 'ServerListNames[3]'
typed "brennwerk-editor --game-dir UT get user Engine.Input aliases\\[19$tab" \
    'brennwerk-editor --game-dir UT get user Engine.Input Aliases\[19\] '
# FILE with blanks, escaped or in quotes, and the names read from it.
typed "brennwerk-editor list My\\ G$tab" 'brennwerk-editor list My\ Game/'
typed "brennwerk-editor list \"My Game/S$tab" 'brennwerk-editor list "My Game/Server Settings.ini" '
typed "brennwerk-editor get 'My Game/Server Settings.ini' Bot$tab" \
    "brennwerk-editor get 'My Game/Server Settings.ini' Botpack.DeathMatchPlus "
typed "brennwerk-editor get My\\ Game/Server\\ Settings.ini Botpack.DeathMatchPlus Maps\\[1$tab$tab" \
    'brennwerk-editor get My\ Game/Server\ Settings.ini Botpack.DeathMatchPlus Maps\[1' 'Maps[1]' 'Maps[10]'
# remove: a list's values with blanks, as the shell must read them back.
# The first TAB puts in what they share, the next lists them (readline
# beeps once in between).
typed "brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors IpServer.UdpServerUplink\\ $tab$tab$tab" \
    'brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors IpServer.UdpServerUplink\ MasterServerAddress\=master' \
    'IpServer.UdpServerUplink MasterServerAddress=master.brennwerk.example MasterServerPort=27900' \
    'IpServer.UdpServerUplink MasterServerAddress=master2.brennwerk.example MasterServerPort=27900'
typed "brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors IpServer.UdpServerUplink\\ MasterServerAddress=master2$tab" \
    'brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors IpServer.UdpServerUplink\ MasterServerAddress=master2.brennwerk.example\ MasterServerPort\=27900 '
typed "brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors 'IpServer.UdpServerUplink MasterServerAddress=master2$tab" \
    "brennwerk-editor --game-dir UT remove main Engine.GameEngine ServerActors 'IpServer.UdpServerUplink MasterServerAddress=master2.brennwerk.example MasterServerPort=27900' "
typed "brennwerk-editor remove My\\ Game/Server\\ Settings.ini Engine.GameEngine ServerActors G$tab" \
    'brennwerk-editor remove My\ Game/Server\ Settings.ini Engine.GameEngine ServerActors Glut.Actor\ Speed\=2 '
typed "brennwerk-editor remove My\\ Game/Server\\ Settings.ini Engine.GameEngine ServerActors It$tab" \
    "brennwerk-editor remove My\\ Game/Server\\ Settings.ini Engine.GameEngine ServerActors 'It'\\''s \$5 a game' "

if ((failures)); then
    echo "$failures completion(s) failed" >&2
    exit 1
fi
echo "completion checks passed"
