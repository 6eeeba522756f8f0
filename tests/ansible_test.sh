#!/usr/bin/env bash
# The Ansible module brennwerk_ini, run by the real ansible-playbook on an
# inventory of local hosts, each with its own copy of a server's
# UnrealTournament.ini (CR LF, Windows-1252, repeated keys, comments):
# every edit lands as the same edit made by the command line does; a second
# run changes nothing and says so; check mode writes nothing and tells what
# would change; --diff shows the change; a host that fails (a read-only
# file, a missing section) fails alone with the program's message.
# No network, no ssh; everything Ansible writes stays in a temporary HOME.
#   tests/ansible_test.sh PROGRAM MODULE_DIR SERVER_INI
# Exits 77 (skipped) where ansible-playbook is not installed.
set -uo pipefail

if (($# != 3)); then
    echo "usage: $0 PROGRAM MODULE_DIR SERVER_INI" >&2
    exit 2
fi
program=$(realpath "$1")
module_dir=$(realpath "$2")
server_ini=$(realpath "$3")

for tool in ansible-playbook ansible-doc ansible-config python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/deps.sh --tests installs ansible-core)" >&2
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ansible_test.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/home" "$work/state" "$work/other"
ln -s "$program" "$work/bin/brennwerk-editor"
# A copy by another name that leaves a mark, for the host that names its
# program with "executable".
printf '#!/bin/sh\ntouch "%s/other/used"\nexec "%s" "$@"\n' "$work" "$program" >"$work/other/ut-ini"
chmod +x "$work/other/ut-ini"
: >"$work/ansible.cfg"
export PATH=$work/bin:$PATH HOME=$work/home XDG_STATE_HOME=$work/state LC_ALL=C.UTF-8 \
    ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_LIBRARY=$module_dir \
    ANSIBLE_LOCAL_TEMP=$work/home/.ansible/tmp ANSIBLE_REMOTE_TEMP=$work/remote-tmp \
    ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_GATHERING=explicit ANSIBLE_FORKS=5 ANSIBLE_PIPELINING=1
unset ANSIBLE_INVENTORY ANSIBLE_COLLECTIONS_PATH ANSIBLE_COLLECTIONS_PATHS

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Where the Debian package puts the module, Ansible looks without being told.
default_path=$(env -u ANSIBLE_LIBRARY ansible-config dump 2>&1 | grep '^DEFAULT_MODULE_PATH')
[[ $default_path == *"'/usr/share/ansible/plugins/modules'"* ]] ||
    fail "/usr/share/ansible/plugins/modules is not on Ansible's default module path: $default_path"

doc=$(ansible-doc -M "$module_dir" brennwerk_ini 2>&1) || fail "ansible-doc brennwerk_ini: $doc"
for text in '= path' '- section' '- option' '- value' '- values' '- exclusive' '- state' '- first' \
    '- create' '- script' '- executable' EXAMPLES 'RETURN VALUES'; do
    grep -qF -e "$text" <<<"$doc" || fail "ansible-doc brennwerk_ini does not show '$text'"
done

# The edits, as tables the playbook and the command line both work from.
# set: SECTION KEY VALUE. Values a script must quote: blanks, quotes, "#",
# backslashes, "=", what a shell would expand, text beyond ASCII, a leading
# "-", nothing at all.
sets=(
    Engine.GameReplicationInfo MOTDLine2 "Bär € \"Glut\" it's # no comment \\ back\\\\slash a=b \$HOME \`x\` ;|&<>()"
    Engine.GameReplicationInfo MOTDLine3 '--not-an-option'
    Engine.GameReplicationInfo ShortName ''
    Engine.GameReplicationInfo AdminName 'Jürgen \'
)
# add: SECTION KEY VALUE, one task per key, its values in one list.
adds=(
    Engine.GameEngine ServerPackages MyMod
    Engine.GameEngine ServerPackages 'MyModTexturen™'
    Engine.GameEngine ServerActors 'MyMod.MyActor Speed=2 Name="Glut Ofen"'
)
# exclusive: the key keeps these (the file's spelling wins), the rest goes.
exclusive_section=Editor.EditorEngine exclusive_key=EditPackages
exclusive=(core Engine MyModEd)

python3 - "$work/vars.json" "${#sets[@]}" "${sets[@]}" "${adds[@]}" -- "${exclusive[@]}" <<'END'
import json, sys
out, count, rest = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
sets, rest = rest[:count], rest[count:]
split = rest.index('--')
adds, exclusive = rest[:split], rest[split + 1:]
groups = {}
for i in range(0, len(adds), 3):
    groups.setdefault((adds[i], adds[i + 1]), []).append(adds[i + 2])
json.dump({
    'sets': [sets[i:i + 3] for i in range(0, len(sets), 3)],
    'adds': [{'section': s, 'option': k, 'values': v} for (s, k), v in groups.items()],
    'exclusive': exclusive,
}, open(out, 'w'))
END

cat >"$work/playbook.yml" <<END
- hosts: servers
  gather_facts: false
  vars_files: [$work/vars.json]
  module_defaults:
    brennwerk_ini:
      path: "{{ ini }}"
      executable: "{{ exe | default(omit) }}"
  tasks:
    - name: the mod's packages and actors
      brennwerk_ini:
        section: "{{ item.section }}"
        option: "{{ item.option }}"
        values: "{{ item['values'] }}"
      loop: "{{ adds }}"
    - name: single keys
      brennwerk_ini:
        section: "{{ item[0] }}"
        option: "{{ item[1] }}"
        value: "{{ item[2] }}"
      loop: "{{ sets }}"
    - name: a list made exactly these values
      brennwerk_ini:
        section: $exclusive_section
        option: $exclusive_key
        values: "{{ exclusive }}"
        exclusive: true
    - name: a list's line taken out, named in other letter case
      brennwerk_ini:
        section: Engine.GameEngine
        option: ServerActors
        values: [uweb.webserver]
        state: absent
    - name: every line of a key taken out
      brennwerk_ini:
        section: Core.System
        option: Suppress
        state: absent
    - name: the first line of a list
      brennwerk_ini:
        section: Core.System
        option: Paths
        value: ../System469/*.u
        first: true
    - name: a script, making its section
      brennwerk_ini:
        create: true
        script: |
          # the mod's own settings
          set MyMod.Settings Greeting 'Grüß Gott, "Spieler"'
          add Engine.GameEngine ServerPackages MyModSounds
END
tasks=$(grep -c '^      brennwerk_ini:$' "$work/playbook.yml")

# The same edits through the command line, one call each.
reference=$work/reference.ini
cp "$server_ini" "$reference"
edit() { "$program" "$@" || fail "brennwerk-editor $*"; }
for ((i = 0; i < ${#adds[@]}; i += 3)); do
    edit add -- "$reference" "${adds[@]:i:3}"
done
for ((i = 0; i < ${#sets[@]}; i += 3)); do
    edit set -- "$reference" "${sets[@]:i:3}"
done
patterns=()
for value in "${exclusive[@]}"; do patterns+=(-e "$value"); done
while IFS= read -r value; do
    edit remove -- "$reference" "$exclusive_section" "$exclusive_key" "$value"
done < <("$program" get --all "$reference" "$exclusive_section" "$exclusive_key" | grep -vixF "${patterns[@]}")
for value in "${exclusive[@]}"; do
    edit add -- "$reference" "$exclusive_section" "$exclusive_key" "$value"
done
edit remove "$reference" Engine.GameEngine ServerActors uweb.webserver
edit unset "$reference" Core.System Suppress
edit set --first "$reference" Core.System Paths ../System469/*.u
edit set --create "$reference" MyMod.Settings Greeting 'Grüß Gott, "Spieler"'
edit add "$reference" Engine.GameEngine ServerPackages MyModSounds
cmp -s "$reference" "$server_ini" && fail "the edits change nothing in the server's file"

# The hosts: three servers that take the edits (one naming its program), one
# whose file is read-only, one whose file lacks [Engine.GameEngine].
good=(glutofen feuerstelle kamin)
bad=(readonly nosection)
{
    echo '[servers]'
    for host in "${good[@]}" "${bad[@]}"; do
        mkdir -p "$work/$host/System"
        cp "$server_ini" "$work/$host/System/UnrealTournament.ini"
        printf '%s ini=%s\n' "$host" "$work/$host/System/UnrealTournament.ini"
    done | sed "s|^kamin .*|& exe=$work/other/ut-ini|"
    printf '[servers:vars]\nansible_connection=local\nansible_python_interpreter=/usr/bin/python3\n'
} >"$work/hosts"
chmod 0444 "$work/readonly/System/UnrealTournament.ini"
sed -i 's/^\[Engine\.GameEngine\]/[Engine.GameEngin]/' "$work/nosection/System/UnrealTournament.ini"
ini() { echo "$work/$1/System/UnrealTournament.ini"; }
snapshot() {
    for host in "${good[@]}" "${bad[@]}"; do cp "$(ini "$host")" "$work/$host/$1"; done
}
unchanged_since() {
    for host in "${good[@]}" "${bad[@]}"; do
        cmp -s "$(ini "$host")" "$work/$host/$1" || fail "$2: $host's file changed"
    done
}

playbook() {
    local log=$1
    shift
    ansible-playbook -i "$work/hosts" "$work/playbook.yml" "$@" >"$log" 2>&1
    echo "ansible-playbook $* (status $?):"
    sed -n '/^PLAY RECAP/,$p' "$log"
}
# recap LOG HOST FIELD: the count the play's recap gives the host.
recap() {
    sed -n "/^PLAY RECAP/,\$s/^$2 *:.* $3=\([0-9]*\).*/\1/p" "$1"
}
expect_recap() {
    local log=$1 run=$2 host=$3 field=$4 want=$5 got
    got=$(recap "$log" "$host" "$field")
    [[ $got == "$want" ]] || fail "$run: $host has $field=${got:-?}, not $want"
}
# The diff lines of an edit (any line end), as ansible-playbook shows them.
# Not through a pipe: grep -q leaves at the first match, and the writer's
# SIGPIPE would fail the pipeline.
shows() {
    grep -qxF -e "$2" <(tr -d '\r' <"$1") || fail "$3 does not show '$2'"
}

# Check mode first: it writes nothing, and tells what would change.
snapshot original
playbook "$work/check.log" --check --diff
unchanged_since original "check mode"
for host in "${good[@]}"; do
    expect_recap "$work/check.log" "check mode" "$host" changed "$tasks"
    expect_recap "$work/check.log" "check mode" "$host" failed 0
done
expect_recap "$work/check.log" "check mode" nosection failed 1
shows "$work/check.log" "+ServerPackages=MyMod" "check mode's diff"
shows "$work/check.log" "+MOTDLine2=${sets[2]}" "check mode's diff"
shows "$work/check.log" "--- $(ini glutofen)" "check mode's diff"

# The real run: every good host takes every edit, byte for byte as the
# command line makes them; each bad host fails alone with the program's word.
rm -f "$work/other/used"
playbook "$work/first.log" --diff
for host in "${good[@]}"; do
    cmp -s "$(ini "$host")" "$reference" || {
        fail "$host's file is not what the command line makes of it:"
        diff <(iconv -f cp1252 -t utf-8 "$reference") <(iconv -f cp1252 -t utf-8 "$(ini "$host")") >&2
    }
    expect_recap "$work/first.log" "first run" "$host" changed "$tasks"
    expect_recap "$work/first.log" "first run" "$host" failed 0
done
[[ -e $work/other/used ]] || fail "kamin's task did not run the program its 'executable' names"
for host in "${bad[@]}"; do
    expect_recap "$work/first.log" "first run" "$host" failed 1
    cmp -s "$(ini "$host")" "$work/$host/original" || fail "first run: $host's file changed"
done
grep -qF "brennwerk-editor: unable to write to $(ini readonly): it is read-only" "$work/first.log" ||
    fail "the read-only host's failure does not carry the program's message"
grep -qF "there is no section [Engine.GameEngine] in $(ini nosection)" "$work/first.log" ||
    fail "the host without the section does not fail with the program's message"
shows "$work/first.log" "+ServerActors=${adds[8]}" "the first run's diff"
shows "$work/first.log" "-ServerActors=UWeb.WebServer" "the first run's diff"
shows "$work/first.log" "+Greeting=Grüß Gott, \"Spieler\"" "the first run's diff"

# Again: nothing left to change, nothing written, no diff.
snapshot first
playbook "$work/second.log" --diff
unchanged_since first "second run"
for host in "${good[@]}"; do
    expect_recap "$work/second.log" "second run" "$host" changed 0
    expect_recap "$work/second.log" "second run" "$host" failed 0
done
grep -q '^+++ ' "$work/second.log" && fail "the second run shows a diff"

if ((failures)); then
    for log in check first second; do
        echo "== $log run" >&2
        cat "$work/$log.log" >&2
    done
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "ansible checks passed"
