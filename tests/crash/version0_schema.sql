-- The shadow database as Orlune wrote it before schema versions (user_version
-- 0, with the catch-up marks). The crash test of the upgrading sync starts
-- from it, whatever later versions add.
CREATE TABLE messages (
    rowid INTEGER PRIMARY KEY,
    guid TEXT UNIQUE NOT NULL,
    chat_id TEXT NOT NULL,
    chat_name TEXT,
    sender TEXT NOT NULL,
    text TEXT NOT NULL,
    timestamp INTEGER NOT NULL,
    is_from_me INTEGER NOT NULL,
    is_group INTEGER NOT NULL,
    has_attachments INTEGER DEFAULT 0,
    attachment_types TEXT,
    content_hash TEXT,
    edited_at INTEGER,
    deleted_at INTEGER
);
CREATE VIRTUAL TABLE messages_fts USING fts5(
    text,
    chat_name,
    sender,
    content='messages',
    content_rowid='rowid'
);
CREATE TRIGGER messages_fts_insert AFTER INSERT ON messages BEGIN
    INSERT INTO messages_fts(rowid, text, chat_name, sender)
    VALUES (new.rowid, new.text, new.chat_name, new.sender);
END;
CREATE TRIGGER messages_fts_delete AFTER DELETE ON messages BEGIN
    INSERT INTO messages_fts(messages_fts, rowid, text, chat_name, sender)
    VALUES ('delete', old.rowid, old.text, old.chat_name, old.sender);
END;
CREATE TRIGGER messages_fts_update AFTER UPDATE ON messages BEGIN
    INSERT INTO messages_fts(messages_fts, rowid, text, chat_name, sender)
    VALUES ('delete', old.rowid, old.text, old.chat_name, old.sender);
    INSERT INTO messages_fts(rowid, text, chat_name, sender)
    VALUES (new.rowid, new.text, new.chat_name, new.sender);
END;
CREATE INDEX idx_messages_chat ON messages(chat_id);
CREATE INDEX idx_messages_timestamp ON messages(timestamp DESC);
CREATE INDEX idx_messages_sender ON messages(sender);
CREATE INDEX idx_messages_chat_time ON messages(chat_id, timestamp DESC);
CREATE INDEX idx_messages_guid ON messages(guid);
CREATE TABLE chat_participants (
    chat_id TEXT NOT NULL,
    handle_id INTEGER NOT NULL,
    handle TEXT NOT NULL,
    service TEXT,
    PRIMARY KEY (chat_id, handle_id)
);
CREATE INDEX idx_chat_participants_chat ON chat_participants(chat_id);
CREATE INDEX idx_chat_participants_handle ON chat_participants(handle);
CREATE TABLE sync_state (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    last_timestamp INTEGER NOT NULL DEFAULT 0,
    last_rowid INTEGER NOT NULL DEFAULT 0,
    message_count INTEGER NOT NULL DEFAULT 0,
    updated_at INTEGER NOT NULL
);
CREATE TABLE sync_marks (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    message_rowid INTEGER NOT NULL DEFAULT 0,
    join_rowid INTEGER NOT NULL DEFAULT 0,
    join_message_id INTEGER NOT NULL DEFAULT 0,
    join_chat_id INTEGER NOT NULL DEFAULT 0
);
