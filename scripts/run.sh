#!/usr/bin/env bash
# Orlune's main job: installs the dependencies, builds Orlune (Release), then
# starts the menu-bar application OrluneRLM on a messaging store.
#
# The store is the one at the default path ($CHAT_DB_PATH, else
# ~/Library/Messages/chat.db) when there is one; otherwise a built-in sample
# store, made once and kept in a folder of its own. Everything this script
# writes goes to folders of its own, never to Orlune's real data folder:
#   sample store:  ${XDG_CACHE_HOME:-~/.cache}/orlune-sample/{chat.db,AddressBook/,shadow.db,home/}
#   your store:    ${XDG_CACHE_HOME:-~/.cache}/orlune-run/{shadow.db,home/}
# Set ORLUNE_RUN_DIR to put both folders' contents somewhere else.
#
# The application runs with HOME, XDG_DATA_HOME and ORLUNE_DATA_DIR (the data
# folder override, which also holds on macOS) pointed at home/ in that
# folder (and, with your store, ADDRESS_BOOK_PATH at your address books,
# ~/Library/Application Support/AddressBook unless set), so its configuration (the API key you type: kept in that folder,
# not in the Keychain, which holds only the real configuration's), sessions and shadow
# database stay there, for the next run; start build/release/OrluneRLM/OrluneRLM
# directly to use your real ones. Arguments go to the application (--window
# asks for a normal window instead of the tray item).
#
# On macOS the application bundle is started through Launch Services
# (`open -n -W OrluneRLM.app --env ... --args ...`), so that the application,
# not Terminal, is the process macOS asks about Full Disk Access: grant it to
# build/release/OrluneRLM/OrluneRLM.app. Its log lines go to
# home/data/Logs/Orlune/OrluneRLM.log in that folder (and to this terminal).
#
# Without a display (Linux with neither DISPLAY nor WAYLAND_DISPLAY), or with
# ORLUNE_RUN_CLI=1, the same flow runs through the command-line tool instead:
# a sync into shadow.db, a search (when the tool has that verb) and a
# question ($ORLUNE_RUN_QUESTION) to the bundled helper (when it is built).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset release
cmake --build --preset release

build="$PWD/build/release"
orlune="$build/cli/orlune"
make_sample="$build/tools/orlune-make-sample-store"
helper="$build/share/orlune/rlm/orlune-rlm-helper"
system="$(uname -s)"
app="$build/OrluneRLM/OrluneRLM"
bundle="$build/OrluneRLM/OrluneRLM.app"
cache="${XDG_CACHE_HOME:-$HOME/.cache}"

# Runs a command with a time limit where the system offers one, so that the
# command-line flow never hangs a script that runs unattended.
limited() {
    local seconds="$1"
    shift
    if command -v timeout >/dev/null; then
        timeout "$seconds" "$@"
    else
        "$@"
    fi
}

store="${CHAT_DB_PATH-$HOME/Library/Messages/chat.db}"
# On macOS this script (Terminal) may not see inside ~/Library/Messages
# without Full Disk Access; the application, which gets its own, may.
your_store=0
if [ -n "$store" ] && [ -e "$store" ]; then
    your_store=1
elif [ "$system" = Darwin ] && [ -z "${CHAT_DB_PATH+set}" ] && [ -d "$HOME/Library/Messages" ]; then
    your_store=1
fi
if [ "$your_store" = 1 ]; then
    work="${ORLUNE_RUN_DIR:-$cache/orlune-run}"
    mkdir -p "$work"
    case "$store" in
    /*) ;;
    *) store="$(cd "$(dirname "$store")" && pwd)/$(basename "$store")" ;;
    esac
    echo "run: using your messaging store at $store (read-only)"
    # The application gets a home of its own below; your address books stay
    # where they are, so that it names your people (ADDRESS_BOOK_PATH, when
    # set, names others).
    export ADDRESS_BOOK_PATH="${ADDRESS_BOOK_PATH:-$HOME/Library/Application Support/AddressBook}"
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
        # With everything real stores hold besides plain messages (reactions,
        # group events, attachments with their files under the app's home,
        # edits, unsends, deletions, junk), so that the app shows all of it,
        # and an address book of its own, so that people show by name.
        mkdir -p "$work/home"
        rm -rf "$work/AddressBook.partial"
        mkdir -p "$work/AddressBook.partial"
        "$make_sample" --real --attachment-home "$work/home" --force \
            --address-book "$work/AddressBook.partial" "$store.partial"
        rm -rf "$work/AddressBook"
        mv "$work/AddressBook.partial" "$work/AddressBook"
        mv "$store.partial" "$store"
    fi
    # The sample store's people are named by its own address book, never by
    # yours.
    export ADDRESS_BOOK_PATH="$work/AddressBook"
fi
work="$(cd "$work" && pwd)"
# The application and the tool read the store from here.
export CHAT_DB_PATH="$store"

# A home of its own for the application.
app_home="$work/home"
mkdir -p "$app_home/data"
chmod 700 "$app_home"
export HOME="$app_home"
export XDG_DATA_HOME="$app_home/data"
export ORLUNE_DATA_DIR="$app_home/data"
unset SHADOW_DB_PATH

use_cli=0
if [ "${ORLUNE_RUN_CLI:-0}" = 1 ]; then
    use_cli=1
elif [ "$system" = Linux ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the application"
    echo "run: cannot show its window; running the same flow with the command-line tool instead."
    use_cli=1
fi

if [ "$use_cli" = 0 ]; then
    echo "run: starting OrluneRLM with its configuration, sessions and shadow database in $app_home"
    echo "run: its item is in the menu bar (system tray), or in a window where there is no tray."
    echo "run: enter an API key, let the first sync finish, and ask away; \"Quit\" ends it."
    if [ "$system" != Darwin ]; then
        exec "$app" "$@"
    fi
    # Launch Services starts the bundle with the session's environment plus
    # what --env names; -W waits until it quits. The API key is not passed
    # (it would show in the process list): type it into the application.
    launch=(open -n -W "$bundle")
    for name in HOME XDG_DATA_HOME ORLUNE_DATA_DIR CHAT_DB_PATH ADDRESS_BOOK_PATH ORLUNE_RLM_HELPER_CMD \
        ORLUNE_RLM_RESOURCE_ROOT ORLUNE_RLM_MODEL ORLUNE_RLM_CALL_TIMEOUT_SECONDS \
        ORLUNE_RLM_DEADLINE_SECONDS VEYRLINK_BASE_URL ORLUNE_EXIT_AFTER_FIRST_FRAME; do
        if [ -n "${!name+set}" ]; then
            launch+=(--env "$name=${!name}")
        fi
    done
    if terminal="$(tty 2>/dev/null)"; then
        launch+=(--stderr "$terminal")
    fi
    echo "run: its log: $ORLUNE_DATA_DIR/Logs/Orlune/OrluneRLM.log"
    [ -z "${VEYRLINK_API_KEY:-}" ] ||
        echo "run: (VEYRLINK_API_KEY is not passed to the application on macOS; enter the key in it)"
    if [ "$#" -gt 0 ]; then
        launch+=(--args "$@")
    fi
    exec "${launch[@]}"
fi

shadow="$work/shadow.db"
echo
echo "run: syncing into $shadow"
limited 900 "$orlune" sync --chat-db "$store" --shadow-db "$shadow"

if "$orlune" --help 2>&1 | grep -E '^ +search ' >/dev/null; then
    echo
    echo "run: searching for \"sushi\""
    SHADOW_DB_PATH="$shadow" limited 120 "$orlune" search sushi || echo "run: the search failed (status $?)"
fi

if [ -x "$helper" ] || [ -n "${ORLUNE_RLM_HELPER_CMD:-}" ]; then
    question="${ORLUNE_RUN_QUESTION:-When are we getting sushi?}"
    echo
    echo "run: asking the bundled helper: $question"
    [ -n "${VEYRLINK_API_KEY:-}" ] ||
        echo "run: (no VEYRLINK_API_KEY is set: the helper answers from the full-text index alone)"
    limited 600 "$orlune" ask --shadow-db "$shadow" "$question" || echo "run: the question failed (status $?)"
fi

echo
echo "run: done. The messaging store was only read; the shadow database is $shadow."
echo "run: run this script again to sync only what is new; delete $work to start over."
