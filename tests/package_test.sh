#!/usr/bin/env bash
# Builds the Debian package from a finished build folder and checks what a
# user would get from it: the files and where they land, the package's
# fields and dependencies, what lintian says of it, a valid .desktop entry
# and AppStream data, a manual page that renders, a bash completion that
# bash-completion finds, and a program that starts.
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

for tool in dpkg dpkg-deb dpkg-shlibdeps dpkg-architecture lintian desktop-file-validate appstreamcli man readelf od; do
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
# A tool, not a game: Debian's section for it is utils.
[[ $(field Section) == utils ]] || fail "Section is '$(field Section)'"
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
# The window, which the program loads when no command is given: a private
# library, where Debian keeps a package's own.
has -rw-r--r-- "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/$name/$name-window.so"
has -rw-r--r-- "usr/share/applications/$name.desktop"
for size in "${icon_sizes[@]}"; do
    has -rw-r--r-- "usr/share/icons/hicolor/${size}x${size}/apps/$name.png"
done
has -rw-r--r-- "usr/share/doc/$name/copyright"
has -rw-r--r-- "usr/share/doc/$name/README.md"
has -rw-r--r-- "usr/share/doc/$name/changelog.gz"
has -rw-r--r-- "usr/share/man/man1/$name.1.gz"
has -rw-r--r-- "usr/share/bash-completion/completions/$name"
has -rw-r--r-- "usr/share/ansible/plugins/modules/brennwerk_ini.py"
metainfo=$(awk '{ print $2 }' "$work/contents" | grep -m1 -E '^\./usr/share/metainfo/.*\.metainfo\.xml$')
[[ -n $metainfo ]] || fail "the package holds no AppStream metainfo file"
# Only those files (and lintian's overrides, when there are any), and no
# tests, benchmarks or the static library.
unexpected=$(grep -v '^d' "$work/contents" | awk '{ print $2 }' \
    | grep -vxE "\./usr/bin/$name|\./usr/lib/[a-z0-9_-]+/$name/$name-window\.so|\./usr/share/applications/$name\.desktop|\./usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/$name\.png|\./usr/share/doc/$name/(copyright|README\.md|changelog\.gz)|\./usr/share/man/man1/$name\.1\.gz|\./usr/share/bash-completion/completions/$name|\./usr/share/ansible/plugins/modules/brennwerk_ini\.py|\./usr/share/metainfo/[A-Za-z0-9_.]+\.metainfo\.xml|\./usr/share/lintian/overrides/$name")
[[ -z $unexpected ]] || fail "unexpected files in the package: $unexpected"
echo "contents:"
sed 's/^/  /' "$work/contents"

dpkg-deb --extract "$deb" "$work/root"
root=$work/root

# lintian, as a Debian developer runs it: no error and no warning, and none
# of the informational tags of what the release build promises (hardening,
# stripped sections). A tag the package accepts stands in its overrides
# file, each with the reason in a comment line above it.
lintian --info --display-info --show-overrides "$deb" >"$work/lintian.log" 2>"$work/lintian.err"
echo "lintian:"
sed 's/^/  /' "$work/lintian.log"
grep -v 'running with root privileges is not recommended' "$work/lintian.err" >&2
if grep -E '^(E|W): |^I: [^ ]+: (hardening-no-|binary-has-unneeded-section|unused-override)' "$work/lintian.log" >&2; then
    fail "lintian reports the lines above"
fi
grep -qx 'License: Expat' "$root/usr/share/doc/$name/copyright" || fail "the copyright file names no MIT (Expat) licence"
overrides=$root/usr/share/lintian/overrides/$name
if [[ -f $overrides ]]; then
    awk '/^[[:space:]]*$/ { reason = 0; next }
         /^#/ { reason = 1; next }
         !reason { print "  " $0; bad = 1 }
         { reason = 0 }
         END { exit bad }' "$overrides" >&2 || fail "a lintian override without a reason in a comment above it"
fi

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
    # Exactly one of freedesktop.org's main menu categories, else menus list the
    # entry twice; a game's tool stands beside the games.
    categories=$(grep -m1 '^Categories=' "$desktop" | cut -d= -f2-)
    main_categories=$(tr ';' '\n' <<<"$categories" \
        | grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility')
    [[ $main_categories == 1 && ";$categories" == *";Game;"* ]] || fail "Categories=$categories: not Game alone as the main category"
    grep -q '^Keywords=' "$desktop" && grep -q '^Keywords\[de\]=' "$desktop" || fail "no Keywords in English and German"
    # Qt names the window's class after the application name, which the
    # program sets to its own name.
    grep -qx "StartupWMClass=$name" "$desktop" || fail "no StartupWMClass=$name"
fi

# The AppStream data software centres show: valid, naming this package's
# program, menu entry and licence, in English and German.
if [[ -n $metainfo && -f $root/$metainfo ]]; then
    appstreamcli validate --no-net "$root/$metainfo" >&2 || fail "appstreamcli validate rejects $(basename "$metainfo")"
    appstreamcli validate-tree --no-net "$root" >&2 || fail "appstreamcli validate-tree rejects the package's tree"
    for element in "<binary>$name</binary>" "<launchable type=\"desktop-id\">$name.desktop</launchable>" \
        '<project_license>MIT</project_license>' '<summary xml:lang="de">' '<p xml:lang="de">' \
        '<content_rating type=' '<screenshot type="default">' "<release version=\"$version\""; do
        grep -qF "$element" "$root/$metainfo" || fail "the metainfo lacks $element"
    done
fi

# The manual page: "man brennwerk-editor" finds it, it renders without a
# warning, it documents every command and option, and its examples work.
manpage=$root/usr/share/man/man1/$name.1.gz
if [[ -f $manpage ]]; then
    [[ $(MANPATH=$root/usr/share/man man -w "$name" 2>&1) == "$manpage" ]] || fail "man does not find $name(1) in the package"
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$manpage" 2>"$work/man.err")
    if [[ -s $work/man.err ]]; then
        cat "$work/man.err" >&2
        fail "man reports the warnings above for $name(1)"
    fi
    for text in SYNOPSIS OPTIONS 'EXIT STATUS' FILES ENVIRONMENT EXAMPLES WINEPREFIX XDG_CONFIG_HOME \
        --game-dir --ini-dir --registry --create --first --all --dry-run --diff ' get ' ' set ' ' add ' \
        ' remove ' ' unset ' ' list ' ' apply ' ' paths'; do
        grep -qF -e "$text" <<<"$rendered" || fail "$name(1) does not mention '$text'"
    done
    # Its examples, as a reader pastes them, with the package's program.
    "$(dirname "$0")/manpage_examples.sh" "$root/usr/bin/$name" "$manpage" "$(dirname "$0")/../examples" \
        || fail "examples of $name(1) do not work as shown"
fi

# The completion, where bash-completion looks for it on the first TAB after
# the command's name.
if [[ -f /usr/share/bash-completion/bash_completion ]]; then
    loaded=$(XDG_DATA_DIRS=$root/usr/share bash --norc --noprofile -c \
        '. /usr/share/bash-completion/bash_completion; __load_completion "$1" && complete -p "$1"' - "$name" 2>&1)
    [[ $loaded == "complete -F "*" $name" ]] || fail "bash-completion does not load the package's completion: $loaded"
else
    fail "bash-completion is missing (scripts/deps.sh installs it)"
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
    [[ $(head -n1 <<<"$output") == "Brennwerk-Editor $version" ]] || fail "--version printed '$output'"
    grep -q 'MIT' <<<"$output" || fail "--version names no licence"
    # Without a command it loads its window from where the package put it,
    # which then finds no display.
    output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$binary" 2>&1)
    status=$?
    [[ $status == 1 && $output == "$name: no display found"* ]] || fail "the window did not load: '$output' (status $status)"
fi

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
