#!/usr/bin/env bash
# Kills `orlune sync` (SIGKILL) at random moments of a first sync of a large
# store, again and again. After every kill the shadow database must pass
# SQLite's integrity check and FTS5's integrity-check, and the pass that
# follows must end with exactly the messages of a sync that was never
# interrupted: the same guids, chats and texts, none twice.
#
# Usage: kill_sync.sh ORLUNE MAKE_SAMPLE_STORE [MESSAGES] [KILLS]
# Needs the sqlite3 command-line shell. Works in a temporary folder of its own.
set -euo pipefail

orlune=$1
make_store=$2
messages=${3:-20000}
kills=${4:-50}

# shellcheck source=tests/crash/crash_common.sh
source "$(dirname "$0")/crash_common.sh"
crash_setup kill-sync

store="$work/chat.db"
reference="$work/reference.db"
shadow="$work/shadow.db"

"$make_store" --messages "$messages" --seed 7 "$store" >/dev/null
start=$(now_ms)
"$orlune" sync --chat-db "$store" --shadow-db "$reference" >/dev/null
full_ms=$(( $(now_ms) - start ))
expected=$(sqlite3 "$reference" "SELECT count(*) FROM messages")
echo "kill_sync: $messages store rows, $expected messages, an uninterrupted first sync takes ${full_ms} ms"

check_integrity() {
    local what=$1
    [ -e "$shadow" ] || return 0 # killed before the file was made
    local result
    result=$(sqlite3 "$shadow" "PRAGMA integrity_check") || fail "$what: integrity_check could not run"
    [ "$result" = "ok" ] || fail "$what: integrity_check says: $result"
    # The schema is made in one transaction: all of it or none.
    local tables
    tables=$(sqlite3 "$shadow" "SELECT count(*) FROM sqlite_master WHERE name IN
        ('messages', 'messages_fts', 'messages_fts_insert', 'chat_participants', 'sync_state', 'sync_marks')")
    [ "$tables" = 0 ] && return 0
    [ "$tables" = 6 ] || fail "$what: a schema made in part ($tables of 6 objects)"
    sqlite3 "$shadow" "INSERT INTO messages_fts(messages_fts) VALUES ('integrity-check')" ||
        fail "$what: FTS5 integrity-check failed"
}

check_complete() {
    local what=$1
    local report
    report=$(sqlite3 "$shadow" "
        ATTACH '$reference' AS ref;
        SELECT (SELECT count(*) FROM messages) || ' ' ||
               (SELECT count(DISTINCT guid) FROM messages) || ' ' ||
               (SELECT count(*) FROM (SELECT guid, chat_id, text FROM messages
                                      EXCEPT SELECT guid, chat_id, text FROM ref.messages)) || ' ' ||
               (SELECT count(*) FROM (SELECT guid, chat_id, text FROM ref.messages
                                      EXCEPT SELECT guid, chat_id, text FROM messages)) || ' ' ||
               (SELECT message_count FROM sync_state);")
    [ "$report" = "$expected $expected 0 0 $expected" ] ||
        fail "$what: rows, distinct guids, extra, missing, stored count = $report (expected $expected of each count, 0 extra, 0 missing)"
}

i=0
while ((++i)) && kill_round_left "$i" "$kills"; do
    rm -f "$shadow" "$shadow-wal" "$shadow-shm"
    # Most kills land while pages are being written; a few before the first.
    delay_ms=$(random_delay_ms "$full_ms")
    kill_sync_after "$delay_ms" --chat-db "$store" --shadow-db "$shadow"
    check_integrity "kill $i after ${delay_ms} ms"

    # Every fifth time, kill the resuming pass as well.
    if (( i % 5 == 0 )); then
        "$orlune" sync --chat-db "$store" --shadow-db "$shadow" >/dev/null 2>&1 &
        pid=$!
        sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        check_integrity "second kill $i"
    fi

    "$orlune" sync --chat-db "$store" --shadow-db "$shadow" >/dev/null ||
        fail "kill $i: the pass after the kill failed"
    check_integrity "pass after kill $i"
    check_complete "pass after kill $i"
done

echo "kill_sync: $((i - 1)) kills ($killed_while_running while the sync was running), every one recovered"
require_kills_while_running "$kills"
