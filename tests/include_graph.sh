#!/bin/sh
# The include graph between the folders of src/, and a check that every
# arrow points down the layers (src/CMakeLists.txt links them in the same
# order): a folder includes itself and the folders below it, never one above
# it or beside it. Prints each arrow with how many includes make it; exits 1
# when one points the wrong way.
#   include_graph.sh [SOURCE_DIR]
set -eu
src=${1:-$(dirname "$0")/..}/src

# Folders on one layer must not include each other.
layer() {
    case $1 in
        platform) echo 0 ;;
        config) echo 1 ;;
        cli|controls) echo 2 ;;
        pages) echo 3 ;;
        app) echo 4 ;;
        main.cpp|window.cpp|window.h) echo 5 ;;
        *) echo 99 ;;
    esac
}

arrows=$(cd "$src" && grep -r -o --include='*.h' --include='*.cpp' '^#include "[^"/]*/' . |
    sed -E 's#^\./([^/:]*)(/[^:]*)?:\#include "([^/]*)/$#\1 \3#' | sort | uniq -c)
wrong=0
while read -r count from to; do
    [ "$from" = "$to" ] && continue
    if [ "$(layer "$from")" = 99 ] || [ "$(layer "$to")" = 99 ]; then
        echo "$from -> $to ($count): a folder without a layer; give it one here and in src/CMakeLists.txt" >&2
        wrong=1
    elif [ "$(layer "$to")" -lt "$(layer "$from")" ]; then
        echo "$from -> $to ($count)"
    else
        echo "$from -> $to ($count): points up or across the layers" >&2
        wrong=1
    fi
done <<ARROWS
$arrows
ARROWS
exit $wrong
