#!/usr/bin/env bash
# Builds the editor (preset default, build/) and starts it with the options given.
#   scripts/run.sh --demo   starts it on a fresh temporary copy of examples/
#                           with a temporary registry file naming that copy;
#                           both are removed when the editor exits.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

# In the source folder, where the presets are; the editor starts where the
# user is, for paths given to it.
(
    cd "$top"
    cmake --preset default >/dev/null
    cmake --build --preset default --target brennwerk-editor
)

args=()
demo=0
for arg in "$@"; do
    if [ "$arg" = "--demo" ]; then demo=1; else args+=("$arg"); fi
done

if ((!demo)); then
    exec "$top/build/brennwerk-editor" "${args[@]}"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/brennwerk-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp -r "$top/examples" "$scratch/UnrealTournament"
chmod -R u+w "$scratch/UnrealTournament"
folder=${scratch//\\/\\\\}
{
    printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n'
    printf '[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] %s\n' "$(date +%s)"
    printf '"Folder"="%s/UnrealTournament"\n"Version"="436"\n' "$folder"
} >"$scratch/system.reg"
echo "Demo installation: $scratch/UnrealTournament (removed when the editor exits)" >&2

# The editor runs as a child, so that the copy can be removed after it; a
# signal to this script (Ctrl+C, a closed terminal) ends the editor first.
"$top/build/brennwerk-editor" --registry "$scratch/system.reg" "${args[@]}" &
editor=$!
trap 'kill -TERM "$editor" 2>/dev/null || true' INT TERM HUP
status=0
while :; do
    wait "$editor" && status=0 || status=$?
    # A signal to this script ends the wait early; the editor may still run.
    kill -0 "$editor" 2>/dev/null || break
done
exit "$status"
