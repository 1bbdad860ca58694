#!/usr/bin/env bash
# Installs what Orlune needs, builds it (Release) and runs its main job: the
# menu-bar application OrluneRLM.
#
# - The messaging store: $CHAT_DB_PATH when it names a file, else the one at
#   the default path (~/Library/Messages/chat.db), else a built-in sample
#   store made once in build/release/run/sample/.
# - The application runs with a home and data folder of its own,
#   build/release/run/home/, so this script never touches your real
#   configuration or sessions (start the application directly for those).
#   The API key you type there is kept there for the next run.
# - Without a display (Linux with neither DISPLAY nor WAYLAND_DISPLAY), or
#   with ORLUNE_RUN_CLI=1, the same flow runs through the command-line tool:
#   sync, a search (when the tool has that verb), and a question (when the
#   helper program is built).
#
# Arguments are passed to the application (e.g. --window).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

bash scripts/bootstrap.sh
cmake --preset release
cmake --build --preset release

build="$root/build/release"
run_dir="$build/run"
orlune="$build/cli/orlune"
helper="$build/share/orlune/rlm/orlune-rlm-helper"
case "$(uname -s)" in
Darwin) app="$build/OrluneRLM/OrluneRLM.app/Contents/MacOS/OrluneRLM" ;;
*) app="$build/OrluneRLM/OrluneRLM" ;;
esac

# Runs a command with a time limit where the system offers one.
limited() {
    local seconds="$1"
    shift
    if command -v timeout >/dev/null; then
        timeout "$seconds" "$@"
    else
        "$@"
    fi
}

# The messaging store.
default_store="$HOME/Library/Messages/chat.db"
if [ -n "${CHAT_DB_PATH:-}" ] && [ -f "$CHAT_DB_PATH" ]; then
    store="$CHAT_DB_PATH"
    echo "run: using the messaging store at $store (CHAT_DB_PATH), read-only"
elif [ -f "$default_store" ]; then
    store="$default_store"
    echo "run: using your messaging store at $store, read-only"
else
    [ -z "${CHAT_DB_PATH:-}" ] || echo "run: CHAT_DB_PATH names no file ($CHAT_DB_PATH)"
    store="$run_dir/sample/chat.db"
    if [ ! -f "$store" ]; then
        mkdir -p "$run_dir/sample"
        "$build/tools/orlune-make-sample-store" "$store"
    fi
    echo "run: no messaging store at $default_store; using the built-in sample store at $store"
fi
export CHAT_DB_PATH="$store"

# A home of its own for the application and the tool.
app_home="$run_dir/home"
mkdir -p "$app_home/data"
chmod 700 "$app_home"
export HOME="$app_home"
export XDG_DATA_HOME="$app_home/data"
unset SHADOW_DB_PATH
echo "run: configuration, sessions and the shadow database live in $app_home"

use_cli=0
if [ "${ORLUNE_RUN_CLI:-0}" = 1 ]; then
    use_cli=1
elif [ "$(uname -s)" = Linux ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the application"
    echo "run: cannot show its window; running the same flow with the command-line tool instead."
    use_cli=1
fi

if [ "$use_cli" = 0 ]; then
    echo "run: starting OrluneRLM: its item is in the menu bar (system tray), or in a window where"
    echo "run: there is no tray. Enter an API key, and ask away; \"Quit\" ends it."
    exec "$app" "$@"
fi

# The application's own shadow database, so that the app finds it synced later.
shadow="$XDG_DATA_HOME/OrluneRLM/shadow.db"
mkdir -p "$(dirname "$shadow")"
chmod 700 "$(dirname "$shadow")"
export SHADOW_DB_PATH="$shadow"

echo
echo "run: \$ orlune sync"
limited 900 "$orlune" sync --chat-db "$store" --shadow-db "$shadow"

if "$orlune" --help 2>&1 | grep -E '^ +search ' >/dev/null; then
    echo
    echo "run: \$ orlune search sushi"
    limited 120 "$orlune" search sushi || echo "run: the search failed (status $?)"
else
    echo "run: (this build's orlune has no search verb; skipping the search)"
fi

if [ -x "$helper" ] || [ -n "${ORLUNE_RLM_HELPER_CMD:-}" ]; then
    question="When are we getting sushi?"
    echo
    echo "run: \$ orlune ask \"$question\""
    [ -n "${VEYRLINK_API_KEY:-}" ] ||
        echo "run: (no VEYRLINK_API_KEY: the helper answers from the full-text index alone)"
    limited 300 "$orlune" ask --shadow-db "$shadow" "$question" || echo "run: the question failed (status $?)"
else
    echo "run: (the helper program is not built; skipping the question)"
fi
