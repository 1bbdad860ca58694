#!/usr/bin/env bash
# Checks an installed OrluneRLM.app: its programs are where signing and the
# runner expect them, it needs nothing outside itself and the system, every
# library runs on the bundle's minimum macOS, its signature holds, and each
# program starts.
#
#   scripts/macos/check-bundle.sh BUNDLE
set -euo pipefail

bundle="${1:?usage: check-bundle.sh BUNDLE}"
contents="$bundle/Contents"
failures=0
fail() {
    echo "check-bundle: $*" >&2
    failures=$((failures + 1))
}

# Major.minor as one comparable number (14.0 -> 1400, 13.5 -> 1305).
version_number() {
    local major minor
    IFS=. read -r major minor _ <<<"$1.0"
    echo $((major * 100 + minor))
}

minimum="$(/usr/libexec/PlistBuddy -c 'Print :LSMinimumSystemVersion' "$contents/Info.plist")"
icon="$(/usr/libexec/PlistBuddy -c 'Print :CFBundleIconFile' "$contents/Info.plist")"
[ -f "$contents/Resources/$icon" ] || fail "no icon $icon in Contents/Resources"

for program in OrluneRLM orlune orlune-rlm-helper; do
    [ -x "$contents/MacOS/$program" ] || fail "$program is not in Contents/MacOS"
done

while IFS= read -r -d '' file; do
    file -b "$file" | grep -q 'Mach-O' || continue
    name="${file#"$bundle"/}"
    case "$name" in
    Contents/Resources/*) fail "$name: a program in Contents/Resources is sealed as data" ;;
    esac
    # Libraries it loads: the system's, or inside the bundle.
    while IFS= read -r library; do
        case "$library" in
        /System/Library/* | /usr/lib/* | @executable_path/* | @loader_path/* | @rpath/*) ;;
        *) fail "$name loads $library from outside the bundle" ;;
        esac
    done < <(otool -L "$file" | tail -n +2 | awk '{ print $1 }')
    while IFS= read -r path; do
        case "$path" in
        @*) ;;
        *) fail "$name searches $path, outside the bundle" ;;
        esac
    done < <(otool -l "$file" | awk '$1 == "cmd" && $2 == "LC_RPATH" { wanted = 1; next }
                                     wanted && $1 == "path" { print $2; wanted = 0 }')
    while IFS= read -r built_for; do
        if [ "$(version_number "$built_for")" -gt "$(version_number "$minimum")" ]; then
            fail "$name needs macOS $built_for, the bundle promises $minimum"
        fi
    done < <(otool -l "$file" | awk '$1 == "minos" { print $2 }')
done < <(find "$contents" -type f -print0)

codesign --verify --deep --strict "$bundle" || fail "the signature does not hold"

# Each program starts, with every data path in a folder of its own.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export ORLUNE_DATA_DIR="$scratch/data" HOME="$scratch" CHAT_DB_PATH="$scratch/none.db"
"$contents/MacOS/orlune" --help >/dev/null || fail "orlune does not start"
echo '{}' | "$contents/MacOS/orlune-rlm-helper" >"$scratch/helper.out" 2>/dev/null || true
grep -q '"error"' "$scratch/helper.out" || fail "orlune-rlm-helper does not start"
if ! ORLUNE_EXIT_AFTER_FIRST_FRAME=1 "$contents/MacOS/OrluneRLM" --window 2>/dev/null |
    grep -q orlune-first-frame; then
    fail "OrluneRLM does not show its first frame"
fi

if [ "$failures" -gt 0 ]; then
    echo "check-bundle: $failures problem(s) in $bundle" >&2
    exit 1
fi
echo "check-bundle: $bundle is self-contained, signed and starts (minimum macOS $minimum)"
