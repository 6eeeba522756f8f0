#!/usr/bin/env bash
# Builds the Debian package from a finished build folder and checks what a
# user would get from it: the files and where they land, the package's
# fields and dependencies, a valid .desktop entry, and a program that starts.
# Installs nothing: the package is unpacked into a temporary folder.
#   tests/package_test.sh BUILD_DIR CPACK VERSION
set -uo pipefail

if (($# != 3)); then
    echo "usage: $0 BUILD_DIR CPACK VERSION" >&2
    exit 2
fi
build=$1
cpack=$2
version=$3
name=brennwerk-editor
icon_sizes=(16 32 48 64 128 256)

for tool in dpkg dpkg-deb dpkg-shlibdeps desktop-file-validate readelf od; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing (scripts/deps.sh installs it)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/package_test.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Into a folder of our own, so that a package the user built in the build
# folder is neither used nor overwritten.
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
deb=$work/out/${name}_${version}_$(dpkg --print-architecture).deb
if [[ ! -f $deb ]]; then
    cat "$work/cpack.log" >&2
    ls -l "$work/out" >&2
    echo "FAIL: no $(basename "$deb")" >&2
    exit 1
fi
echo "built $(basename "$deb")"

# The control fields.
field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == "$name" ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)'"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture is '$(field Architecture)'"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
[[ $(field Section) =~ ^(games|utils)$ ]] || fail "Section is '$(field Section)'"
[[ -n $(field Description) ]] || fail "no Description"
depends=$(field Depends)
echo "Depends: $depends"
# Computed from the program's own libraries, so each must be named with
# the version it needs.
for library in libqt6core6 libqt6gui6 libqt6widgets6 'libjpeg62-turbo|libjpeg[0-9]' libc6 'libstdc\+\+6'; do
    [[ $depends =~ (^|, )($library)\ \( ]] || fail "Depends names no versioned $library"
done
[[ $depends =~ (^|, )qt6-translations-l10n(,|$) ]] || fail "Depends names no qt6-translations-l10n"

# The file list.
dpkg-deb --contents "$deb" | awk '{ print $1, $6 }' >"$work/contents"
has() {
    local mode=$1 path=$2
    grep -qxF -e "$mode ./$path" "$work/contents" || fail "the package lacks $path (or not as $mode)"
}
has -rwxr-xr-x "usr/bin/$name"
has -rw-r--r-- "usr/share/applications/$name.desktop"
for size in "${icon_sizes[@]}"; do
    has -rw-r--r-- "usr/share/icons/hicolor/${size}x${size}/apps/$name.png"
done
has -rw-r--r-- "usr/share/doc/$name/copyright"
has -rw-r--r-- "usr/share/doc/$name/README.md"
# Only those files, and no tests, benchmarks or the static library.
unexpected=$(grep -v '^d' "$work/contents" | awk '{ print $2 }' \
    | grep -vxE "\./usr/bin/$name|\./usr/share/applications/$name\.desktop|\./usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/$name\.png|\./usr/share/doc/$name/(copyright|README\.md)")
[[ -z $unexpected ]] || fail "unexpected files in the package: $unexpected"
echo "contents:"
sed 's/^/  /' "$work/contents"

dpkg-deb --extract "$deb" "$work/root"
root=$work/root

# The menu entry: valid, and naming the program and the icon of this package.
desktop=$root/usr/share/applications/$name.desktop
if [[ -f $desktop ]]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $name.desktop"
    exec_line=$(grep -m1 '^Exec=' "$desktop" | cut -d= -f2-)
    program=${exec_line%% *}
    [[ -x $root/usr/bin/$program ]] || fail "Exec= names '$program', which the package does not hold in /usr/bin"
    icon=$(grep -m1 '^Icon=' "$desktop" | cut -d= -f2-)
    [[ -f $root/usr/share/icons/hicolor/48x48/apps/$icon.png ]] || fail "Icon= names '$icon', which the package does not hold"
    grep -qx 'Name\[de\]=Brennwerk-Editor\|Name=Brennwerk-Editor' "$desktop" || fail "no German name"
    grep -q '^Comment\[de\]=' "$desktop" || fail "no German comment"
    grep -qx 'Categories=.*Game;.*' "$desktop" || fail "not in the Game category"
fi

# Each icon is a PNG of the size its folder promises.
for size in "${icon_sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$name.png
    [[ -f $png ]] || continue
    signature=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
    [[ $signature == 89504e470d0a1a0a ]] || { fail "${size}x${size} icon is not a PNG"; continue; }
    read -r width height < <(od -An -tu4 --endian=big -j16 -N8 "$png")
    [[ $width == "$size" && $height == "$size" ]] || fail "${size}x${size} icon is ${width}x${height}"
done

# The program as installed: it must not lean on the build folder, and it
# starts without any display.
binary=$root/usr/bin/$name
if [[ -x $binary ]]; then
    if readelf --dynamic "$binary" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
        fail "the program's library path points into the build folder"
    fi
    output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" --version 2>&1)
    status=$?
    echo "$name --version: $output"
    [[ $status == 0 ]] || fail "--version exited with status $status"
    [[ $output == "Brennwerk-Editor $version" ]] || fail "--version printed '$output'"
fi

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
