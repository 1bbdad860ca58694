#!/usr/bin/env bash
# Sends a signed OrluneRLM.app to Apple's notary service, waits for the
# verdict and staples the ticket to the bundle, so that Gatekeeper accepts it
# on other Macs without asking the service.
#
#   scripts/macos/notarize.sh BUNDLE [PROFILE]
#
# The bundle must be signed with a Developer ID identity (scripts/macos/sign.sh
# BUNDLE "Developer ID Application: ..."). PROFILE (or
# $ORLUNE_NOTARY_PROFILE) names credentials stored once in the keychain with
#   xcrun notarytool store-credentials PROFILE --apple-id ID --team-id TEAM
# (it asks for an app-specific password).
set -euo pipefail

bundle="${1:?usage: notarize.sh BUNDLE [PROFILE]}"
profile="${2:-${ORLUNE_NOTARY_PROFILE:-}}"
[ -n "$profile" ] || { echo "notarize: name a notarytool keychain profile" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
archive="$work/$(basename "$bundle" .app).zip"

# The service takes a zip (or disk image); ditto keeps the bundle's links and
# extended attributes.
ditto -c -k --keepParent "$bundle" "$archive"
xcrun notarytool submit "$archive" --keychain-profile "$profile" --wait
xcrun stapler staple "$bundle"
xcrun stapler validate "$bundle"
spctl --assess --type execute --verbose=2 "$bundle"
echo "notarize: $bundle is notarized and stapled"
