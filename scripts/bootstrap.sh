#!/usr/bin/env bash
# Installs every tool and library Orlune needs to build, test and run.
# Debian/Ubuntu: apt-get (as root, or through sudo). macOS: Homebrew.
# Safe to run again: installed packages are left as they are. Last, the
# MCP conformance test's Node packages (tests/mcp, from the npm registry).
set -euo pipefail
cd "$(dirname "$0")/.."

debian_packages=(
    build-essential cmake ninja-build pkg-config ccache git
    libsqlite3-dev sqlite3
    libicu-dev
    libphonenumber-dev
    libstemmer-dev wordnet-base
    libssl-dev
    nlohmann-json3-dev
    qt6-base-dev libgl-dev qt6-qpa-plugins fonts-dejavu-core
    qtkeychain-qt6-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libcurl4-openssl-dev
    clang libclang-rt-14-dev
    libc++-dev libc++abi-dev
    shellcheck
    clang-format clang-tidy
    python3
)

# Only what the macOS build uses: SQLite, libcurl and SHA-256 (CommonCrypto)
# come with the system. qtbase is the part of Qt the project needs (the "qt"
# formula pulls in every module). icu4c is keg-only: CMake finds it through
# `brew --prefix icu4c` (cmake/Homebrew.cmake); llvm is the clang with
# libFuzzer that the fuzz-mac preset uses (and clang-tidy); boost is named by
# libphonenumber's CMake package (cmake/PhoneNumber.cmake); clang-format
# checks the formatting. snowball is the stemmer library the answer engine
# links (cmake/Stemmer.cmake); wordnet, the database of related words it
# reads at run time (in $(brew --prefix)/opt/wordnet/dict).
brew_packages=(cmake ninja ccache icu4c nlohmann-json qtbase qtkeychain googletest llvm
               libphonenumber boost clang-format node snowball wordnet)

# Node.js and npm run the MCP conformance test. Debian's packages unless a
# node and an npm are already on the PATH (from any source).
node_debian_packages=(nodejs npm)

missing_debian_packages() {
    local pkg
    for pkg in "${debian_packages[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
    done
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        printf '%s\n' "${node_debian_packages[@]}"
    fi
}

# `npm ci` in tests/mcp, skipped when node_modules was installed from the
# lock file as it is now.
install_node_packages() {
    local dir=tests/mcp
    if [ "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ]; then
        echo "bootstrap: MCP test packages present"
        return 0
    fi
    echo "bootstrap: installing the MCP test packages (npm ci)"
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
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
    else
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        echo "bootstrap: installing ${missing[*]:-}"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            ${missing[@]+"${missing[@]}"}
    fi
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
    else
        echo "bootstrap: installing ${missing[*]:-}"
        brew install --formula ${missing[@]+"${missing[@]}"}
    fi
    ;;
*)
    echo "bootstrap: unsupported system $(uname -s)" >&2
    exit 1
    ;;
esac

install_node_packages
