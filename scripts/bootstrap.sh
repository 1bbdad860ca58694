#!/usr/bin/env bash
# Installs every tool and library Orlune needs to build, test and run.
# Debian/Ubuntu: apt-get (as root, or through sudo). macOS: Homebrew.
# Safe to run again: installed packages are left as they are.
set -euo pipefail

debian_packages=(
    build-essential cmake ninja-build pkg-config ccache git
    libsqlite3-dev sqlite3
    libicu-dev
    libphonenumber-dev
    libssl-dev
    nlohmann-json3-dev
    qt6-base-dev libgl-dev qt6-qpa-plugins fonts-dejavu-core
    qtkeychain-qt6-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libcurl4-openssl-dev
    clang libclang-rt-14-dev
    libc++-dev libc++abi-dev
    shellcheck
    python3
)

# Only what the macOS build uses: SQLite, libcurl and SHA-256 (CommonCrypto)
# come with the system. qtbase is the part of Qt the project needs (the "qt"
# formula pulls in every module). icu4c is keg-only: CMake finds it through
# `brew --prefix icu4c` (cmake/Homebrew.cmake); llvm is the clang with
# libFuzzer that the fuzz-mac preset uses; boost is named by libphonenumber's
# CMake package (cmake/PhoneNumber.cmake).
brew_packages=(cmake ninja ccache icu4c nlohmann-json qtbase qtkeychain googletest llvm
               libphonenumber boost)

missing_debian_packages() {
    local pkg
    for pkg in "${debian_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
    done
}

case "$(uname -s)" in
Linux)
    if ! command -v apt-get >/dev/null; then
        echo "bootstrap: this script knows apt-get (Debian, Ubuntu); install the packages by hand:" >&2
        echo "  ${debian_packages[*]}" >&2
        exit 1
    fi
    # No mapfile: the script keeps to macOS's bash 3.2 throughout.
    missing=()
    while IFS= read -r pkg; do
        missing+=("$pkg")
    done < <(missing_debian_packages)
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "bootstrap: all packages present"
        exit 0
    fi
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "bootstrap: installing ${missing[*]:-}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        ${missing[@]+"${missing[@]}"}
    ;;
Darwin)
    command -v brew >/dev/null || { echo "bootstrap: Homebrew is needed on macOS" >&2; exit 1; }
    xcode-select -p >/dev/null 2>&1 || {
        echo "bootstrap: the Xcode command-line tools are needed: xcode-select --install" >&2
        exit 1
    }
    missing=()
    for pkg in "${brew_packages[@]}"; do
        brew list --formula "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        echo "bootstrap: all packages present"
        exit 0
    fi
    echo "bootstrap: installing ${missing[*]:-}"
    brew install --formula ${missing[@]+"${missing[@]}"}
    ;;
*)
    echo "bootstrap: unsupported system $(uname -s)" >&2
    exit 1
    ;;
esac
