#pragma once
// The shadow database's schema and its versions.
//
// The schema is an external interface (the helper process reads the file with
// its own SQL): table, column and index names never change, and a version
// only adds to the one before it. The database records its version in
// PRAGMA user_version. A database made before versions existed has version 0
// (with or without sync_marks); version 1 is the original schema and the
// catch-up marks.
//
// Adding a version (a table, a column, an index):
//   1. write its statements as named constants below (CREATE ... IF NOT
//      EXISTS, ALTER TABLE ... ADD COLUMN, a backfill UPDATE);
//   2. append one step to the list in ShadowSchema.cpp, numbered one above
//      the last, with those statements (and, if SQL cannot express the
//      change, a function that makes it on the connection it is given);
//   3. in the tests, extend the expected schema and upgrade a database of
//      the version before (tests/core/ShadowSchemaTest.cpp).
// Each step runs in one transaction together with its version bump, so a
// process stopped during an upgrade leaves the version before or after the
// step, never a mix. Steps never read the messaging store: what a new column
// needs from it is filled by the next sync. A step that needs every stored
// message read again sets the cursor back in SQL (sync_state's
// last_timestamp and last_rowid and every sync_marks column to 0); the next
// sync then copies the whole store, replacing each message by guid.

#include "sql/SQLite.hpp"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

namespace shadow_schema {

inline constexpr std::string_view kCreateMessages = "CREATE TABLE IF NOT EXISTS messages (\n"
                                                    "    rowid INTEGER PRIMARY KEY,\n"
                                                    "    guid TEXT UNIQUE NOT NULL,\n"
                                                    "    chat_id TEXT NOT NULL,\n"
                                                    "    chat_name TEXT,\n"
                                                    "    sender TEXT NOT NULL,\n"
                                                    "    text TEXT NOT NULL,\n"
                                                    "    timestamp INTEGER NOT NULL,\n"
                                                    "    is_from_me INTEGER NOT NULL,\n"
                                                    "    is_group INTEGER NOT NULL,\n"
                                                    "    has_attachments INTEGER DEFAULT 0,\n"
                                                    "    attachment_types TEXT,\n"
                                                    "    content_hash TEXT,\n"
                                                    "    edited_at INTEGER,\n"
                                                    "    deleted_at INTEGER\n"
                                                    ")";

inline constexpr std::string_view kCreateMessagesFts =
    "CREATE VIRTUAL TABLE IF NOT EXISTS messages_fts USING fts5(\n"
    "    text,\n"
    "    chat_name,\n"
    "    sender,\n"
    "    content='messages',\n"
    "    content_rowid='rowid'\n"
    ")";

inline constexpr std::string_view kCreateFtsInsertTrigger =
    "CREATE TRIGGER IF NOT EXISTS messages_fts_insert AFTER INSERT ON messages BEGIN\n"
    "    INSERT INTO messages_fts(rowid, text, chat_name, sender)\n"
    "    VALUES (new.rowid, new.text, new.chat_name, new.sender);\n"
    "END";

inline constexpr std::string_view kCreateFtsDeleteTrigger =
    "CREATE TRIGGER IF NOT EXISTS messages_fts_delete AFTER DELETE ON messages BEGIN\n"
    "    INSERT INTO messages_fts(messages_fts, rowid, text, chat_name, sender)\n"
    "    VALUES ('delete', old.rowid, old.text, old.chat_name, old.sender);\n"
    "END";

inline constexpr std::string_view kCreateFtsUpdateTrigger =
    "CREATE TRIGGER IF NOT EXISTS messages_fts_update AFTER UPDATE ON messages BEGIN\n"
    "    INSERT INTO messages_fts(messages_fts, rowid, text, chat_name, sender)\n"
    "    VALUES ('delete', old.rowid, old.text, old.chat_name, old.sender);\n"
    "    INSERT INTO messages_fts(rowid, text, chat_name, sender)\n"
    "    VALUES (new.rowid, new.text, new.chat_name, new.sender);\n"
    "END";

inline constexpr std::string_view kCreateIndexChat =
    "CREATE INDEX IF NOT EXISTS idx_messages_chat ON messages(chat_id)";
inline constexpr std::string_view kCreateIndexTimestamp =
    "CREATE INDEX IF NOT EXISTS idx_messages_timestamp ON messages(timestamp DESC)";
inline constexpr std::string_view kCreateIndexSender =
    "CREATE INDEX IF NOT EXISTS idx_messages_sender ON messages(sender)";
inline constexpr std::string_view kCreateIndexChatTime =
    "CREATE INDEX IF NOT EXISTS idx_messages_chat_time ON messages(chat_id, timestamp DESC)";
inline constexpr std::string_view kCreateIndexGuid =
    "CREATE INDEX IF NOT EXISTS idx_messages_guid ON messages(guid)";

inline constexpr std::string_view kCreateChatParticipants =
    "CREATE TABLE IF NOT EXISTS chat_participants (\n"
    "    chat_id TEXT NOT NULL,\n"
    "    handle_id INTEGER NOT NULL,\n"
    "    handle TEXT NOT NULL,\n"
    "    service TEXT,\n"
    "    PRIMARY KEY (chat_id, handle_id)\n"
    ")";
inline constexpr std::string_view kCreateIndexParticipantsChat =
    "CREATE INDEX IF NOT EXISTS idx_chat_participants_chat ON chat_participants(chat_id)";
inline constexpr std::string_view kCreateIndexParticipantsHandle =
    "CREATE INDEX IF NOT EXISTS idx_chat_participants_handle ON chat_participants(handle)";

inline constexpr std::string_view kCreateSyncState =
    "CREATE TABLE IF NOT EXISTS sync_state (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    last_timestamp INTEGER NOT NULL DEFAULT 0,\n"
    "    last_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    message_count INTEGER NOT NULL DEFAULT 0,\n"
    "    updated_at INTEGER NOT NULL\n"
    ")";
inline constexpr std::string_view kSeedSyncState =
    "INSERT OR IGNORE INTO sync_state (id, last_timestamp, last_rowid, updated_at) "
    "VALUES (1, 0, 0, 0)";

// The whole schema, in the order it is created.
inline constexpr std::array<std::string_view, 15> kStatements = {
    kCreateMessages,
    kCreateMessagesFts,
    kCreateFtsInsertTrigger,
    kCreateFtsDeleteTrigger,
    kCreateFtsUpdateTrigger,
    kCreateIndexChat,
    kCreateIndexTimestamp,
    kCreateIndexSender,
    kCreateIndexChatTime,
    kCreateIndexGuid,
    kCreateChatParticipants,
    kCreateIndexParticipantsChat,
    kCreateIndexParticipantsHandle,
    kCreateSyncState,
    kSeedSyncState,
};

// Added to the schema above, never changing it: where the sync engine's
// catch-up checks stand in the store (see ShadowSync). One row, id = 1.
//   message_rowid    every store message row with a ROWID up to this one has
//                    been read, or still lies ahead of the sync cursor
//   join_rowid       chat_message_join rows up to this rowid have been seen
//   join_message_id, join_chat_id
//                    the join row at join_rowid when it was seen, to notice
//                    the store reusing that rowid after deleting the row
inline constexpr std::string_view kCreateSyncMarks =
    "CREATE TABLE IF NOT EXISTS sync_marks (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    message_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    join_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    join_message_id INTEGER NOT NULL DEFAULT 0,\n"
    "    join_chat_id INTEGER NOT NULL DEFAULT 0\n"
    ")";
inline constexpr std::string_view kSeedSyncMarks =
    "INSERT OR IGNORE INTO sync_marks (id) VALUES (1)";
inline constexpr std::array<std::string_view, 2> kSyncMarksStatements = {kCreateSyncMarks,
                                                                         kSeedSyncMarks};

// Added in version 2: which messaging store the database copies, so that a
// sync never mixes another store's messages into it and notices a store that
// was replaced or made anew. One row, id = 1, written by the first sync that
// knows about it.
//   store_path    the store's path as the sync resolved it (symbolic links
//                 followed)
//   anchor_rowid  the store's highest message ROWID when the last pass began
//                 (the store's ROWIDs never decrease: a store holding less
//                 was made anew)
//   anchor_guid   the guid of the message at anchor_rowid then
inline constexpr std::string_view kCreateSyncSource =
    "CREATE TABLE IF NOT EXISTS sync_source (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    store_path TEXT NOT NULL,\n"
    "    anchor_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    anchor_guid TEXT\n"
    ")";

// Added in version 3: who is behind each sender and what each chat is
// called, refreshed by every sync from the messaging store and the address
// books (ShadowPeople). Messages keep the handle in `sender`; join names
// through these tables, or read messages_named.
//   people          one row per person found in the address books
//     person_id     stable id (PeopleMatcher: from the smallest card uid)
//     display_name  how the person is shown ("Alex Kim")
//     nicknames, other_names
//                   JSON arrays of text (other_names: other spellings of the
//                   name in other books)
//   person_handles  the handles of known people, `handle` exactly as
//                   messages.sender and chat_participants.handle hold it
//   chats           one row per chat of the store: chat_id as
//                   messages.chat_id, its display name (NULL when it has
//                   none), the group flag, and `title`: the display name,
//                   else the other person's name (or handle) for a
//                   one-to-one chat, else the members' names ("Alex, Jess and
//                   2 others")
//   people_state    one row, id = 1: a fingerprint of what the last refresh
//                   read, so that a pass with nothing changed writes nothing
//   messages_named  every column of messages, with sender_name (NULL for
//                   your own messages and unknown handles) and chat_title
inline constexpr std::string_view kCreatePeople = "CREATE TABLE IF NOT EXISTS people (\n"
                                                  "    person_id TEXT PRIMARY KEY,\n"
                                                  "    display_name TEXT NOT NULL,\n"
                                                  "    first_name TEXT,\n"
                                                  "    middle_name TEXT,\n"
                                                  "    last_name TEXT,\n"
                                                  "    organization TEXT,\n"
                                                  "    nicknames TEXT NOT NULL DEFAULT '[]',\n"
                                                  "    other_names TEXT NOT NULL DEFAULT '[]'\n"
                                                  ")";
inline constexpr std::string_view kCreatePersonHandles =
    "CREATE TABLE IF NOT EXISTS person_handles (\n"
    "    handle TEXT PRIMARY KEY,\n"
    "    person_id TEXT NOT NULL\n"
    ")";
inline constexpr std::string_view kCreateIndexPersonHandlesPerson =
    "CREATE INDEX IF NOT EXISTS idx_person_handles_person ON person_handles(person_id)";
inline constexpr std::string_view kCreateChats = "CREATE TABLE IF NOT EXISTS chats (\n"
                                                 "    chat_id TEXT PRIMARY KEY,\n"
                                                 "    display_name TEXT,\n"
                                                 "    is_group INTEGER NOT NULL,\n"
                                                 "    title TEXT NOT NULL\n"
                                                 ")";
inline constexpr std::string_view kCreatePeopleState =
    "CREATE TABLE IF NOT EXISTS people_state (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    fingerprint TEXT NOT NULL\n"
    ")";
inline constexpr std::string_view kCreateMessagesNamed =
    "CREATE VIEW IF NOT EXISTS messages_named AS\n"
    "SELECT m.*,\n"
    "    CASE WHEN m.is_from_me THEN NULL ELSE p.display_name END AS sender_name,\n"
    "    COALESCE(c.title, NULLIF(m.chat_name, ''), m.chat_id) AS chat_title\n"
    "FROM messages m\n"
    "LEFT JOIN person_handles ph ON ph.handle = m.sender\n"
    "LEFT JOIN people p ON p.person_id = ph.person_id\n"
    "LEFT JOIN chats c ON c.chat_id = m.chat_id";
inline constexpr std::array<std::string_view, 6> kPeopleStatements = {
    kCreatePeople, kCreatePersonHandles, kCreateIndexPersonHandlesPerson,
    kCreateChats,  kCreatePeopleState,   kCreateMessagesNamed,
};

// Added in version 4: what a message carries besides its text, and what the
// sync needs to notice deletions.
//   reactions      the reactions that stand on each message (a removal
//                  deletes the reaction it takes back): one row per target,
//                  sender and kind. sender is the handle or "me"; kind as
//                  reactionKindName ("love", "like", ..., "sticker",
//                  "poll_vote"); emoji for a custom emoji; timestamp in the
//                  store's unit; guid the reaction row's own guid.
//   attachments    each message's attachments in order (position from 0),
//                  hidden ones (link previews' images) included and marked.
//   recently_deleted
//                  the store rows in Recently Deleted when the last pass ran
//                  (their copies are gone; a restored one is read again).
//   store_deletions
//                  one row: how far the store's deleted_messages log has
//                  been read, the store's row count and highest ROWID when
//                  the last pass ended, whether junk was copied, and whether
//                  the next pass must compare every row with its copy.
// A message deleted from messages takes its attachments with it (trigger).
inline constexpr std::string_view kCreateReactions = "CREATE TABLE IF NOT EXISTS reactions (\n"
                                                     "    target_guid TEXT NOT NULL,\n"
                                                     "    sender TEXT NOT NULL,\n"
                                                     "    kind TEXT NOT NULL,\n"
                                                     "    emoji TEXT,\n"
                                                     "    timestamp INTEGER NOT NULL,\n"
                                                     "    guid TEXT NOT NULL,\n"
                                                     "    PRIMARY KEY (target_guid, sender, kind)\n"
                                                     ")";
inline constexpr std::string_view kCreateIndexReactionsGuid =
    "CREATE INDEX IF NOT EXISTS idx_reactions_guid ON reactions(guid)";
inline constexpr std::string_view kCreateAttachments =
    "CREATE TABLE IF NOT EXISTS attachments (\n"
    "    message_guid TEXT NOT NULL,\n"
    "    position INTEGER NOT NULL,\n"
    "    guid TEXT,\n"
    "    kind TEXT NOT NULL,\n"
    "    name TEXT,\n"
    "    mime_type TEXT,\n"
    "    uti TEXT,\n"
    "    bytes INTEGER NOT NULL DEFAULT 0,\n"
    "    downloaded INTEGER NOT NULL DEFAULT 0,\n"
    "    is_sticker INTEGER NOT NULL DEFAULT 0,\n"
    "    hidden INTEGER NOT NULL DEFAULT 0,\n"
    "    PRIMARY KEY (message_guid, position)\n"
    ")";
inline constexpr std::string_view kCreateAttachmentsFollowTrigger =
    "CREATE TRIGGER IF NOT EXISTS attachments_follow_message AFTER DELETE ON messages BEGIN\n"
    "    DELETE FROM attachments WHERE message_guid = old.guid;\n"
    "END";
inline constexpr std::string_view kCreateRecentlyDeleted =
    "CREATE TABLE IF NOT EXISTS recently_deleted (\n"
    "    source_rowid INTEGER PRIMARY KEY,\n"
    "    guid TEXT NOT NULL\n"
    ")";
inline constexpr std::string_view kCreateStoreDeletions =
    "CREATE TABLE IF NOT EXISTS store_deletions (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    tombstone_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    store_rows INTEGER NOT NULL DEFAULT 0,\n"
    "    store_max_rowid INTEGER NOT NULL DEFAULT 0,\n"
    "    include_junk INTEGER NOT NULL DEFAULT 0,\n"
    "    reread_all INTEGER NOT NULL DEFAULT 0\n"
    ")";
// Messages copied before this version may hold reactions as messages, keep
// attachment placeholders and lack attachments: reread_all makes the next
// sync read the whole store again, comparing each row with its copy (only
// what differs is written, reactions' copies go).
inline constexpr std::string_view kSeedStoreDeletions =
    "INSERT INTO store_deletions (id, reread_all)\n"
    "VALUES (1, EXISTS (SELECT 1 FROM messages))\n"
    "ON CONFLICT (id) DO UPDATE SET reread_all = excluded.reread_all";
inline constexpr std::string_view kRereadEverything =
    "UPDATE sync_state SET last_timestamp = 0, last_rowid = 0";
inline constexpr std::string_view kRereadEverythingMarks =
    "UPDATE sync_marks SET message_rowid = 0, join_rowid = 0, join_message_id = 0, "
    "join_chat_id = 0";

// Added in version 5: every chat a message is in. The store can join one
// message to several chats; messages.chat_id keeps one of them (the chat the
// copy was first made with), and message_chats lists them all, so that a
// search within a chat finds the message from each of its chats.
//   message_chats        one row per message and chat (chat_id as
//                        messages.chat_id; none for a message in no chat).
//                        A message deleted from messages, or replaced by a
//                        newer copy, takes its rows with it (trigger): whoever
//                        writes a message writes its chats after it.
//   message_chats_state  one row: `complete` is 0 while a database copied
//                        before this version still lacks the extra chats of
//                        its messages in several chats. The step fills every
//                        message's own chat; the next sync reads only the
//                        store's messages in more than one chat and sets it.
inline constexpr std::string_view kCreateMessageChats =
    "CREATE TABLE IF NOT EXISTS message_chats (\n"
    "    message_guid TEXT NOT NULL,\n"
    "    chat_id TEXT NOT NULL,\n"
    "    PRIMARY KEY (message_guid, chat_id)\n"
    ") WITHOUT ROWID";
inline constexpr std::string_view kCreateIndexMessageChatsChat =
    "CREATE INDEX IF NOT EXISTS idx_message_chats_chat ON message_chats(chat_id)";
inline constexpr std::string_view kCreateMessageChatsFollowTrigger =
    "CREATE TRIGGER IF NOT EXISTS message_chats_follow_message AFTER DELETE ON messages BEGIN\n"
    "    DELETE FROM message_chats WHERE message_guid = old.guid;\n"
    "END";
inline constexpr std::string_view kCreateMessageChatsState =
    "CREATE TABLE IF NOT EXISTS message_chats_state (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    complete INTEGER NOT NULL DEFAULT 0\n"
    ")";
inline constexpr std::string_view kFillMessageChats =
    "INSERT OR IGNORE INTO message_chats (message_guid, chat_id)\n"
    "SELECT guid, chat_id FROM messages WHERE chat_id <> 'unknown'";
inline constexpr std::string_view kSeedMessageChatsState =
    "INSERT INTO message_chats_state (id, complete)\n"
    "VALUES (1, NOT EXISTS (SELECT 1 FROM messages))\n"
    "ON CONFLICT (id) DO UPDATE SET complete = excluded.complete";
inline constexpr std::array<std::string_view, 6> kMessageChatsStatements = {
    kCreateMessageChats,
    kCreateIndexMessageChatsChat,
    kCreateMessageChatsFollowTrigger,
    kCreateMessageChatsState,
    kFillMessageChats,
    kSeedMessageChatsState,
};

// Added in version 6: attachments found by their file names. A search
// reads this index beside messages_fts, so that "lease" finds the message
// that carries "Signed Lease.pdf" (even one with no words) while
// messages.text keeps only what was written.
//   attachment_words     each attachment as the full-text index reads it:
//                        `text` is its file name (NULL for a hidden one);
//                        chat_name and sender are always NULL. The columns
//                        are messages_fts's, so that one expression, column
//                        filters included, reads the same on both.
//   attachment_names_fts the full-text index of attachment_words (rowid =
//                        attachments.rowid), kept by triggers on attachments.
inline constexpr std::string_view kCreateAttachmentWords =
    "CREATE VIEW IF NOT EXISTS attachment_words AS\n"
    "SELECT rowid AS id, CASE WHEN hidden = 0 THEN name END AS text,\n"
    "    NULL AS chat_name, NULL AS sender\n"
    "FROM attachments";
inline constexpr std::string_view kCreateAttachmentNamesFts =
    "CREATE VIRTUAL TABLE IF NOT EXISTS attachment_names_fts USING fts5(\n"
    "    text,\n"
    "    chat_name,\n"
    "    sender,\n"
    "    content='attachment_words',\n"
    "    content_rowid='id'\n"
    ")";
inline constexpr std::string_view kCreateAttachmentNamesInsertTrigger =
    "CREATE TRIGGER IF NOT EXISTS attachment_names_fts_insert AFTER INSERT ON attachments BEGIN\n"
    "    INSERT INTO attachment_names_fts(rowid, text)\n"
    "    VALUES (new.rowid, CASE WHEN new.hidden = 0 THEN new.name END);\n"
    "END";
inline constexpr std::string_view kCreateAttachmentNamesDeleteTrigger =
    "CREATE TRIGGER IF NOT EXISTS attachment_names_fts_delete AFTER DELETE ON attachments BEGIN\n"
    "    INSERT INTO attachment_names_fts(attachment_names_fts, rowid, text)\n"
    "    VALUES ('delete', old.rowid, CASE WHEN old.hidden = 0 THEN old.name END);\n"
    "END";
inline constexpr std::string_view kCreateAttachmentNamesUpdateTrigger =
    "CREATE TRIGGER IF NOT EXISTS attachment_names_fts_update AFTER UPDATE ON attachments BEGIN\n"
    "    INSERT INTO attachment_names_fts(attachment_names_fts, rowid, text)\n"
    "    VALUES ('delete', old.rowid, CASE WHEN old.hidden = 0 THEN old.name END);\n"
    "    INSERT INTO attachment_names_fts(rowid, text)\n"
    "    VALUES (new.rowid, CASE WHEN new.hidden = 0 THEN new.name END);\n"
    "END";
inline constexpr std::string_view kFillAttachmentNamesFts =
    "INSERT INTO attachment_names_fts(attachment_names_fts) VALUES ('rebuild')";
inline constexpr std::array<std::string_view, 6> kAttachmentNamesStatements = {
    kCreateAttachmentWords,
    kCreateAttachmentNamesFts,
    kCreateAttachmentNamesInsertTrigger,
    kCreateAttachmentNamesDeleteTrigger,
    kCreateAttachmentNamesUpdateTrigger,
    kFillAttachmentNamesFts,
};

// Added in version 7: the emoji of each message (EmojiText::indexKeys), as
// the full-text tokenizer drops them. A search looks its emoji up here and
// combines them with its words. Whoever writes a message writes its emoji
// after it; a message deleted or replaced takes its rows with it (trigger).
// The step fills the table from the stored texts.
inline constexpr std::string_view kCreateMessageEmoji =
    "CREATE TABLE IF NOT EXISTS message_emoji (\n"
    "    emoji TEXT NOT NULL,\n"
    "    message_guid TEXT NOT NULL,\n"
    "    PRIMARY KEY (emoji, message_guid)\n"
    ") WITHOUT ROWID";
inline constexpr std::string_view kCreateIndexMessageEmojiMessage =
    "CREATE INDEX IF NOT EXISTS idx_message_emoji_message ON message_emoji(message_guid)";
inline constexpr std::string_view kCreateMessageEmojiFollowTrigger =
    "CREATE TRIGGER IF NOT EXISTS message_emoji_follow_message AFTER DELETE ON messages BEGIN\n"
    "    DELETE FROM message_emoji WHERE message_guid = old.guid;\n"
    "END";
inline constexpr std::string_view kInsertMessageEmoji =
    "INSERT OR IGNORE INTO message_emoji (emoji, message_guid) VALUES (?, ?)";
inline constexpr std::array<std::string_view, 3> kMessageEmojiStatements = {
    kCreateMessageEmoji,
    kCreateIndexMessageEmojiMessage,
    kCreateMessageEmojiFollowTrigger,
};

// Added in version 8: messages in scripts written without spaces (Han,
// kana, Hangul, Thai...) found by their parts. The full-text tokenizer keeps
// a run of such letters as one word, so 火锅 never finds 明天我们去吃火锅吧.
// This index holds the text of every message that has such letters, each
// of them set apart by spaces (SpacelessText::spaced), and a search reads it
// beside messages_fts with its expression set apart the same way
// (MatchExpression::forSpacedIndex): the phrase "火 锅" finds the two
// characters side by side anywhere, one character a single word. It uses
// SQLite's own tokenizer, so any sqlite3 shell reads it:
//   SELECT m.text FROM spaced_fts JOIN messages m ON m.rowid = spaced_fts.rowid
//   WHERE spaced_fts MATCH '"火 锅"'
//   spaced_texts  one row per such message: id = messages.rowid, text its
//                 text set apart. Whoever writes a message writes its row
//                 after it; a message deleted or replaced takes its row with
//                 it (trigger). The step fills it from the stored texts.
//   spaced_words  spaced_texts as the index reads it, with chat_name and
//                 sender always NULL: the columns are messages_fts's, so that
//                 one expression, column filters included, reads the same on
//                 both.
//   spaced_fts    the full-text index of spaced_words (rowid = messages.rowid),
//                 kept by triggers on spaced_texts. Combining marks are part
//                 of words (Thai vowels and tones stay with their letter).
inline constexpr std::string_view kCreateSpacedTexts = "CREATE TABLE IF NOT EXISTS spaced_texts (\n"
                                                       "    id INTEGER PRIMARY KEY,\n"
                                                       "    text TEXT NOT NULL\n"
                                                       ")";
inline constexpr std::string_view kCreateSpacedWords =
    "CREATE VIEW IF NOT EXISTS spaced_words AS\n"
    "SELECT id, text, NULL AS chat_name, NULL AS sender FROM spaced_texts";
inline constexpr std::string_view kCreateSpacedFts =
    "CREATE VIRTUAL TABLE IF NOT EXISTS spaced_fts USING fts5(\n"
    "    text,\n"
    "    chat_name,\n"
    "    sender,\n"
    "    content='spaced_words',\n"
    "    content_rowid='id',\n"
    "    tokenize=\"unicode61 categories 'L* N* Co M*'\"\n"
    ")";
inline constexpr std::string_view kCreateSpacedInsertTrigger =
    "CREATE TRIGGER IF NOT EXISTS spaced_fts_insert AFTER INSERT ON spaced_texts BEGIN\n"
    "    INSERT INTO spaced_fts(rowid, text) VALUES (new.id, new.text);\n"
    "END";
inline constexpr std::string_view kCreateSpacedDeleteTrigger =
    "CREATE TRIGGER IF NOT EXISTS spaced_fts_delete AFTER DELETE ON spaced_texts BEGIN\n"
    "    INSERT INTO spaced_fts(spaced_fts, rowid, text) VALUES ('delete', old.id, old.text);\n"
    "END";
inline constexpr std::string_view kCreateSpacedFollowTrigger =
    "CREATE TRIGGER IF NOT EXISTS spaced_texts_follow_message AFTER DELETE ON messages BEGIN\n"
    "    DELETE FROM spaced_texts WHERE id = old.rowid;\n"
    "END";
inline constexpr std::string_view kInsertSpacedText =
    "INSERT OR REPLACE INTO spaced_texts (id, text) SELECT rowid, ? FROM messages WHERE guid = ?";
inline constexpr std::array<std::string_view, 6> kSpacedStatements = {
    kCreateSpacedTexts,         kCreateSpacedWords,         kCreateSpacedFts,
    kCreateSpacedInsertTrigger, kCreateSpacedDeleteTrigger, kCreateSpacedFollowTrigger,
};

// Added in version 9: the chats the person left out, so that a sync
// notices one taken back in and copies it again. Only a digest of each chat
// id is kept (ShadowSync::excludedChatKey): the file never names a chat it
// does not copy.
//   excluded_chats  one row per chat left out when the last pass ran.
inline constexpr std::string_view kCreateExcludedChats =
    "CREATE TABLE IF NOT EXISTS excluded_chats (\n"
    "    chat_key TEXT PRIMARY KEY\n"
    ") WITHOUT ROWID";

// Added in version 10: how many of the store's rows the sync read and left
// out, by why (LeftOutCounts), so that a person can tell "not in my
// messages" from "not copied". One row, id = 1, written with the sync marks
// on every page and counted again whenever the store is read from its
// start. Databases copied before it read the whole store again on their
// next sync (as version 4 does) to count what they left out.
inline constexpr std::string_view kCreateLeftOutCounts =
    "CREATE TABLE IF NOT EXISTS left_out_counts (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    reactions INTEGER NOT NULL DEFAULT 0,\n"
    "    events INTEGER NOT NULL DEFAULT 0,\n"
    "    junk INTEGER NOT NULL DEFAULT 0,\n"
    "    unsent INTEGER NOT NULL DEFAULT 0\n"
    ")";
inline constexpr std::string_view kSeedLeftOutCounts =
    "INSERT OR IGNORE INTO left_out_counts (id) VALUES (1)";
inline constexpr std::array<std::string_view, 5> kLeftOutStatements = {
    kCreateLeftOutCounts, kSeedLeftOutCounts,     kSeedStoreDeletions,
    kRereadEverything,    kRereadEverythingMarks,
};

// Added in version 11: threads. A reply made in a thread names the thread's
// first message, so that a message can be read with its thread: the message
// it replies to and the other replies to that message.
//   messages.thread_originator_guid
//                 the guid of the thread's first message (the store's
//                 thread_originator_guid) for a reply in a thread; NULL for
//                 any other message and for a store too old to keep threads
// The step (ShadowSchema.cpp: addThreads) adds the column where the table
// lacks it, then its index, sets the sync cursor back and reread_all
// (kSeedStoreDeletions): the next sync reads every stored message again,
// compares each with its copy and rewrites those that differ, which fills
// the column.
inline constexpr std::string_view kHasThreadOriginator =
    "SELECT COUNT(*) FROM pragma_table_info('messages') WHERE name = 'thread_originator_guid'";
inline constexpr std::string_view kAddThreadOriginator =
    "ALTER TABLE messages ADD COLUMN thread_originator_guid TEXT";
inline constexpr std::string_view kCreateIndexThreadOriginator =
    "CREATE INDEX IF NOT EXISTS idx_messages_thread ON messages(thread_originator_guid)";

// Added in version 12: the meaning of each message as a vector, made by the
// model server's embeddings endpoint (MessageEmbedder), for finding messages
// that say what a question asks in other words.
//   vector_model     one row, id = 1, while vectors are stored: the model that
//                    made them and their dimension. Every stored vector
//                    belongs to it; another model or dimension replaces them
//                    all.
//   message_vectors  one row per embedded message (message_rowid as
//                    messages.rowid): the unit-length vector as one signed
//                    byte per dimension, each worth `scale`. A message deleted
//                    from messages (a chat left out included), replaced by a
//                    newer copy or whose text changes takes its vector with
//                    it (triggers), so it is embedded again.
inline constexpr std::string_view kCreateVectorModel =
    "CREATE TABLE IF NOT EXISTS vector_model (\n"
    "    id INTEGER PRIMARY KEY CHECK (id = 1),\n"
    "    model TEXT NOT NULL,\n"
    "    dimension INTEGER NOT NULL\n"
    ")";
inline constexpr std::string_view kCreateMessageVectors =
    "CREATE TABLE IF NOT EXISTS message_vectors (\n"
    "    message_rowid INTEGER PRIMARY KEY,\n"
    "    scale REAL NOT NULL,\n"
    "    vector BLOB NOT NULL\n"
    ")";
inline constexpr std::string_view kCreateVectorsFollowDelete =
    "CREATE TRIGGER IF NOT EXISTS message_vectors_follow_message AFTER DELETE ON messages BEGIN\n"
    "    DELETE FROM message_vectors WHERE message_rowid = old.rowid;\n"
    "END";
inline constexpr std::string_view kCreateVectorsFollowText =
    "CREATE TRIGGER IF NOT EXISTS message_vectors_follow_text AFTER UPDATE OF text ON messages\n"
    "WHEN old.text IS NOT new.text BEGIN\n"
    "    DELETE FROM message_vectors WHERE message_rowid = old.rowid;\n"
    "END";
inline constexpr std::array<std::string_view, 4> kVectorStatements = {
    kCreateVectorModel,
    kCreateMessageVectors,
    kCreateVectorsFollowDelete,
    kCreateVectorsFollowText,
};

// Run on every connection when it is opened, in this order. Recursive
// triggers are set explicitly, whatever the SQLite build's default: with
// them on, the row that INSERT OR REPLACE deletes fires messages_fts_delete,
// so the full-text index keeps exactly one entry per stored message. The last
// two only tune this connection (nothing is stored in the file): a page cache
// of at most 64 MB, and statement journals and temporary tables in memory,
// which makes a batch write about an eighth faster than with a temporary
// file.
inline constexpr std::array<std::string_view, 6> kOpenPragmas = {
    "PRAGMA journal_mode = WAL",      "PRAGMA synchronous = NORMAL", "PRAGMA foreign_keys = ON",
    "PRAGMA recursive_triggers = ON", "PRAGMA cache_size = -65536",  "PRAGMA temp_store = MEMORY",
};

} // namespace shadow_schema

// Versions of the shadow database and the steps between them. All functions
// run on the calling thread on a connection the caller owns.
class ShadowSchema {
public:
    ShadowSchema() = delete;

    struct Migration {
        // The version the database has after this step: one above the
        // version before it.
        int version = 0;
        // What the step adds, in a few words.
        std::string_view summary;
        // Run in order inside the step's transaction.
        std::vector<std::string_view> statements;
        // Runs after the statements, in the same transaction, when SQL alone
        // cannot make the change. Throws sqlite::Error.
        void (*apply)(sqlite3* db) = nullptr;
    };

    // Every step, by version, from 1.
    static const std::vector<Migration>& migrations();
    // The version of a database made or upgraded by this program.
    static int latestVersion();

    // The version recorded in the database (PRAGMA user_version). Throws
    // sqlite::Error.
    static int storedVersion(sqlite3* db);

    // Checks, by reading only, that the database on `db` (at `path`, for the
    // messages) can be used by this program: empty (no tables: a new file),
    // or a shadow database of this program's version or an older one.
    // Throws ShadowDBError (failedToOpen) for a database written by a newer
    // version and for a file that is not a shadow database (other tables, or
    // not an SQLite database at all), before anything is written.
    static void checkCompatible(sqlite3* db, const std::string& path);

    // Brings the database to the last version of `steps` by running every
    // step above its stored version, in order, each in one IMMEDIATE
    // transaction (waiting for other writers as the connection's busy timeout
    // allows) together with its version bump. A database at that version or
    // above is left alone without taking a lock. Throws sqlite::Error; the
    // failing step is rolled back, the steps before it stay.
    static void migrate(sqlite3* db, const std::vector<Migration>& steps = migrations());
};

} // namespace orlune::core
