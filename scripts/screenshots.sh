#!/usr/bin/env bash
# Makes the README's pictures: the renderer question over the main window as
# the editor starts, and the main window once Direct3D is answered. Builds
# the editor (preset default, build/), runs it on a fresh temporary copy of
# examples/ under Xvfb with the Openbox window manager, and captures with
# ImageMagick's "import". Also prints the window class Qt gives the program
# (the menu entry's StartupWMClass must match it).
#   scripts/screenshots.sh [OUTPUT_DIR]   (default: resources/screenshots)
# Needs (not part of scripts/deps.sh): xvfb openbox imagemagick xdotool x11-utils
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/resources/screenshots}

for tool in Xvfb openbox import xdotool xprop; do
    command -v "$tool" >/dev/null || {
        echo "screenshots.sh: $tool is missing: apt-get install xvfb openbox imagemagick xdotool x11-utils" >&2
        exit 1
    }
done

(
    cd "$top"
    cmake --preset default >/dev/null
    cmake --build --preset default --target brennwerk-editor
)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/brennwerk-screenshots.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The sample game and a registry naming it, as scripts/run.sh --demo has them.
game=$scratch/UnrealTournament
cp -r "$top/examples" "$game"
chmod -R u+w "$game"
{
    printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n'
    printf '[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n'
    printf '"Folder"="%s"\n"Version"="436"\n' "${game//\\/\\\\}"
} >"$scratch/system.reg"
mkdir -p "$scratch/home"

# A display of its own, and a window manager to give the windows their frames.
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>"$scratch/xvfb.log")
pids+=($!)
read -r -t 30 number <&3 || { cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=:$number
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
pids+=($!)
sleep 1

# The German locale the window is written for: the clock's date and time.
LANG=de_DE.UTF-8 LC_ALL= "$top/build/brennwerk-editor" --registry "$scratch/system.reg" \
    >"$scratch/editor.log" 2>&1 &
pids+=($!)

main=$(xdotool search --sync --onlyvisible --name '^Brennwerk-Editor v2\.3$' | head -n1)
question=$(xdotool search --sync --onlyvisible --name '^Renderer$' | head -n1)
sleep 1
echo "WM_CLASS of the main window: $(xprop -id "$main" WM_CLASS | cut -d= -f2-)"

mkdir -p "$out"
# The question over the main window, as every start shows it: the screen's
# area of the main window and its frame.
root=$(xwininfo -root | awk '/Window id:/ { print $4 }')
outer=$main
while parent=$(xwininfo -children -id "$outer" | awk '/Parent window id:/ { print $4 }') && [[ $parent != "$root" ]]; do
    outer=$parent
done
frame=$(xwininfo -id "$outer" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
           /Width:/ { w = $NF } /Height:/ { h = $NF } END { print w "x" h "+" x "+" y }')
import -window root -crop "$frame" +repage -strip "$out/renderer-question.png"

# Answer Direct3D (the sample's device): the question closes without a box,
# and the System page's Direct3D group is unlocked.
# Its first button has the focus; Space presses it.
xdotool windowactivate --sync "$question" key --clearmodifiers space
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Renderer$' >/dev/null || break
    sleep 0.2
done
if xdotool search --onlyvisible --name '^Renderer$' >/dev/null; then
    echo "screenshots.sh: the renderer question did not close" >&2
    exit 1
fi
sleep 1
import -frame -window "$main" -strip "$out/main-window.png"

echo "Wrote $out/main-window.png and $out/renderer-question.png" >&2
