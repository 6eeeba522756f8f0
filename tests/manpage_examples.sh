#!/usr/bin/env bash
# Runs every example of the manual page as a reader pastes it: taken from the
# page as man renders it (indentation, quotes and dashes as shown), each one
# in bash, in a temporary HOME that holds copies of the sample game where the
# examples expect a game: ~/Games/UnrealTournament (native),
# ~/Games/ut99 (a Wine prefix whose registry names its drive_c/UnrealTournament)
# and ~/ut-server (a server). Each must succeed and say nothing on stderr.
# The window needs a display: a line that would open it asks for "paths"
# instead, which must find the game's files.
#   tests/manpage_examples.sh PROGRAM MANPAGE EXAMPLES_DIR
set -uo pipefail

if (($# != 3)); then
    echo "usage: $0 PROGRAM MANPAGE EXAMPLES_DIR" >&2
    exit 2
fi
program=$(realpath "$1")
manpage=$(realpath "$2")
examples=$(realpath "$3")

work=$(mktemp -d "${TMPDIR:-/tmp}/manpage_examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
home=$work/home
mkdir -p "$work/bin" "$home/Games/ut99/drive_c"
ln -s "$program" "$work/bin/brennwerk-editor"
cp -r "$examples" "$home/Games/UnrealTournament"
cp -r "$examples" "$home/Games/ut99/drive_c/UnrealTournament"
cp -r "$examples" "$home/ut-server"
printf '%s\n' 'WINE REGISTRY Version 2' ';; All keys relative to \\Machine' '' \
    '[Software\\Unreal Technology\\Installed Apps\\UnrealTournament] 1733592000' \
    '"Folder"="C:\\UnrealTournament"' >"$home/Games/ut99/system.reg"

rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l -P cat "$manpage" 2>/dev/null)
# The lines of EXAMPLES indented deeper than its text, in runs between
# blank lines: one example each.
blocks=()
inside=0 block=
while IFS= read -r line; do
    if [[ $line == [^\ ]* ]]; then
        [[ $line == EXAMPLES ]] && inside=1 || inside=0
    elif ((inside)) && [[ $line == '        '*[^\ ]* ]]; then
        block+=$line$'\n'
        continue
    fi
    [[ -n $block ]] && blocks+=("$block")
    block=
done <<<"$rendered"
[[ -n $block ]] && blocks+=("$block")
if ((${#blocks[@]} < 3)); then
    echo "FAIL: found ${#blocks[@]} examples in the manual page's EXAMPLES" >&2
    exit 1
fi

# The program alone, after variables and with the options that choose its
# files, on a line of its own: the window.
window='^[[:space:]]*([A-Za-z_][A-Za-z0-9_]*=[^[:space:]]*[[:space:]]+)*brennwerk-editor([[:space:]]+--(game-dir|ini-dir|registry)[[:space:]]+[^-\\[:space:]][^[:space:]]*)*[[:space:]]*$'
failures=0
for block in "${blocks[@]}"; do
    run=
    while IFS= read -r line; do
        [[ $line =~ $window ]] && line+=' paths'
        run+=$line$'\n'
    done <<<"$block"
    err=$( (cd "$home" && env -u DISPLAY -u WAYLAND_DISPLAY -u WINEPREFIX -u XDG_CONFIG_HOME \
        -u XDG_DATA_HOME -u XDG_STATE_HOME HOME="$home" PATH="$work/bin:$PATH" \
        bash --norc --noprofile -e -o pipefail -c "$run" >"$work/out") 2>&1)
    status=$?
    if ((status != 0)) || [[ -n $err ]]; then
        echo "FAIL: this example ended with status $status:" >&2
        printf '%s' "$block" >&2
        [[ -n $err ]] && printf '  stderr: %s\n' "$err" >&2
        failures=$((failures + 1))
    fi
done

if ((failures)); then
    echo "$failures of ${#blocks[@]} examples failed" >&2
    exit 1
fi
echo "all ${#blocks[@]} examples of the manual page ran"
