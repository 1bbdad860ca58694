#!/usr/bin/env bash
# Signs OrluneRLM.app from the inside out: the libraries and plugins, the
# frameworks, the helper and the command-line tool, then the bundle.
#
#   scripts/macos/sign.sh BUNDLE [IDENTITY]
#
# IDENTITY (or $ORLUNE_SIGN_IDENTITY) is a code-signing identity from your
# keychain ("Developer ID Application: Name (TEAMID)" for distribution, or a
# self-signed "Orlune Development" certificate; `security find-identity -v -p
# codesigning` lists them; a name or its SHA-1 hash). A "Developer ID
# Application" identity adds the hardened runtime and a secure timestamp, as
# notarization requires. Any other identity (a self-signed one has no Team
# ID) signs without them: with the hardened runtime, library validation
# would refuse the Homebrew libraries in the bundle, and the app would die at
# launch. Without an identity the bundle is signed ad hoc: it runs on this
# Mac, but macOS forgets a Full Disk Access grant whenever an ad hoc
# signature changes (every build), so sign development builds with a stable
# identity to keep the grant.
set -euo pipefail

bundle="${1:?usage: sign.sh BUNDLE [IDENTITY]}"
identity="${2:-${ORLUNE_SIGN_IDENTITY:-}}"
contents="$bundle/Contents"

# The certificate name of `identity`, which may be given by its hash.
identity_name() {
    if [[ "$identity" =~ ^[0-9A-Fa-f]{40}$ ]]; then
        security find-identity -v -p codesigning |
            awk -v hash="$(echo "$identity" | tr '[:lower:]' '[:upper:]')" \
                '$2 == hash && !found { found = 1; sub(/^[^"]*"/, ""); sub(/"[^"]*$/, ""); print }'
    else
        echo "$identity"
    fi
}

hardened=0
if [ -z "$identity" ]; then
    options=(--force --sign -)
else
    case "$(identity_name)" in
    "Developer ID Application:"*) hardened=1 ;;
    esac
    if [ "$hardened" = 1 ]; then
        options=(--force --sign "$identity" --options runtime --timestamp)
    else
        options=(--force --sign "$identity")
    fi
fi

is_macho() {
    file -b "$1" | grep -q 'Mach-O'
}

# Loose libraries and plugins first (depth first), then whole frameworks.
if [ -d "$contents/Frameworks" ] || [ -d "$contents/PlugIns" ]; then
    while IFS= read -r -d '' item; do
        if is_macho "$item"; then
            codesign "${options[@]}" "$item"
        fi
    done < <(find "$contents/Frameworks" "$contents/PlugIns" -type f \
                  \( -name '*.dylib' -o -name '*.so' \) -not -path '*.framework/*' -print0 2>/dev/null)
fi
if [ -d "$contents/Frameworks" ]; then
    while IFS= read -r -d '' framework; do
        codesign "${options[@]}" "$framework"
    done < <(find "$contents/Frameworks" -maxdepth 1 -name '*.framework' -print0)
fi

# The programs beside the application, then the bundle (which signs its
# main executable).
for program in "$contents/MacOS"/*; do
    if [ "$(basename "$program")" != OrluneRLM ] && is_macho "$program"; then
        codesign "${options[@]}" "$program"
    fi
done
codesign "${options[@]}" "$bundle"

codesign --verify --deep --strict --verbose=2 "$bundle"
if [ "$hardened" = 1 ]; then
    echo "sign: $bundle signed by \"$identity\" with the hardened runtime"
elif [ -n "$identity" ]; then
    echo "sign: $bundle signed by \"$identity\" (not a Developer ID: no hardened runtime, not for notarizing)"
else
    echo "sign: $bundle signed ad hoc (no identity given)"
fi
