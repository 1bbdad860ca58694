#!/usr/bin/env bash
# Sends a signed OrluneRLM.app to Apple's notary service, waits for the
# verdict and staples the ticket to the bundle; then puts the stapled bundle
# in a disk image, signs the image with the bundle's identity and does the
# same for it. Gatekeeper then accepts both on other Macs without asking the
# service.
#
#   scripts/macos/notarize.sh BUNDLE [PROFILE]
#
# Writes the disk image beside the bundle (OrluneRLM.dmg). The bundle must be
# signed with a Developer ID identity (scripts/macos/sign.sh BUNDLE
# "Developer ID Application: ..."). PROFILE (or $ORLUNE_NOTARY_PROFILE) names
# credentials stored once in the keychain with
#   xcrun notarytool store-credentials PROFILE --apple-id ID --team-id TEAM
# (it asks for an app-specific password). notarytool comes with the Xcode
# command-line tools, stapler only with the full Xcode (then
# `sudo xcode-select -s /Applications/Xcode.app`).
#
# A verdict other than "Accepted" ("Invalid", "Rejected") fails the script
# after printing the service's log, which says what it refused.
set -euo pipefail

bundle="${1:?usage: notarize.sh BUNDLE [PROFILE]}"
profile="${2:-${ORLUNE_NOTARY_PROFILE:-}}"
[ -n "$profile" ] || { echo "notarize: name a notarytool keychain profile" >&2; exit 2; }
[ -d "$bundle" ] || { echo "notarize: no bundle at $bundle" >&2; exit 2; }
xcrun --find stapler >/dev/null 2>&1 || {
    echo "notarize: stapler comes only with the full Xcode, not the command-line tools:" >&2
    echo "notarize: install Xcode, then: sudo xcode-select -s /Applications/Xcode.app" >&2
    exit 2
}
# The signing certificate's name: the first Authority line.
identity="$( (codesign -dvv "$bundle" 2>&1 || true) |
    awk '/^Authority=/ && !found { found = 1; print substr($0, 11) }')"
case "$identity" in
"Developer ID Application:"*) ;;
*)
    echo "notarize: $bundle is not signed with a Developer ID Application identity" \
        "(${identity:-ad hoc}); sign it with scripts/macos/sign.sh first" >&2
    exit 2
    ;;
esac

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# submit FILE: sends FILE to the notary service and waits for its verdict;
# exits unless the verdict is "Accepted", printing the service's log.
submit() {
    local file="$1" result="$work/verdict.json" status id
    # notarytool exits with 0 on an "Invalid" verdict too: the verdict is
    # read from its JSON.
    xcrun notarytool submit "$file" --keychain-profile "$profile" --wait \
        --output-format json >"$result" || true
    status="$(plutil -extract status raw -o - "$result" 2>/dev/null || true)"
    id="$(plutil -extract id raw -o - "$result" 2>/dev/null || true)"
    if [ "$status" != Accepted ]; then
        echo "notarize: the notary service's verdict on $(basename "$file"): ${status:-none}" >&2
        cat "$result" >&2
        if [ -n "$id" ]; then
            echo "notarize: its log:" >&2
            xcrun notarytool log "$id" --keychain-profile "$profile" >&2 || true
        fi
        exit 1
    fi
    echo "notarize: $(basename "$file") accepted (submission $id)"
}

# The service takes a zip (or disk image); ditto keeps the bundle's links and
# extended attributes.
archive="$work/$(basename "$bundle" .app).zip"
ditto -c -k --keepParent "$bundle" "$archive"
submit "$archive"
xcrun stapler staple "$bundle"
xcrun stapler validate "$bundle"
spctl --assess --type execute --verbose=2 "$bundle"

# The disk image: the stapled bundle and a link to /Applications.
image="$(dirname "$bundle")/$(basename "$bundle" .app).dmg"
mkdir "$work/image"
ditto "$bundle" "$work/image/$(basename "$bundle")"
ln -s /Applications "$work/image/Applications"
rm -f "$image"
hdiutil create -volname "$(basename "$bundle" .app)" -srcfolder "$work/image" -format UDZO "$image"
codesign --force --sign "$identity" --timestamp "$image"
submit "$image"
xcrun stapler staple "$image"
xcrun stapler validate "$image"
spctl --assess --type open --context context:primary-signature --verbose=2 "$image"
echo "notarize: $bundle and $image are notarized and stapled"
