#include "tools/samplestore/ChatStoreWriter.hpp"

#include "OrluneCore/Environment.hpp"
#include "OrluneCore/SQLite.hpp"

namespace orlune::samplestore {

namespace {

using core::sqlite::Statement;

constexpr const char* kSchema = R"sql(
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE handle (
    ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE,
    id TEXT,
    country TEXT,
    service TEXT,
    uncanonicalized_id TEXT,
    person_centric_id TEXT,
    UNIQUE (id, service)
);
CREATE TABLE chat (
    ROWID INTEGER PRIMARY KEY AUTOINCREMENT,
    guid TEXT UNIQUE NOT NULL,
    style INTEGER,
    state INTEGER,
    account_id TEXT,
    properties BLOB,
    chat_identifier TEXT,
    service_name TEXT,
    room_name TEXT,
    account_login TEXT,
    is_archived INTEGER DEFAULT 0,
    last_addressed_handle TEXT,
    display_name TEXT,
    group_id TEXT,
    is_filtered INTEGER DEFAULT 0,
    successful_query INTEGER,
    engram_id TEXT,
    server_change_token TEXT,
    ck_sync_state INTEGER DEFAULT 0,
    original_group_id TEXT,
    last_read_message_timestamp INTEGER DEFAULT 0,
    cloudkit_record_id TEXT,
    last_addressed_sim_id TEXT,
    is_blackholed INTEGER DEFAULT 0,
    syndication_date INTEGER DEFAULT 0,
    syndication_type INTEGER DEFAULT 0,
    is_recovered INTEGER DEFAULT 0,
    is_deleting_incoming_messages INTEGER DEFAULT 0
);
CREATE TABLE message (
    ROWID INTEGER PRIMARY KEY AUTOINCREMENT,
    guid TEXT UNIQUE,
    text TEXT,
    replace INTEGER DEFAULT 0,
    service_center TEXT,
    handle_id INTEGER DEFAULT 0,
    subject TEXT,
    country TEXT,
    attributedBody BLOB,
    version INTEGER DEFAULT 0,
    type INTEGER DEFAULT 0,
    service TEXT,
    account TEXT,
    account_guid TEXT,
    error INTEGER DEFAULT 0,
    date INTEGER,
    date_read INTEGER,
    date_delivered INTEGER,
    is_delivered INTEGER DEFAULT 0,
    is_finished INTEGER DEFAULT 0,
    is_emote INTEGER DEFAULT 0,
    is_from_me INTEGER DEFAULT 0,
    is_empty INTEGER DEFAULT 0,
    is_delayed INTEGER DEFAULT 0,
    is_auto_reply INTEGER DEFAULT 0,
    is_prepared INTEGER DEFAULT 0,
    is_read INTEGER DEFAULT 0,
    is_system_message INTEGER DEFAULT 0,
    is_sent INTEGER DEFAULT 0,
    has_dd_results INTEGER DEFAULT 0,
    is_service_message INTEGER DEFAULT 0,
    is_forward INTEGER DEFAULT 0,
    was_downgraded INTEGER DEFAULT 0,
    is_archive INTEGER DEFAULT 0,
    cache_has_attachments INTEGER DEFAULT 0,
    cache_roomnames TEXT,
    was_data_detected INTEGER DEFAULT 0,
    was_deduplicated INTEGER DEFAULT 0,
    is_audio_message INTEGER DEFAULT 0,
    is_played INTEGER DEFAULT 0,
    date_played INTEGER,
    item_type INTEGER DEFAULT 0,
    other_handle INTEGER DEFAULT 0,
    group_title TEXT,
    group_action_type INTEGER DEFAULT 0,
    share_status INTEGER DEFAULT 0,
    share_direction INTEGER DEFAULT 0,
    is_expirable INTEGER DEFAULT 0,
    expire_state INTEGER DEFAULT 0,
    message_action_type INTEGER DEFAULT 0,
    message_source INTEGER DEFAULT 0,
    associated_message_guid TEXT DEFAULT NULL,
    associated_message_type INTEGER DEFAULT 0,
    balloon_bundle_id TEXT DEFAULT NULL,
    payload_data BLOB,
    expressive_send_style_id TEXT DEFAULT NULL,
    associated_message_range_location INTEGER DEFAULT 0,
    associated_message_range_length INTEGER DEFAULT 0,
    time_expressive_send_played INTEGER DEFAULT 0,
    message_summary_info BLOB DEFAULT NULL,
    ck_sync_state INTEGER DEFAULT 0,
    ck_record_id TEXT DEFAULT NULL,
    ck_record_change_tag TEXT DEFAULT NULL,
    destination_caller_id TEXT DEFAULT NULL,
    is_corrupt INTEGER DEFAULT 0,
    reply_to_guid TEXT DEFAULT NULL,
    sort_id INTEGER DEFAULT 0,
    is_spam INTEGER DEFAULT 0,
    has_unseen_mention INTEGER DEFAULT 0,
    thread_originator_guid TEXT DEFAULT NULL,
    thread_originator_part TEXT DEFAULT NULL,
    syndication_ranges TEXT DEFAULT NULL,
    synced_syndication_ranges TEXT DEFAULT NULL,
    was_delivered_quietly INTEGER DEFAULT 0,
    did_notify_recipient INTEGER DEFAULT 0,
    date_retracted INTEGER DEFAULT 0,
    date_edited INTEGER DEFAULT 0,
    was_detonated INTEGER DEFAULT 0,
    part_count INTEGER DEFAULT 0,
    is_stewie INTEGER DEFAULT 0,
    is_kt_verified INTEGER DEFAULT 0,
    is_sos INTEGER DEFAULT 0,
    is_critical INTEGER DEFAULT 0,
    bia_reference_id TEXT DEFAULT NULL,
    fallback_hash TEXT DEFAULT NULL
);
CREATE TABLE chat_message_join (
    chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE,
    message_date INTEGER DEFAULT 0,
    PRIMARY KEY (chat_id, message_id)
);
CREATE TABLE chat_handle_join (
    chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
    handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE,
    UNIQUE(chat_id, handle_id)
);
INSERT INTO _SqliteDatabaseProperties (key, value) VALUES ('_ClientVersion', '17000');
)sql";

// The store's secondary indexes (the UNIQUE constraints above make their own).
constexpr const char* kIndexes = R"sql(
CREATE INDEX IF NOT EXISTS message_idx_date ON message(date);
CREATE INDEX IF NOT EXISTS message_idx_handle ON message(handle_id, date);
CREATE INDEX IF NOT EXISTS message_idx_is_read ON message(is_read, is_from_me, is_finished);
CREATE INDEX IF NOT EXISTS chat_message_join_idx_message_id_only ON chat_message_join(message_id);
CREATE INDEX IF NOT EXISTS chat_message_join_idx_message_date_id_chat_id ON chat_message_join(chat_id, message_date, message_id);
CREATE INDEX IF NOT EXISTS chat_handle_join_idx_handle_id ON chat_handle_join(handle_id);
CREATE INDEX IF NOT EXISTS chat_idx_chat_identifier ON chat(chat_identifier);
)sql";

constexpr const char* kInsertHandle = "INSERT INTO handle (ROWID, id, country, service, "
                                      "uncanonicalized_id) VALUES (?, ?, 'us', ?, ?)";
constexpr const char* kInsertChat =
    "INSERT INTO chat (ROWID, guid, style, state, account_id, chat_identifier, service_name, "
    "display_name, group_id) VALUES (?, ?, ?, 3, 'E:me@example.org', ?, ?, ?, ?)";
constexpr const char* kInsertMessage =
    "INSERT INTO message (ROWID, guid, text, handle_id, attributedBody, version, type, service, "
    "account, account_guid, date, date_read, date_delivered, is_delivered, is_finished, "
    "is_from_me, is_read, is_sent, part_count) "
    "VALUES (?, ?, ?, ?, ?, 10, 0, ?, 'E:me@example.org', 'ACCOUNT-0001', ?, ?, ?, 1, 1, ?, ?, ?, "
    "1)";
constexpr const char* kInsertJoin =
    "INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES (?, ?, ?)";
constexpr const char* kInsertMember =
    "INSERT INTO chat_handle_join (chat_id, handle_id) VALUES (?, ?)";

} // namespace

struct ChatStoreWriter::Statements {
    Statement handle;
    Statement chat;
    Statement message;
    Statement join;
    Statement member;
};

ChatStoreWriter::ChatStoreWriter(const std::string& path)
    : ChatStoreWriter(path, CreateOptions{}) {}

ChatStoreWriter::ChatStoreWriter(const std::string& path, CreateOptions options) {
    if (core::pathExists(path)) {
        throw ChatStoreError("A file already exists at " + path);
    }
    open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        execute(kSchema);
        if (!options.deferIndexes) {
            execute(kIndexes);
        }
        prepareStatements();
    } catch (...) {
        statements_.reset();
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

ChatStoreWriter::ChatStoreWriter(const std::string& path, OpenExisting) {
    if (!core::pathExists(path)) {
        throw ChatStoreError("No store at " + path);
    }
    open(path, SQLITE_OPEN_READWRITE);
    try {
        prepareStatements();
    } catch (...) {
        statements_.reset();
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

void ChatStoreWriter::open(const std::string& path, int flags) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::string message = core::sqlite::errorMessage(db_);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw ChatStoreError("Cannot open " + path + ": " + message);
    }
}

void ChatStoreWriter::prepareStatements() {
    statements_ = std::make_unique<Statements>();
    auto prepare = [this](Statement& statement, const char* sql) {
        try {
            statement.prepare(db_, sql);
        } catch (const core::sqlite::Error& error) {
            throw ChatStoreError(error.what());
        }
    };
    prepare(statements_->handle, kInsertHandle);
    prepare(statements_->chat, kInsertChat);
    prepare(statements_->message, kInsertMessage);
    prepare(statements_->join, kInsertJoin);
    prepare(statements_->member, kInsertMember);
}

ChatStoreWriter::~ChatStoreWriter() {
    try {
        close();
    } catch (...) {
        // A failed final commit leaves the store as it was before the
        // transaction; destructors must not throw.
    }
}

void ChatStoreWriter::close() {
    if (db_ == nullptr) {
        return;
    }
    if (inTransaction_) {
        commit();
    }
    statements_.reset();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void ChatStoreWriter::execute(const std::string& sql) {
    try {
        core::sqlite::exec(db_, sql);
    } catch (const core::sqlite::Error& error) {
        throw ChatStoreError(error.what());
    }
}

void ChatStoreWriter::beginTransaction() {
    execute("BEGIN");
    inTransaction_ = true;
}

void ChatStoreWriter::commit() {
    inTransaction_ = false;
    execute("COMMIT");
}

namespace {

void run(sqlite3*, Statement& statement) {
    try {
        statement.run();
    } catch (const core::sqlite::Error& error) {
        statement.reset();
        statement.clearBindings();
        throw ChatStoreError(error.what());
    }
    statement.reset();
    statement.clearBindings();
}

void bindOptionalBlob(Statement& statement, int index, const std::optional<std::string>& bytes) {
    if (bytes) {
        sqlite3_bind_blob64(statement.get(), index, bytes->data(), bytes->size(), SQLITE_STATIC);
    } else {
        statement.bindNull(index);
    }
}

} // namespace

void ChatStoreWriter::addHandle(const HandleRow& handle) {
    auto& s = statements_->handle;
    s.bindInt64(1, handle.rowid);
    s.bindOptionalText(2, handle.id);
    s.bindOptionalText(3, handle.service);
    s.bindOptionalText(4, handle.id);
    run(db_, s);
}

void ChatStoreWriter::addChat(const ChatRow& chat) {
    auto& s = statements_->chat;
    s.bindInt64(1, chat.rowid);
    s.bindText(2, chat.guid);
    s.bindInt64(3, chat.style);
    s.bindText(4, chat.chatIdentifier);
    s.bindText(5, chat.serviceName);
    s.bindOptionalText(6, chat.displayName);
    s.bindText(7, chat.guid);
    run(db_, s);
}

void ChatStoreWriter::addMessage(const MessageRow& message) {
    auto& s = statements_->message;
    s.bindInt64(1, message.rowid);
    s.bindOptionalText(2, message.guid);
    s.bindOptionalText(3, message.text);
    s.bindInt64(4, message.handleId);
    bindOptionalBlob(s, 5, message.attributedBody);
    s.bindText(6, message.service);
    s.bindInt64(7, message.date);
    s.bindInt64(8, message.isFromMe ? 0 : message.date);
    s.bindInt64(9, message.isFromMe ? message.date : 0);
    s.bindInt(10, message.isFromMe ? 1 : 0);
    s.bindInt(11, message.isFromMe ? 0 : 1);
    s.bindInt(12, message.isFromMe ? 1 : 0);
    run(db_, s);
}

void ChatStoreWriter::joinMessageToChat(int64_t messageRowid, int64_t chatRowid,
                                        int64_t messageDate) {
    auto& s = statements_->join;
    s.bindInt64(1, chatRowid);
    s.bindInt64(2, messageRowid);
    s.bindInt64(3, messageDate);
    run(db_, s);
}

void ChatStoreWriter::addChatMember(int64_t chatRowid, int64_t handleRowid) {
    auto& s = statements_->member;
    s.bindInt64(1, chatRowid);
    s.bindInt64(2, handleRowid);
    run(db_, s);
}

void ChatStoreWriter::createIndexes() {
    execute(kIndexes);
}

const char* ChatStoreWriter::schemaSql() {
    static const std::string whole = std::string(kSchema) + kIndexes;
    return whole.c_str();
}

} // namespace orlune::samplestore
