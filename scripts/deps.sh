#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
# Sourced by run.sh and test.sh; safe to run on its own.
set -euo pipefail

# clang-14 and its runtime (libFuzzer, sanitizers) build the fuzz targets.
# The package test checks the package with lintian, the menu entry and the
# AppStream data with their validators, the manual page with man, and the
# completion with bash-completion.
packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n libgl-dev libjpeg-dev libbenchmark-dev
          clang-14 libclang-rt-14-dev
          dpkg-dev lintian desktop-file-utils appstream man-db bash-completion)

# --with-wine: Wine too, for the tests against a real Wine prefix (the editor
# itself never runs Wine).
for arg in "$@"; do
    case "$arg" in
        --with-wine) packages+=(wine wine64) ;;
        *) echo "deps.sh: unknown option '$arg'" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}" >&2
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -q
    # With the recommended packages: the tests were run against Wine and Qt
    # installed that way.
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi
