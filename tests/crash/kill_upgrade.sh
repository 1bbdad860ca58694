#!/usr/bin/env bash
# Kills (SIGKILL) the `orlune sync` that upgrades a shadow database written
# before schema versions (user_version 0) at random moments, again and again.
# After every kill the database must pass SQLite's and FTS5's integrity
# checks, hold every message it held before, and be one whole version: the
# old schema at version 0, the newest schema at the newest version, and at a
# version in between always the same schema. A sync that follows must bring
# it to the newest version with exactly the schema of a new database.
#
# Usage: kill_upgrade.sh ORLUNE MAKE_SAMPLE_STORE [MESSAGES] [KILLS]
# Needs the sqlite3 command-line shell. Works in a temporary folder of its own.
set -euo pipefail

orlune=$1
make_store=$2
messages=${3:-5000}
kills=${4:-40}

# shellcheck source=tests/crash/crash_common.sh
source "$(dirname "$0")/crash_common.sh"
crash_setup kill-upgrade

store="$work/chat.db"
reference="$work/reference.db"
old="$work/old.db"
shadow="$work/shadow.db"

schema_of() {
    sqlite3 "$1" "SELECT type || ' ' || name || ' ' || ifnull(sql, '') FROM sqlite_master ORDER BY name"
}
messages_of() {
    sqlite3 "$1" "SELECT count(*) || ' ' || total(length(guid)) || ' ' || total(length(text)) ||
                         ' ' || (SELECT message_count FROM sync_state) FROM messages"
}

"$make_store" --messages "$messages" --seed 11 "$store" >/dev/null
"$orlune" sync --chat-db "$store" --shadow-db "$reference" >/dev/null
latest=$(sqlite3 "$reference" "PRAGMA user_version")
new_schema=$(schema_of "$reference")
expected_messages=$(messages_of "$reference")

# The database as the version before schema versions left it: its schema,
# and the reference's messages, chats and sync state in it.
sqlite3 "$old" <"$(dirname "$0")/version0_schema.sql"
sqlite3 "$old" "
    ATTACH '$reference' AS ref;
    INSERT INTO messages (rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me,
                          is_group, has_attachments, attachment_types, content_hash, edited_at,
                          deleted_at)
        SELECT rowid, guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group,
               has_attachments, attachment_types, content_hash, edited_at, deleted_at
        FROM ref.messages;
    INSERT INTO chat_participants SELECT chat_id, handle_id, handle, service FROM ref.chat_participants;
    INSERT INTO sync_state SELECT id, last_timestamp, last_rowid, message_count, updated_at FROM ref.sync_state;
    INSERT INTO sync_marks SELECT id, message_rowid, join_rowid, join_message_id, join_chat_id FROM ref.sync_marks;
    PRAGMA user_version = 0;" >/dev/null
old_schema=$(schema_of "$old")
[ "$old_schema" != "$new_schema" ] || fail "the old and the new schema do not differ"

fresh_copy() {
    rm -f "$shadow" "$shadow-wal" "$shadow-shm"
    cp "$old" "$shadow"
}

fresh_copy
start=$(now_ms)
"$orlune" sync --chat-db "$store" --shadow-db "$shadow" >/dev/null
full_ms=$(( $(now_ms) - start ))
[ "$(sqlite3 "$shadow" "PRAGMA user_version")" = "$latest" ] || fail "an uninterrupted sync did not upgrade"
echo "kill_upgrade: $messages store rows, upgrade to version $latest, an uninterrupted upgrading sync takes ${full_ms} ms"

# The schema first seen at each version in between, as files: macOS's
# bash 3.2 has no associative arrays.
mkdir "$work/schema-at"
versions_seen=""

check() {
    local what=$1
    local result
    result=$(sqlite3 "$shadow" "PRAGMA integrity_check") || fail "$what: integrity_check could not run"
    [ "$result" = "ok" ] || fail "$what: integrity_check says: $result"
    sqlite3 "$shadow" "INSERT INTO messages_fts(messages_fts) VALUES ('integrity-check')" ||
        fail "$what: FTS5 integrity-check failed"
    [ "$(messages_of "$shadow")" = "$expected_messages" ] ||
        fail "$what: messages $(messages_of "$shadow"), expected $expected_messages"
    local version schema
    version=$(sqlite3 "$shadow" "PRAGMA user_version")
    schema=$(schema_of "$shadow")
    case "$version" in
    0) [ "$schema" = "$old_schema" ] || fail "$what: version 0 with a changed schema" ;;
    "$latest") [ "$schema" = "$new_schema" ] || fail "$what: version $latest with another schema" ;;
    *)
        (( version > 0 && version < latest )) || fail "$what: version $version"
        local seen="$work/schema-at/$version"
        [ -e "$seen" ] || printf '%s' "$schema" >"$seen"
        [ "$(cat "$seen")" = "$schema" ] || fail "$what: two schemas at version $version"
        ;;
    esac
    case " $versions_seen " in *" $version "*) ;; *) versions_seen="$versions_seen $version" ;; esac
}

i=0
while ((++i)) && kill_round_left "$i" "$kills"; do
    fresh_copy
    delay_ms=$(random_delay_ms "$full_ms")
    kill_sync_after "$delay_ms" --chat-db "$store" --shadow-db "$shadow"
    check "kill $i after ${delay_ms} ms"

    "$orlune" sync --chat-db "$store" --shadow-db "$shadow" >/dev/null ||
        fail "kill $i: the sync after the kill failed"
    check "sync after kill $i"
    [ "$(sqlite3 "$shadow" "PRAGMA user_version")" = "$latest" ] ||
        fail "kill $i: the sync after the kill did not upgrade"
done

echo "kill_upgrade: $((i - 1)) kills ($killed_while_running while the sync was running), versions seen:$versions_seen"
require_kills_while_running "$kills"
