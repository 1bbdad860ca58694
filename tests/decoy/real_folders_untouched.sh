#!/usr/bin/env bash
# The data-folder override holds for every program: with HOME and the
# platform's data folders pointed at a decoy "real" home that already holds
# Orlune's files, and ORLUNE_DATA_DIR set to a scratch folder, a run of the
# command-line tool (sync, search, ask), the helper, the application (up to
# its first frame) and the application's test suite leaves the decoy exactly
# as it was, and the programs' files appear in the scratch folder instead.
#
#   real_folders_untouched.sh ORLUNE HELPER APP MAKE_SAMPLE_STORE TEST_PROGRAM...
#
# On macOS Qt's data folder ignores HOME, so there the person's real folders
# (~/Library/Application Support/Orlune*, ~/Library/Logs/Orlune) and the
# Keychain entry are checked too when ORLUNE_CHECK_REAL_HOME=1 (the macOS
# workflow sets it; on a person's own Mac the app may legitimately be using
# them while the tests run).
set -euo pipefail

orlune="$1"
helper="$2"
app="$3"
make_sample="$4"
shift 4
test_programs=("$@")

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
decoy="$work/decoy-home"
scratch="$work/scratch"
mkdir -p "$scratch"

# The decoy holds what a person's home would: both platforms' layouts.
for data in "$decoy/.local/share" "$decoy/Library/Application Support"; do
    mkdir -p "$data/OrluneRLM" "$data/Orlune"
    printf '{"veyrlinkApiKey":"sk-decoy-real-key"}' >"$data/OrluneRLM/config.json"
    printf '[]' >"$data/Orlune/sessions.json"
    printf 'not touched' >"$data/OrluneRLM/shadow.db"
    printf 'not touched' >"$data/Orlune/shadow.db"
done
mkdir -p "$decoy/Library/Logs/Orlune" "$decoy/.config" "$decoy/.cache"
printf 'earlier line\n' >"$decoy/Library/Logs/Orlune/OrluneRLM.log"

# Every path with its size and checksum, and the folders. The cache folder
# is left out: system libraries (fontconfig) keep their caches there.
snapshot() {
    (
        cd "$1"
        find . -path ./.cache -prune -o -type d -print | LC_ALL=C sort
        find . -path ./.cache -prune -o -type f -exec cksum {} + | LC_ALL=C sort -k3
    )
}

real_folders=()
keychain_before=""
if [ "$(uname -s)" = Darwin ] && [ "${ORLUNE_CHECK_REAL_HOME:-0}" = 1 ]; then
    real_home="$(dscl . -read "/Users/$(id -un)" NFSHomeDirectory | awk '{ print $2 }')"
    for folder in "Library/Application Support/Orlune" "Library/Application Support/OrluneRLM" \
        "Library/Logs/Orlune"; do
        real_folders+=("$real_home/$folder")
    done
    keychain_before="$(security find-generic-password -s com.orlune.OrluneRLM 2>&1 | head -1 || true)"
fi
real_snapshot() {
    local folder
    for folder in "${real_folders[@]+"${real_folders[@]}"}"; do
        echo "== $folder"
        [ -d "$folder" ] && snapshot "$folder"
    done
    return 0
}

before="$(snapshot "$decoy")"
real_before="$(real_snapshot)"
sleep 1
touch "$work/started"

export HOME="$decoy"
export XDG_DATA_HOME="$decoy/.local/share"
export XDG_CONFIG_HOME="$decoy/.config"
export XDG_CACHE_HOME="$decoy/.cache"
export ORLUNE_DATA_DIR="$scratch/data"
export QT_QPA_PLATFORM=offscreen
unset SHADOW_DB_PATH VEYRLINK_API_KEY ORLUNE_RLM_HELPER_CMD ORLUNE_RLM_RESOURCE_ROOT
# A gateway that is not there: the helper answers from the index alone.
export VEYRLINK_BASE_URL="http://127.0.0.1:9"

"$make_sample" --force "$work/chat.db" >/dev/null
export CHAT_DB_PATH="$work/chat.db"

status=0
step() {
    local name="$1"
    shift
    if ! "$@" >"$work/step.out" 2>&1; then
        echo "decoy: $name failed:" >&2
        tail -20 "$work/step.out" >&2
        status=1
    fi
}

# The application first (it makes its folder), then the tool with its
# default paths: the one shadow database, and the application's
# configuration for `ask`; the helper with no db_path reads the same file.
step "the application" env ORLUNE_EXIT_AFTER_FIRST_FRAME=1 "$app" --window
step "orlune sync" "$orlune" sync
step "orlune search" "$orlune" search sushi
step "orlune ask" "$orlune" ask "When are we getting sushi?"
step "the helper" sh -c "printf '%s' '{\"question\":\"sushi?\"}' | \"$helper\""
for program in "${test_programs[@]+"${test_programs[@]}"}"; do
    step "$(basename "$program")" "$program" --gtest_brief=1
done

# The override was honoured: the programs' files are in the scratch folder.
[ -f "$ORLUNE_DATA_DIR/OrluneRLM/shadow.db" ] || {
    echo "decoy: OrluneRLM/shadow.db was not written under ORLUNE_DATA_DIR" >&2
    status=1
}

after="$(snapshot "$decoy")"
if [ "$before" != "$after" ]; then
    echo "decoy: the decoy home changed:" >&2
    diff <(echo "$before") <(echo "$after") >&2 || true
    status=1
fi
newer="$(find "$decoy" -path "$decoy/.cache" -prune -o -newer "$work/started" -print | head -20)"
if [ -n "$newer" ]; then
    echo "decoy: written in the decoy home:" >&2
    echo "$newer" >&2
    status=1
fi
if [ "$(real_snapshot)" != "$real_before" ]; then
    echo "decoy: the real Application Support or Logs folders changed" >&2
    status=1
fi
if [ "${#real_folders[@]}" -gt 0 ]; then
    keychain_after="$(security find-generic-password -s com.orlune.OrluneRLM 2>&1 | head -1 || true)"
    if [ "$keychain_after" != "$keychain_before" ]; then
        echo "decoy: the Keychain entry changed" >&2
        status=1
    fi
fi

[ "$status" = 0 ] && echo "decoy: the real folders stayed untouched"
exit "$status"
