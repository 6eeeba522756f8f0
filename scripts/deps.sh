#!/usr/bin/env bash
# Installs the Debian packages a task needs, when any is missing. Each script
# asks for what it needs; the options combine.
#   scripts/deps.sh              building and running the editor (scripts/run.sh)
#   scripts/deps.sh --package    and building the Debian package (cpack)
#   scripts/deps.sh --tests      and running the tests (scripts/test.sh)
#   scripts/deps.sh --with-wine  and Wine, for the tests against a real Wine prefix
#   scripts/deps.sh --fuzz       and clang-14 with libFuzzer (scripts/fuzz.sh)
#   scripts/deps.sh --bench      and Google Benchmark and the peers measured against (scripts/bench.sh)
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n libgl-dev libjpeg-dev)

for arg in "$@"; do
    case "$arg" in
        # CPack works out the package's dependencies with dpkg-shlibdeps.
        --package) packages+=(dpkg-dev) ;;
        # The package test builds the package and checks it with lintian, the
        # menu entry and the AppStream data with their validators, the manual
        # page with man, and the completion with bash-completion. The Registry
        # page of a native install is tested against the desktop's own tools:
        # xdg-mime and xdg-open, GLib's gio, update-mime-database,
        # desktop-file-validate. setcap gives a copy of the program a file
        # capability, which it must refuse. setfacl, strace and mkfs.ext4
        # make the ACLs, the traces and the whole-second file system of the
        # crash-safety tests. ansible-playbook runs the Ansible module.
        # patch and git apply the diffs the editor prints, as operators do;
        # python3 types into an interactive bash through a pseudo-terminal
        # to try the completion as a person does.
        --tests) packages+=(dpkg-dev lintian desktop-file-utils appstream man-db bash-completion
                            xdg-utils libglib2.0-bin shared-mime-info libcap2-bin
                            acl strace e2fsprogs ansible-core patch git python3) ;;
        # The editor itself never runs Wine.
        --with-wine) packages+=(wine wine64) ;;
        # clang-14 and its runtime (libFuzzer, sanitizers) build the fuzz targets.
        --fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
        # GNU time gives a command's peak memory (bench/shapes_bench.sh);
        # crudini is the yardstick of apply (bench/apply_bench.sh).
        --bench) packages+=(libbenchmark-dev time crudini) ;;
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
