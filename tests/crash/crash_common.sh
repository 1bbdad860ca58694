# shellcheck shell=bash
# Shared by the crash tests, which source it: a work folder of their own,
# failure reports, and a sync killed at a random moment.
#
# crash_setup NAME: sets `crash_name` (the prefix of every report) and
# `work` (a temporary folder, removed on exit), and points every data path
# (HOME, XDG_DATA_HOME, ORLUNE_DATA_DIR) into it.

crash_setup() {
    crash_name=$1
    work=$(mktemp -d "${TMPDIR:-/tmp}/orlune-$crash_name.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    export HOME="$work/home" XDG_DATA_HOME="$work/data" ORLUNE_DATA_DIR="$work/data"
    mkdir -p "$HOME" "$XDG_DATA_HOME"
    unset CHAT_DB_PATH SHADOW_DB_PATH
    killed_while_running=0
}

fail() {
    echo "$crash_name: $*" >&2
    exit 1
}

# now_ms: milliseconds since the epoch. BSD date (macOS) has no %N, and
# macOS's bash 3.2 no EPOCHREALTIME (bash 5); perl is on both systems.
now_ms() {
    if [ -n "${EPOCHREALTIME:-}" ]; then
        local micros=${EPOCHREALTIME//[!0-9]/}
        echo $((10#$micros / 1000))
    else
        perl -MTime::HiRes=time -e 'printf "%d\n", time() * 1000'
    fi
}

# kill_sync_after MILLISECONDS ARG...: starts `$orlune sync ARG...`, kills it
# (SIGKILL) after MILLISECONDS and waits for it. Counts in
# `killed_while_running` the kills that found it still running.
kill_sync_after() {
    local delay_ms=$1
    shift
    # shellcheck disable=SC2154 # set by the test that sources this file
    "$orlune" sync "$@" >/dev/null 2>&1 &
    local pid=$!
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    if kill -KILL "$pid" 2>/dev/null; then
        killed_while_running=$((killed_while_running + 1))
    fi
    wait "$pid" 2>/dev/null || true
}

# random_delay_ms MAX: a random whole number of milliseconds from 0 to MAX.
random_delay_ms() {
    echo $(((RANDOM * 32768 + RANDOM) % ($1 + 1)))
}

# require_kills_while_running KILLS: fails when fewer than half the kills
# found the sync running (the test then proves little).
require_kills_while_running() {
    ((killed_while_running >= $1 / 2)) || fail "too few kills landed while the sync was running"
}

# kill_round_left ROUND KILLS: whether kill round ROUND (from 1) should run:
# the first KILLS rounds, then more, up to twice KILLS, until half the kills
# found the sync running. The sync's speed varies with the machine's load,
# so a kill timed from an earlier run may find it already done.
kill_round_left() {
    local round=$1 kills=$2
    ((round <= kills || (killed_while_running < kills / 2 && round <= 2 * kills)))
}
