#!/usr/bin/env bash
# Builds the editor in build/ and starts it with the options given.
#   scripts/run.sh --demo   starts it on a fresh temporary copy of examples/
#                           with a temporary registry file naming that copy.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" --target brennwerk-editor

args=()
demo=0
for arg in "$@"; do
    if [ "$arg" = "--demo" ]; then demo=1; else args+=("$arg"); fi
done

if ((demo)); then
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/brennwerk-demo.XXXXXX")
    cp -r "$top/examples" "$scratch/UnrealTournament"
    chmod -R u+w "$scratch/UnrealTournament"
    folder=${scratch//\\/\\\\}
    {
        printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n'
        printf '[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] %s\n' "$(date +%s)"
        printf '"Folder"="%s/UnrealTournament"\n"Version"="436"\n' "$folder"
    } >"$scratch/system.reg"
    echo "Demo installation: $scratch/UnrealTournament" >&2
    args=(--registry "$scratch/system.reg" "${args[@]}")
fi

exec "$top/build/brennwerk-editor" "${args[@]}"
