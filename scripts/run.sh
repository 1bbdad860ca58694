#!/usr/bin/env bash
# Orlune's main job: installs the dependencies, builds Orlune (Release), then
# syncs a messaging store into a shadow database and says what it did.
#
# The store is the one at the default path ($CHAT_DB_PATH, else
# ~/Library/Messages/chat.db) when there is one; otherwise a built-in sample
# store, made once and kept in a folder of its own. The shadow database always
# goes to a folder of its own, never to Orlune's real data folder:
#   sample store:  ${XDG_CACHE_HOME:-~/.cache}/orlune-sample/{chat.db,shadow.db}
#   your store:    ${XDG_CACHE_HOME:-~/.cache}/orlune-run/shadow.db
# Set ORLUNE_RUN_DIR to put both folders' contents somewhere else.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset release
cmake --build --preset release

build=build/release
orlune="$build/cli/orlune"
make_sample="$build/tools/orlune-make-sample-store"
cache="${XDG_CACHE_HOME:-$HOME/.cache}"

store="${CHAT_DB_PATH-$HOME/Library/Messages/chat.db}"
if [ -n "$store" ] && [ -e "$store" ]; then
    work="${ORLUNE_RUN_DIR:-$cache/orlune-run}"
    mkdir -p "$work"
    echo "run: using your messaging store at $store (read-only)"
else
    work="${ORLUNE_RUN_DIR:-$cache/orlune-sample}"
    mkdir -p "$work"
    store="$work/chat.db"
    if [ -e "$store" ]; then
        echo "run: no messaging store at the default path; using the sample store made earlier at $store"
    else
        echo "run: no messaging store at the default path; making the built-in sample store at $store"
        # Written beside and then moved into place, so an interrupted run
        # never leaves a half-made store that later runs would take as done.
        "$make_sample" --force "$store.partial"
        mv "$store.partial" "$store"
    fi
fi
shadow="$work/shadow.db"

echo "run: syncing into $shadow"
"$orlune" sync --chat-db "$store" --shadow-db "$shadow"

echo
echo "run: done. The messaging store was only read; the shadow database is $shadow."
echo "run: run this script again to sync only what is new; delete $work to start over."
