#include "tools/samplestore/ChatStoreWriter.hpp"

#include "base/Environment.hpp"
#include "sql/SQLite.hpp"
#include "store/BinaryPropertyList.hpp"
#include "tools/samplestore/BinaryPropertyListWriter.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <array>
#include <string_view>

namespace orlune::samplestore {

namespace {

using core::PropertyListValue;
using core::sqlite::Statement;
using E = StoreEra;

// Runs `call`, reporting a failed SQLite call as the writer's own error.
template <typename Call> auto storeCall(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const core::sqlite::Error& error) {
        throw ChatStoreError(error.what());
    }
}

// ---------------------------------------------------------------------------
// The schema. Each column and table carries the era it first appears in; the
// SQL of a store is what its era has.

struct Column {
    std::string_view definition;
    StoreEra since = E::VeryOld;
};

// Tables other than the five the readers mostly use, whole.
struct Table {
    std::string_view name;
    std::string_view body;
    StoreEra since;
};

constexpr Column kHandleColumns[] = {
    {"ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE"},
    {"id TEXT"},
    {"country TEXT"},
    {"service TEXT"},
    {"uncanonicalized_id TEXT"},
    {"person_centric_id TEXT", E::BeforeEdits},
    {"UNIQUE (id, service)"},
};

constexpr Column kChatColumns[] = {
    {"ROWID INTEGER PRIMARY KEY AUTOINCREMENT"},
    {"guid TEXT UNIQUE NOT NULL"},
    {"style INTEGER"},
    {"state INTEGER"},
    {"account_id TEXT"},
    {"properties BLOB"},
    {"chat_identifier TEXT"},
    {"service_name TEXT"},
    {"room_name TEXT"},
    {"account_login TEXT"},
    {"is_archived INTEGER DEFAULT 0"},
    {"last_addressed_handle TEXT"},
    {"display_name TEXT"},
    {"group_id TEXT"},
    {"is_filtered INTEGER DEFAULT 0"},
    {"successful_query INTEGER"},
    {"engram_id TEXT", E::BeforeEdits},
    {"server_change_token TEXT", E::BeforeEdits},
    {"ck_sync_state INTEGER DEFAULT 0", E::BeforeEdits},
    {"original_group_id TEXT", E::BeforeEdits},
    {"last_read_message_timestamp INTEGER DEFAULT 0", E::BeforeEdits},
    {"cloudkit_record_id TEXT", E::BeforeEdits},
    {"last_addressed_sim_id TEXT", E::BeforeEdits},
    {"is_blackholed INTEGER DEFAULT 0", E::BeforeEdits},
    {"syndication_date INTEGER DEFAULT 0", E::BeforeEdits},
    {"syndication_type INTEGER DEFAULT 0", E::BeforeEdits},
    {"is_recovered INTEGER DEFAULT 0", E::Recent},
    {"is_deleting_incoming_messages INTEGER DEFAULT 0", E::Recent},
};

constexpr Column kMessageColumns[] = {
    {"ROWID INTEGER PRIMARY KEY AUTOINCREMENT"},
    {"guid TEXT UNIQUE"},
    {"text TEXT"},
    {"replace INTEGER DEFAULT 0"},
    {"service_center TEXT"},
    {"handle_id INTEGER DEFAULT 0"},
    {"subject TEXT"},
    {"country TEXT"},
    {"attributedBody BLOB"},
    {"version INTEGER DEFAULT 0"},
    {"type INTEGER DEFAULT 0"},
    {"service TEXT"},
    {"account TEXT"},
    {"account_guid TEXT"},
    {"error INTEGER DEFAULT 0"},
    {"date INTEGER"},
    {"date_read INTEGER"},
    {"date_delivered INTEGER"},
    {"is_delivered INTEGER DEFAULT 0"},
    {"is_finished INTEGER DEFAULT 0"},
    {"is_emote INTEGER DEFAULT 0"},
    {"is_from_me INTEGER DEFAULT 0"},
    {"is_empty INTEGER DEFAULT 0"},
    {"is_delayed INTEGER DEFAULT 0"},
    {"is_auto_reply INTEGER DEFAULT 0"},
    {"is_prepared INTEGER DEFAULT 0"},
    {"is_read INTEGER DEFAULT 0"},
    {"is_system_message INTEGER DEFAULT 0"},
    {"is_sent INTEGER DEFAULT 0"},
    {"has_dd_results INTEGER DEFAULT 0"},
    {"is_service_message INTEGER DEFAULT 0"},
    {"is_forward INTEGER DEFAULT 0"},
    {"was_downgraded INTEGER DEFAULT 0"},
    {"is_archive INTEGER DEFAULT 0"},
    {"cache_has_attachments INTEGER DEFAULT 0"},
    {"cache_roomnames TEXT"},
    {"was_data_detected INTEGER DEFAULT 0"},
    {"was_deduplicated INTEGER DEFAULT 0"},
    {"is_audio_message INTEGER DEFAULT 0"},
    {"is_played INTEGER DEFAULT 0"},
    {"date_played INTEGER"},
    {"item_type INTEGER DEFAULT 0"},
    {"other_handle INTEGER DEFAULT 0"},
    {"group_title TEXT"},
    {"group_action_type INTEGER DEFAULT 0"},
    {"share_status INTEGER DEFAULT 0"},
    {"share_direction INTEGER DEFAULT 0"},
    {"is_expirable INTEGER DEFAULT 0"},
    {"expire_state INTEGER DEFAULT 0"},
    {"message_action_type INTEGER DEFAULT 0"},
    {"message_source INTEGER DEFAULT 0"},
    {"associated_message_guid TEXT"},
    {"associated_message_type INTEGER DEFAULT 0"},
    {"balloon_bundle_id TEXT"},
    {"payload_data BLOB"},
    {"expressive_send_style_id TEXT"},
    {"associated_message_range_location INTEGER DEFAULT 0"},
    {"associated_message_range_length INTEGER DEFAULT 0"},
    {"time_expressive_send_played INTEGER"},
    {"message_summary_info BLOB"},
    {"ck_sync_state INTEGER DEFAULT 0", E::BeforeEdits},
    {"ck_record_id TEXT", E::BeforeEdits},
    {"ck_record_change_tag TEXT", E::BeforeEdits},
    {"destination_caller_id TEXT", E::BeforeEdits},
    {"is_corrupt INTEGER DEFAULT 0", E::BeforeEdits},
    {"reply_to_guid TEXT", E::BeforeEdits},
    {"sort_id INTEGER", E::BeforeEdits},
    {"is_spam INTEGER DEFAULT 0", E::BeforeEdits},
    {"has_unseen_mention INTEGER DEFAULT 0", E::BeforeEdits},
    {"thread_originator_guid TEXT", E::BeforeEdits},
    {"thread_originator_part TEXT", E::BeforeEdits},
    {"syndication_ranges TEXT", E::BeforeEdits},
    {"synced_syndication_ranges TEXT", E::BeforeEdits},
    {"was_delivered_quietly INTEGER DEFAULT 0", E::BeforeEdits},
    {"did_notify_recipient INTEGER DEFAULT 0", E::BeforeEdits},
    {"date_retracted INTEGER DEFAULT 0", E::Recent},
    {"date_edited INTEGER DEFAULT 0", E::Recent},
    {"was_detonated INTEGER DEFAULT 0", E::Recent},
    {"part_count INTEGER", E::Recent},
    {"is_stewie INTEGER DEFAULT 0", E::Recent},
    {"is_sos INTEGER DEFAULT 0", E::Recent},
    {"is_critical INTEGER DEFAULT 0", E::Recent},
    {"bia_reference_id TEXT DEFAULT NULL", E::Recent},
    {"is_kt_verified INTEGER DEFAULT 0", E::Recent},
    {"fallback_hash TEXT DEFAULT NULL", E::Recent},
    {"associated_message_emoji TEXT DEFAULT NULL", E::Recent},
    {"is_pending_satellite_send INTEGER DEFAULT 0", E::Recent},
    {"needs_relay INTEGER DEFAULT 0", E::Recent},
    {"schedule_type INTEGER DEFAULT 0", E::Recent},
    {"schedule_state INTEGER DEFAULT 0", E::Recent},
    {"sent_or_received_off_grid INTEGER DEFAULT 0", E::Recent},
    {"date_recovered INTEGER DEFAULT 0", E::Recent},
    {"is_time_sensitive INTEGER DEFAULT 0", E::Newest},
    {"ck_chat_id TEXT", E::Newest},
};

constexpr Column kAttachmentColumns[] = {
    {"ROWID INTEGER PRIMARY KEY AUTOINCREMENT"},
    {"guid TEXT UNIQUE NOT NULL"},
    {"created_date INTEGER DEFAULT 0"},
    {"start_date INTEGER DEFAULT 0"},
    {"filename TEXT"},
    {"uti TEXT"},
    {"mime_type TEXT"},
    {"transfer_state INTEGER DEFAULT 0"},
    {"is_outgoing INTEGER DEFAULT 0"},
    {"user_info BLOB"},
    {"transfer_name TEXT"},
    {"total_bytes INTEGER DEFAULT 0"},
    {"is_sticker INTEGER DEFAULT 0"},
    {"sticker_user_info BLOB"},
    {"attribution_info BLOB"},
    {"hide_attachment INTEGER DEFAULT 0"},
    {"ck_sync_state INTEGER DEFAULT 0", E::BeforeEdits},
    {"ck_server_change_token_blob BLOB", E::BeforeEdits},
    {"ck_record_id TEXT", E::BeforeEdits},
    {"original_guid TEXT UNIQUE NOT NULL", E::BeforeEdits},
    {"is_commsafety_sensitive INTEGER DEFAULT 0", E::Recent},
    {"emoji_image_content_identifier TEXT DEFAULT NULL", E::Recent},
    {"emoji_image_short_description TEXT DEFAULT NULL", E::Recent},
    {"preview_generation_state INTEGER DEFAULT 0", E::Recent},
};

constexpr Column kChatMessageJoinColumns[] = {
    {"chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE"},
    {"message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE"},
    {"message_date INTEGER DEFAULT 0", E::BeforeEdits},
    {"PRIMARY KEY (chat_id, message_id)"},
};

constexpr Table kOtherTables[] = {
    {"_SqliteDatabaseProperties", "key TEXT, value TEXT, UNIQUE(key)", E::VeryOld},
    {"deleted_messages", "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL",
     E::VeryOld},
    {"chat_handle_join",
     "chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id INTEGER REFERENCES "
     "handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id)",
     E::VeryOld},
    {"message_attachment_join",
     "message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, attachment_id INTEGER "
     "REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id)",
     E::VeryOld},
    {"sync_deleted_messages",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT",
     E::BeforeEdits},
    {"message_processing_task",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, task_flags INTEGER NOT "
     "NULL",
     E::BeforeEdits},
    {"sync_deleted_chats",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT, "
     "timestamp INTEGER",
     E::BeforeEdits},
    {"sync_deleted_attachments",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT",
     E::BeforeEdits},
    {"kvtable",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, key TEXT UNIQUE NOT NULL, value BLOB NOT "
     "NULL",
     E::BeforeEdits},
    {"chat_recoverable_message_join",
     "chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES "
     "message (ROWID) ON DELETE CASCADE, delete_date INTEGER, ck_sync_state INTEGER DEFAULT 0, "
     "PRIMARY KEY (chat_id, message_id), CHECK (delete_date != 0)",
     E::Recent},
    {"unsynced_removed_recoverable_messages",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, chat_guid TEXT NOT NULL, message_guid TEXT "
     "NOT NULL, part_index INTEGER",
     E::Recent},
    {"recoverable_message_part",
     "chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES "
     "message (ROWID) ON DELETE CASCADE, part_index INTEGER, delete_date INTEGER, part_text BLOB "
     "NOT NULL, ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id, part_index), "
     "CHECK (delete_date != 0)",
     E::Recent},
    {"scheduled_messages_pending_cloudkit_delete",
     "ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID TEXT",
     E::Recent},
};

struct SqlSince {
    std::string_view sql;
    StoreEra since;
};

// The store's secondary indexes (the UNIQUE constraints make their own).
constexpr SqlSince kIndexes[] = {
    {"CREATE INDEX IF NOT EXISTS message_attachment_join_idx_message_id ON "
     "message_attachment_join(message_id)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_idx_chat_identifier_service_name ON chat(chat_identifier, "
     "service_name)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_handle_join_idx_handle_id ON chat_handle_join(handle_id)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_attachment_join_idx_attachment_id ON "
     "message_attachment_join(attachment_id)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_date ON message(date)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS attachment_idx_purged_attachments_v2 ON "
     "attachment(hide_attachment, ck_sync_state, transfer_state) WHERE hide_attachment = 0 AND "
     "(ck_sync_state = 1 OR ck_sync_state = 4) AND transfer_state = 0",
     E::BeforeEdits},
    {"CREATE INDEX IF NOT EXISTS message_idx_thread_originator_guid ON "
     "message(thread_originator_guid)",
     E::BeforeEdits},
    {"CREATE INDEX IF NOT EXISTS message_idx_handle ON message(handle_id, date)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_handle_id ON message(handle_id)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_is_sent_is_from_me_error ON message(is_sent, "
     "is_from_me, error)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_message_join_idx_message_id_only ON "
     "chat_message_join(message_id)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_associated_message ON "
     "message(associated_message_guid)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_idx_chat_identifier ON chat(chat_identifier)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_processing_task_idx_guid_task_flags ON "
     "message_processing_task(guid, task_flags)",
     E::BeforeEdits},
    {"CREATE INDEX IF NOT EXISTS message_idx_undelivered_one_to_one_imessage ON "
     "message(cache_roomnames, service, is_sent, is_delivered, was_downgraded, item_type) WHERE "
     "cache_roomnames IS NULL AND service = 'iMessage' AND is_sent = 1 AND is_delivered = 0 AND "
     "was_downgraded = 0 AND item_type == 0",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_message_join_idx_chat_id ON chat_message_join(chat_id)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_cache_has_attachments ON "
     "message(cache_has_attachments)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_idx_chat_room_name_service_name ON chat(room_name, "
     "service_name)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_other_handle ON message(other_handle)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_was_downgraded ON message(was_downgraded)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_idx_is_archived ON chat(is_archived)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_idx_group_id ON chat(group_id)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_expire_state ON message(expire_state)", E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS chat_message_join_idx_message_date_id_chat_id ON "
     "chat_message_join(chat_id, message_date, message_id)",
     E::BeforeEdits},
    {"CREATE INDEX IF NOT EXISTS message_idx_is_read ON message(is_read, is_from_me, "
     "is_finished)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_isRead_isFromMe_itemType ON message(is_read, "
     "is_from_me, item_type)",
     E::VeryOld},
    {"CREATE INDEX IF NOT EXISTS message_idx_failed ON message(is_finished, is_from_me, error)",
     E::VeryOld},
};

// The store's triggers. They keep the cached columns, remove what a deletion
// leaves behind (a message in no chat, a handle in no chat and no message, an
// attachment of no message) and record deleted guids.
constexpr SqlSince kTriggers[] = {
    // Before Recently Deleted: a message whose last chat join goes is deleted.
    {"CREATE TRIGGER after_delete_on_chat_message_join AFTER DELETE ON chat_message_join BEGIN "
     "UPDATE message SET cache_roomnames = (SELECT group_concat(c.room_name) FROM chat c INNER "
     "JOIN chat_message_join j ON c.ROWID = j.chat_id WHERE j.message_id = OLD.message_id) WHERE "
     "message.ROWID = OLD.message_id; DELETE FROM message WHERE message.ROWID = OLD.message_id AND "
     "OLD.message_id NOT IN (SELECT chat_message_join.message_id FROM chat_message_join WHERE "
     "chat_message_join.message_id = OLD.message_id LIMIT 1); END",
     E::VeryOld},
    {"CREATE TRIGGER after_insert_on_message_attachment_join AFTER INSERT ON "
     "message_attachment_join BEGIN UPDATE message SET cache_has_attachments = 1 WHERE "
     "message.ROWID = NEW.message_id; END",
     E::VeryOld},
    {"CREATE TRIGGER after_delete_on_chat_handle_join AFTER DELETE ON chat_handle_join BEGIN "
     "DELETE FROM handle WHERE handle.ROWID = OLD.handle_id AND (SELECT 1 FROM chat_handle_join "
     "WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL AND (SELECT 1 FROM message WHERE "
     "handle_id = OLD.handle_id LIMIT 1) IS NULL AND (SELECT 1 FROM message WHERE other_handle = "
     "OLD.handle_id LIMIT 1) IS NULL; END",
     E::VeryOld},
    {"CREATE TRIGGER after_insert_on_chat_message_join AFTER INSERT ON chat_message_join BEGIN "
     "UPDATE message SET cache_roomnames = (SELECT group_concat(c.room_name) FROM chat c INNER "
     "JOIN chat_message_join j ON c.ROWID = j.chat_id WHERE j.message_id = NEW.message_id) WHERE "
     "message.ROWID = NEW.message_id; END",
     E::VeryOld},
    {"CREATE TRIGGER after_delete_on_message AFTER DELETE ON message BEGIN DELETE FROM handle "
     "WHERE handle.ROWID = OLD.handle_id AND (SELECT 1 FROM chat_handle_join WHERE handle_id = "
     "OLD.handle_id LIMIT 1) IS NULL AND (SELECT 1 FROM message WHERE handle_id = OLD.handle_id "
     "LIMIT 1) IS NULL AND (SELECT 1 FROM message WHERE other_handle = OLD.handle_id LIMIT 1) IS "
     "NULL; END",
     E::VeryOld},
    {"CREATE TRIGGER update_message_date_after_update_on_message AFTER UPDATE OF date ON message "
     "BEGIN UPDATE chat_message_join SET message_date = NEW.date WHERE message_id = NEW.ROWID AND "
     "message_date != NEW.date; END",
     E::BeforeEdits},
    {"CREATE TRIGGER add_to_sync_deleted_messages AFTER DELETE ON message BEGIN INSERT INTO "
     "sync_deleted_messages (guid, recordID) VALUES (OLD.guid, OLD.ck_record_id); END",
     E::BeforeEdits},
    {"CREATE TRIGGER after_delete_on_chat AFTER DELETE ON chat BEGIN DELETE FROM "
     "chat_message_join WHERE chat_id = OLD.ROWID; END",
     E::VeryOld},
    {"CREATE TRIGGER add_to_sync_deleted_attachments AFTER DELETE ON attachment BEGIN INSERT INTO "
     "sync_deleted_attachments (guid, recordID) VALUES (OLD.guid, OLD.ck_record_id); END",
     E::BeforeEdits},
    {"CREATE TRIGGER delete_associated_messages_after_delete_on_message AFTER DELETE ON message "
     "BEGIN DELETE FROM message WHERE (OLD.associated_message_guid IS NULL AND "
     "associated_message_guid IS NOT NULL AND guid = OLD.associated_message_guid); END",
     E::VeryOld},
    {"CREATE TRIGGER add_to_deleted_messages AFTER DELETE ON message BEGIN INSERT INTO "
     "deleted_messages (guid) VALUES (OLD.guid); END",
     E::VeryOld},
    {"CREATE TRIGGER after_delete_on_message_attachment_join AFTER DELETE ON "
     "message_attachment_join BEGIN DELETE FROM attachment WHERE attachment.ROWID = "
     "OLD.attachment_id AND (SELECT 1 FROM message_attachment_join WHERE attachment_id = "
     "OLD.attachment_id LIMIT 1) IS NULL; END",
     E::VeryOld},
    {"CREATE TRIGGER update_last_failed_message_date AFTER UPDATE OF error ON message WHEN "
     "NEW.error != 0 AND NEW.date > COALESCE((SELECT value FROM kvtable WHERE key = "
     "'lastFailedMessageDate'), 0) BEGIN INSERT OR REPLACE INTO kvtable (key, value) VALUES "
     "('lastFailedMessageDate', NEW.date); INSERT OR REPLACE INTO kvtable (key, value) VALUES "
     "('lastFailedMessageRowID', NEW.rowID); END",
     E::BeforeEdits},
};

// From Recent on, a message also stays while it is in Recently Deleted.
constexpr std::string_view kKeepRecoverable =
    " AND OLD.message_id NOT IN (SELECT chat_recoverable_message_join.message_id FROM "
    "chat_recoverable_message_join WHERE chat_recoverable_message_join.message_id = "
    "OLD.message_id LIMIT 1)";

constexpr std::string_view kRecoverableJoinTrigger =
    "CREATE TRIGGER after_delete_on_chat_recoverable_message_join AFTER DELETE ON "
    "chat_recoverable_message_join BEGIN UPDATE message SET cache_roomnames = (SELECT "
    "group_concat(c.room_name) FROM chat c INNER JOIN chat_message_join j ON c.ROWID = j.chat_id "
    "WHERE j.message_id = OLD.message_id) WHERE message.ROWID = OLD.message_id; DELETE FROM "
    "message WHERE message.ROWID = OLD.message_id AND OLD.message_id NOT IN (SELECT "
    "chat_message_join.message_id FROM chat_message_join WHERE chat_message_join.message_id = "
    "OLD.message_id LIMIT 1)";

std::string createTable(std::string_view name, const Column* begin, const Column* end,
                        StoreEra era) {
    std::string sql = "CREATE TABLE " + std::string(name) + " (";
    bool first = true;
    for (const Column* c = begin; c != end; ++c) {
        if (c->since > era) {
            continue;
        }
        if (!first) {
            sql += ", ";
        }
        sql += c->definition;
        first = false;
    }
    return sql + ");\n";
}

template <size_t N>
std::string createTable(std::string_view name, const Column (&columns)[N], StoreEra era) {
    return createTable(name, columns, columns + N, era);
}

std::string tablesSql(StoreEra era) {
    std::string sql;
    for (const auto& t : kOtherTables) {
        if (t.since <= era) {
            sql += "CREATE TABLE " + std::string(t.name) + " (" + std::string(t.body) + ");\n";
        }
    }
    sql += createTable("handle", kHandleColumns, era);
    sql += createTable("chat", kChatColumns, era);
    sql += createTable("message", kMessageColumns, era);
    sql += createTable("attachment", kAttachmentColumns, era);
    sql += createTable("chat_message_join", kChatMessageJoinColumns, era);
    sql += "INSERT INTO _SqliteDatabaseProperties (key, value) VALUES ('_ClientVersion', "
           "'17000');\n";
    return sql;
}

std::string indexesSql(StoreEra era) {
    std::string sql;
    for (const auto& index : kIndexes) {
        if (index.since <= era) {
            sql += std::string(index.sql) + ";\n";
        }
    }
    return sql;
}

std::string triggersSql(StoreEra era) {
    std::string sql;
    for (const auto& trigger : kTriggers) {
        if (trigger.since > era) {
            continue;
        }
        std::string text(trigger.sql);
        if (era >= E::Recent &&
            text.starts_with("CREATE TRIGGER after_delete_on_chat_message_join")) {
            text.insert(text.size() - std::string_view("; END").size(), kKeepRecoverable);
        }
        sql += text + ";\n";
    }
    if (era >= E::Recent) {
        sql += std::string(kRecoverableJoinTrigger) + std::string(kKeepRecoverable) + "; END;\n";
    }
    return sql;
}

// What the triggers would have kept while rows were added without them.
constexpr std::string_view kFillCachedColumns =
    "UPDATE message SET cache_roomnames = (SELECT group_concat(c.room_name) FROM chat c INNER "
    "JOIN chat_message_join j ON c.ROWID = j.chat_id WHERE j.message_id = message.ROWID) WHERE "
    "ROWID IN (SELECT j.message_id FROM chat_message_join j JOIN chat c ON c.ROWID = j.chat_id "
    "WHERE c.room_name IS NOT NULL);\n"
    "UPDATE message SET cache_has_attachments = 1 WHERE cache_has_attachments = 0 AND ROWID IN "
    "(SELECT message_id FROM message_attachment_join);\n";

// ---------------------------------------------------------------------------
// Inserts. Each names every column the writer can fill; the statement lists
// those the store has, so one writer serves every era (and a store whose
// columns a test dropped).

class Insert {
public:
    template <size_t N>
    void prepare(sqlite3* db, std::string_view table,
                 const std::array<std::string_view, N>& columns) {
        std::vector<std::string> present;
        {
            Statement info;
            storeCall([&] { info.prepare(db, "SELECT name FROM pragma_table_info(?)"); });
            info.bindText(1, table);
            while (storeCall([&] { return info.step(); })) {
                present.push_back(info.columnText(0));
            }
        }
        std::string names;
        std::string values;
        parameter_.assign(N, 0);
        int next = 1;
        for (size_t i = 0; i < N; ++i) {
            bool has = false;
            for (const auto& p : present) {
                has = has || p == columns[i];
            }
            if (!has) {
                continue;
            }
            names += (names.empty() ? "" : ", ") + std::string(columns[i]);
            values += values.empty() ? "?" : ", ?";
            parameter_[i] = next++;
        }
        const std::string sql =
            "INSERT INTO " + std::string(table) + " (" + names + ") VALUES (" + values + ")";
        storeCall([&] { statement_.prepare(db, sql); });
    }

    void integer(size_t field, int64_t value) {
        if (parameter_[field] != 0) {
            statement_.bindInt64(parameter_[field], value);
        }
    }
    void text(size_t field, const std::optional<std::string>& value) {
        if (parameter_[field] != 0) {
            statement_.bindOptionalText(parameter_[field], value);
        }
    }
    void optionalInteger(size_t field, const std::optional<int64_t>& value) {
        if (parameter_[field] == 0) {
            return;
        }
        if (value) {
            statement_.bindInt64(parameter_[field], *value);
        } else {
            statement_.bindNull(parameter_[field]);
        }
    }
    void blob(size_t field, const std::optional<std::string>& bytes) {
        if (parameter_[field] == 0) {
            return;
        }
        if (bytes) {
            sqlite3_bind_blob64(statement_.get(), parameter_[field], bytes->data(), bytes->size(),
                                SQLITE_TRANSIENT);
        } else {
            statement_.bindNull(parameter_[field]);
        }
    }
    void run() {
        try {
            storeCall([&] { statement_.run(); });
        } catch (const ChatStoreError&) {
            statement_.reset();
            statement_.clearBindings();
            throw;
        }
        statement_.reset();
        statement_.clearBindings();
    }

private:
    Statement statement_;
    std::vector<int> parameter_; // per field: its parameter, 0 when the column is missing
};

enum HandleField { kHRowid, kHId, kHCountry, kHService, kHUncanonicalized, kHPerson, kHCount };
constexpr std::array<std::string_view, kHCount> kHandleFields = {
    "ROWID", "id", "country", "service", "uncanonicalized_id", "person_centric_id"};

enum ChatField {
    kCRowid,
    kCGuid,
    kCStyle,
    kCState,
    kCAccountId,
    kCIdentifier,
    kCServiceName,
    kCRoomName,
    kCDisplayName,
    kCGroupId,
    kCIsFiltered,
    kCIsBlackholed,
    kCCount
};
constexpr std::array<std::string_view, kCCount> kChatFields = {
    "ROWID",        "guid",      "style",        "state",    "account_id",  "chat_identifier",
    "service_name", "room_name", "display_name", "group_id", "is_filtered", "is_blackholed"};

enum MessageField {
    kMRowid,
    kMGuid,
    kMText,
    kMHandleId,
    kMBody,
    kMVersion,
    kMType,
    kMService,
    kMAccount,
    kMAccountGuid,
    kMDate,
    kMDateRead,
    kMDateDelivered,
    kMIsDelivered,
    kMIsFinished,
    kMIsFromMe,
    kMIsEmpty,
    kMIsRead,
    kMIsSent,
    kMIsAudioMessage,
    kMItemType,
    kMOtherHandle,
    kMGroupTitle,
    kMGroupActionType,
    kMAssociatedGuid,
    kMAssociatedType,
    kMBalloonBundleId,
    kMPayloadData,
    kMRangeLocation,
    kMRangeLength,
    kMSummaryInfo,
    kMDestinationCallerId,
    kMReplyToGuid,
    kMIsSpam,
    kMThreadOriginatorGuid,
    kMThreadOriginatorPart,
    kMDateRetracted,
    kMDateEdited,
    kMPartCount,
    kMAssociatedEmoji,
    kMCount
};
constexpr std::array<std::string_view, kMCount> kMessageFields = {
    "ROWID",
    "guid",
    "text",
    "handle_id",
    "attributedBody",
    "version",
    "type",
    "service",
    "account",
    "account_guid",
    "date",
    "date_read",
    "date_delivered",
    "is_delivered",
    "is_finished",
    "is_from_me",
    "is_empty",
    "is_read",
    "is_sent",
    "is_audio_message",
    "item_type",
    "other_handle",
    "group_title",
    "group_action_type",
    "associated_message_guid",
    "associated_message_type",
    "balloon_bundle_id",
    "payload_data",
    "associated_message_range_location",
    "associated_message_range_length",
    "message_summary_info",
    "destination_caller_id",
    "reply_to_guid",
    "is_spam",
    "thread_originator_guid",
    "thread_originator_part",
    "date_retracted",
    "date_edited",
    "part_count",
    "associated_message_emoji",
};

enum JoinField { kJChat, kJMessage, kJDate, kJCount };
constexpr std::array<std::string_view, kJCount> kJoinFields = {"chat_id", "message_id",
                                                               "message_date"};

enum MemberField { kMemChat, kMemHandle, kMemCount };
constexpr std::array<std::string_view, kMemCount> kMemberFields = {"chat_id", "handle_id"};

enum AttachmentField {
    kARowid,
    kAGuid,
    kACreated,
    kAFilename,
    kAUti,
    kAMime,
    kATransferState,
    kAIsOutgoing,
    kATransferName,
    kATotalBytes,
    kAIsSticker,
    kAHide,
    kAOriginalGuid,
    kACount
};
constexpr std::array<std::string_view, kACount> kAttachmentFields = {
    "ROWID",         "guid",        "created_date",   "filename",
    "uti",           "mime_type",   "transfer_state", "is_outgoing",
    "transfer_name", "total_bytes", "is_sticker",     "hide_attachment",
    "original_guid"};

enum AttachJoinField { kAJMessage, kAJAttachment, kAJCount };
constexpr std::array<std::string_view, kAJCount> kAttachJoinFields = {"message_id",
                                                                      "attachment_id"};

constexpr std::string_view kAccount = "E:me@example.org";

// ---------------------------------------------------------------------------
// The changes.

constexpr const char* kMessageBody =
    "SELECT text, attributedBody, message_summary_info, date FROM message WHERE ROWID = ?";
constexpr const char* kChatsOfMessage =
    "SELECT chat_id FROM chat_message_join WHERE message_id = ?";
constexpr const char* kUpdateEdited =
    "UPDATE message SET text = ?, attributedBody = ?, message_summary_info = ?, date_edited = ? "
    "WHERE ROWID = ?";
constexpr const char* kUpdateUnsent =
    "UPDATE message SET text = NULL, attributedBody = NULL, is_empty = 1, message_summary_info = "
    "?, date_edited = ?, date_retracted = ?, part_count = 0 WHERE ROWID = ?";
constexpr const char* kInsertRecoverable = "INSERT INTO chat_recoverable_message_join (chat_id, "
                                           "message_id, delete_date) VALUES (?, ?, ?)";
constexpr const char* kInsertRecoverablePart =
    "INSERT INTO recoverable_message_part (chat_id, message_id, part_index, delete_date, "
    "part_text) VALUES (?, ?, 0, ?, ?)";
constexpr const char* kDeleteJoinsOfMessage = "DELETE FROM chat_message_join WHERE message_id = ?";
constexpr const char* kRestoreJoins =
    "INSERT OR IGNORE INTO chat_message_join (chat_id, message_id, message_date) SELECT r.chat_id, "
    "r.message_id, m.date FROM chat_recoverable_message_join r JOIN message m ON m.ROWID = "
    "r.message_id WHERE r.message_id = ?";
constexpr const char* kDeleteRecoverableParts =
    "DELETE FROM recoverable_message_part WHERE message_id = ?";
constexpr const char* kDeleteRecoverableJoins =
    "DELETE FROM chat_recoverable_message_join WHERE message_id = ?";
constexpr const char* kDeleteAttachmentJoins =
    "DELETE FROM message_attachment_join WHERE message_id = ?";
constexpr const char* kDeleteMessage = "DELETE FROM message WHERE ROWID = ?";
constexpr const char* kMessagesOfChat =
    "SELECT message_id FROM chat_message_join WHERE chat_id = ?";
constexpr const char* kDeleteRecoverableOfChat =
    "DELETE FROM chat_recoverable_message_join WHERE chat_id = ?";
constexpr const char* kDeleteRecoverablePartsOfChat =
    "DELETE FROM recoverable_message_part WHERE chat_id = ?";
constexpr const char* kDeleteMembers = "DELETE FROM chat_handle_join WHERE chat_id = ?";
constexpr const char* kDeleteChat = "DELETE FROM chat WHERE ROWID = ?";
constexpr const char* kRecordDeletedChat =
    "INSERT INTO sync_deleted_chats (guid, recordID, timestamp) SELECT guid, cloudkit_record_id, "
    "? FROM chat WHERE ROWID = ?";
constexpr const char* kRenameChat = "UPDATE chat SET display_name = ? WHERE ROWID = ?";
constexpr const char* kRowidOfGuid = "SELECT ROWID FROM message WHERE guid = ?";

bool hasTable(sqlite3* db, std::string_view table) {
    Statement s;
    storeCall(
        [&] { s.prepare(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"); });
    s.bindText(1, table);
    return storeCall([&] { return s.step(); });
}

bool hasColumn(sqlite3* db, std::string_view table, std::string_view column) {
    Statement s;
    storeCall([&] { s.prepare(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?"); });
    s.bindText(1, table);
    s.bindText(2, column);
    return storeCall([&] { return s.step(); });
}

StoreEra detectEra(sqlite3* db) {
    if (hasTable(db, "chat_recoverable_message_join")) {
        return hasColumn(db, "message", "ck_chat_id") ? E::Newest : E::Recent;
    }
    return hasColumn(db, "chat_message_join", "message_date") ? E::BeforeEdits : E::VeryOld;
}

} // namespace

int64_t storeTicksPerSecond(StoreEra era) {
    return era == E::VeryOld ? 1 : 1000000000LL;
}

struct ChatStoreWriter::Statements {
    Insert handle;
    Insert chat;
    Insert message;
    Insert join;
    Insert member;
    Insert attachment;
    Insert attach;
};

ChatStoreWriter::ChatStoreWriter(const std::string& path)
    : ChatStoreWriter(path, CreateOptions{}) {}

ChatStoreWriter::ChatStoreWriter(const std::string& path, CreateOptions options) {
    if (core::pathExists(path)) {
        throw ChatStoreError("A file already exists at " + path);
    }
    era_ = options.era;
    open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        // One transaction: one sync of the file instead of one per statement.
        deferred_ = options.deferIndexes;
        execute("BEGIN;\n" + tablesSql(era_) +
                (deferred_ ? std::string() : indexesSql(era_) + triggersSql(era_)) + "COMMIT;");
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
        era_ = detectEra(db_);
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
    // Like the system's own writer, wait out a reader (a sync copying the
    // store) instead of failing the write at once.
    sqlite3_busy_timeout(db_, 5000);
}

void ChatStoreWriter::prepareStatements() {
    statements_ = std::make_unique<Statements>();
    statements_->handle.prepare(db_, "handle", kHandleFields);
    statements_->chat.prepare(db_, "chat", kChatFields);
    statements_->message.prepare(db_, "message", kMessageFields);
    statements_->join.prepare(db_, "chat_message_join", kJoinFields);
    statements_->member.prepare(db_, "chat_handle_join", kMemberFields);
    statements_->attachment.prepare(db_, "attachment", kAttachmentFields);
    statements_->attach.prepare(db_, "message_attachment_join", kAttachJoinFields);
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

void ChatStoreWriter::addHandle(const HandleRow& handle) {
    auto& s = statements_->handle;
    s.integer(kHRowid, handle.rowid);
    s.text(kHId, handle.id);
    s.text(kHCountry, handle.country);
    s.text(kHService, handle.service);
    s.text(kHUncanonicalized, handle.uncanonicalizedId ? handle.uncanonicalizedId : handle.id);
    s.text(kHPerson, handle.personCentricId);
    s.run();
}

void ChatStoreWriter::addChat(const ChatRow& chat) {
    auto& s = statements_->chat;
    s.integer(kCRowid, chat.rowid);
    s.text(kCGuid, chat.guid);
    s.integer(kCStyle, chat.style);
    s.integer(kCState, 3);
    s.text(kCAccountId, std::string(kAccount));
    s.text(kCIdentifier, chat.chatIdentifier);
    s.text(kCServiceName, chat.serviceName);
    s.text(kCRoomName, chat.roomName);
    s.text(kCDisplayName, chat.displayName);
    s.text(kCGroupId, chat.guid);
    s.integer(kCIsFiltered, chat.isFiltered);
    s.integer(kCIsBlackholed, chat.isBlackholed ? 1 : 0);
    s.run();
}

void ChatStoreWriter::addMessage(const MessageRow& m) {
    auto& s = statements_->message;
    s.integer(kMRowid, m.rowid);
    s.text(kMGuid, m.guid);
    s.text(kMText, m.text);
    s.integer(kMHandleId, m.handleId);
    s.blob(kMBody, m.attributedBody);
    s.integer(kMVersion, 10);
    s.integer(kMType, 0);
    s.text(kMService, m.service);
    s.text(kMAccount, std::string(kAccount));
    s.text(kMAccountGuid, std::string("ACCOUNT-0001"));
    s.integer(kMDate, m.date);
    s.integer(kMDateRead, m.isFromMe ? 0 : m.date);
    s.integer(kMDateDelivered, m.isFromMe ? m.date : 0);
    s.integer(kMIsDelivered, 1);
    s.integer(kMIsFinished, 1);
    s.integer(kMIsFromMe, m.isFromMe ? 1 : 0);
    s.integer(kMIsEmpty, m.isEmpty ? 1 : 0);
    s.integer(kMIsRead, m.isFromMe ? 0 : 1);
    s.integer(kMIsSent, m.isFromMe ? 1 : 0);
    s.integer(kMIsAudioMessage, m.isAudioMessage ? 1 : 0);
    s.integer(kMItemType, m.itemType);
    s.integer(kMOtherHandle, m.otherHandle);
    s.text(kMGroupTitle, m.groupTitle);
    s.integer(kMGroupActionType, m.groupActionType);
    s.text(kMAssociatedGuid, m.associatedMessageGuid);
    s.integer(kMAssociatedType, m.associatedMessageType);
    s.text(kMBalloonBundleId, m.balloonBundleId);
    s.blob(kMPayloadData, m.payloadData);
    s.integer(kMRangeLocation, m.associatedMessageRangeLocation);
    s.integer(kMRangeLength, m.associatedMessageRangeLength);
    s.blob(kMSummaryInfo, m.messageSummaryInfo);
    s.text(kMDestinationCallerId,
           m.isFromMe ? std::optional<std::string>(std::string(kAccount)) : std::nullopt);
    s.text(kMReplyToGuid, m.replyToGuid);
    s.integer(kMIsSpam, m.isSpam ? 1 : 0);
    s.text(kMThreadOriginatorGuid, m.threadOriginatorGuid);
    s.text(kMThreadOriginatorPart, m.threadOriginatorPart);
    s.integer(kMDateRetracted, m.dateRetracted);
    s.integer(kMDateEdited, m.dateEdited);
    s.optionalInteger(kMPartCount, m.partCount);
    s.text(kMAssociatedEmoji, m.associatedMessageEmoji);
    s.run();
}

void ChatStoreWriter::joinMessageToChat(int64_t messageRowid, int64_t chatRowid,
                                        int64_t messageDate) {
    auto& s = statements_->join;
    s.integer(kJChat, chatRowid);
    s.integer(kJMessage, messageRowid);
    s.integer(kJDate, messageDate);
    s.run();
}

void ChatStoreWriter::addChatMember(int64_t chatRowid, int64_t handleRowid) {
    auto& s = statements_->member;
    s.integer(kMemChat, chatRowid);
    s.integer(kMemHandle, handleRowid);
    s.run();
}

void ChatStoreWriter::addAttachment(const AttachmentRow& a) {
    auto& s = statements_->attachment;
    s.integer(kARowid, a.rowid);
    s.text(kAGuid, a.guid);
    s.integer(kACreated, a.createdDate);
    s.text(kAFilename, a.filename);
    s.text(kAUti, a.uti);
    s.text(kAMime, a.mimeType);
    s.integer(kATransferState, a.transferState);
    s.integer(kAIsOutgoing, a.isOutgoing ? 1 : 0);
    s.text(kATransferName, a.transferName);
    s.integer(kATotalBytes, a.totalBytes);
    s.integer(kAIsSticker, a.isSticker ? 1 : 0);
    s.integer(kAHide, a.hideAttachment ? 1 : 0);
    s.text(kAOriginalGuid, a.guid);
    s.run();
}

void ChatStoreWriter::attachToMessage(int64_t messageRowid, int64_t attachmentRowid) {
    auto& s = statements_->attach;
    s.integer(kAJMessage, messageRowid);
    s.integer(kAJAttachment, attachmentRowid);
    s.run();
}

void ChatStoreWriter::createIndexes() {
    if (!deferred_) {
        execute(indexesSql(era_));
        return;
    }
    execute(indexesSql(era_));
    execute(std::string(kFillCachedColumns));
    execute(triggersSql(era_));
    deferred_ = false;
}

std::string ChatStoreWriter::schemaSql(StoreEra era) {
    return tablesSql(era) + indexesSql(era) + triggersSql(era);
}

// ---------------------------------------------------------------------------

namespace {

Statement prepared(sqlite3* db, const char* sql) {
    Statement s;
    storeCall([&] { s.prepare(db, sql); });
    return s;
}

void runToEnd(Statement& s) {
    storeCall([&] { s.run(); });
}

void bindBlob(Statement& s, int index, const std::optional<std::string>& bytes) {
    if (bytes) {
        sqlite3_bind_blob64(s.get(), index, bytes->data(), bytes->size(), SQLITE_TRANSIENT);
    } else {
        s.bindNull(index);
    }
}

std::vector<int64_t> column(sqlite3* db, const char* sql, int64_t value) {
    Statement s = prepared(db, sql);
    s.bindInt64(1, value);
    std::vector<int64_t> out;
    while (storeCall([&] { return s.step(); })) {
        out.push_back(s.columnInt64(0));
    }
    return out;
}

} // namespace

void ChatStoreWriter::requireEra(StoreEra atLeast, const char* change) const {
    if (era_ < atLeast) {
        throw ChatStoreError(std::string("A store of this era cannot hold ") + change);
    }
}

void ChatStoreWriter::requireTriggers(const char* change) const {
    if (deferred_) {
        throw ChatStoreError(std::string(change) +
                             " needs the store's triggers: call createIndexes() first");
    }
}

int64_t ChatStoreWriter::changeOne(const std::string& sql, std::initializer_list<int64_t> values) {
    Statement s = prepared(db_, sql.c_str());
    int index = 1;
    for (int64_t v : values) {
        s.bindInt64(index++, v);
    }
    runToEnd(s);
    return sqlite3_changes(db_);
}

ChatStoreWriter::Body ChatStoreWriter::readBody(int64_t messageRowid) {
    Statement s = prepared(db_, kMessageBody);
    s.bindInt64(1, messageRowid);
    if (!storeCall([&] { return s.step(); })) {
        throw ChatStoreError("No message with ROWID " + std::to_string(messageRowid));
    }
    Body body;
    body.text = s.columnOptionalText(0);
    if (!s.isNull(1)) {
        body.attributedBody = s.columnBytes(1);
    }
    if (!s.isNull(2)) {
        body.summary = s.columnBytes(2);
    }
    body.date = s.columnInt64(3);
    return body;
}

std::optional<int64_t> ChatStoreWriter::messageRowid(const std::string& guid) {
    Statement s = prepared(db_, kRowidOfGuid);
    s.bindText(1, guid);
    if (!storeCall([&] { return s.step(); })) {
        return std::nullopt;
    }
    return s.columnInt64(0);
}

void ChatStoreWriter::renameChat(int64_t chatRowid, const std::string& title) {
    Statement s = prepared(db_, kRenameChat);
    s.bindText(1, title);
    s.bindInt64(2, chatRowid);
    runToEnd(s);
}

void ChatStoreWriter::editMessage(int64_t messageRowid, const std::string& text, int64_t date,
                                  bool currentTextOnlyInHistory, bool stampDateEdited) {
    requireEra(E::Recent, "edits");
    const Body body = readBody(messageRowid);
    const int64_t ticks = storeTicksPerSecond(era_);

    // The history so far, or the original version as its first entry.
    std::optional<PropertyListValue> old;
    if (body.summary) {
        old = core::BinaryPropertyList::decode(*body.summary);
    }
    PropertyListValue::Array history;
    if (old) {
        if (const auto* ec = old->find("ec")) {
            if (const auto* part0 = ec->find("0")) {
                if (const auto* entries = part0->as<PropertyListValue::Array>()) {
                    history = *entries;
                }
            }
        }
    }
    if (history.empty()) {
        std::string original = body.attributedBody
                                   ? *body.attributedBody
                                   : TypedStreamWriter::attributedBody(body.text.value_or(""));
        history.push_back(PropertyListValue::Dictionary{
            {"d", body.date / ticks}, {"t", core::PropertyListData{std::move(original)}}});
    }
    const std::string newBody = TypedStreamWriter::attributedBody(text);
    history.push_back(
        PropertyListValue::Dictionary{{"d", date / ticks}, {"t", core::PropertyListData{newBody}}});
    PropertyListValue::Dictionary rebuilt;
    rebuilt.emplace_back("ec", PropertyListValue::Dictionary{{"0", history}});
    rebuilt.emplace_back(
        "otr", PropertyListValue::Dictionary{
                   {"0", PropertyListValue::Dictionary{
                             {"le", static_cast<int64_t>(TypedStreamWriter::utf16Length(text))},
                             {"lo", 0}}}});
    if (const auto* entries = old ? old->as<PropertyListValue::Dictionary>() : nullptr) {
        for (const auto& [key, value] : *entries) {
            if (key != "ec" && key != "otr") {
                rebuilt.emplace_back(key, value);
            }
        }
    }

    Statement s = prepared(db_, kUpdateEdited);
    if (currentTextOnlyInHistory) {
        s.bindNull(1);
        s.bindNull(2);
    } else {
        s.bindText(1, text);
        bindBlob(s, 2, newBody);
    }
    bindBlob(s, 3, BinaryPropertyListWriter::write(rebuilt));
    s.bindInt64(4, stampDateEdited ? date : 0);
    s.bindInt64(5, messageRowid);
    runToEnd(s);
}

void ChatStoreWriter::unsendMessage(int64_t messageRowid, int64_t date, bool stampDateRetracted) {
    requireEra(E::Recent, "unsent messages");
    const Body body = readBody(messageRowid);
    const std::string text = body.text.value_or("");
    const PropertyListValue summary = PropertyListValue::Dictionary{
        {"rp", PropertyListValue::Array{0}},
        {"otr",
         PropertyListValue::Dictionary{
             {"0",
              PropertyListValue::Dictionary{
                  {"le", static_cast<int64_t>(TypedStreamWriter::utf16Length(text))}, {"lo", 0}}}}},
    };
    Statement s = prepared(db_, kUpdateUnsent);
    bindBlob(s, 1, BinaryPropertyListWriter::write(summary));
    s.bindInt64(2, date);
    s.bindInt64(3, stampDateRetracted ? date : 0);
    s.bindInt64(4, messageRowid);
    runToEnd(s);
}

void ChatStoreWriter::moveToRecentlyDeleted(int64_t messageRowid, int64_t deleteDate) {
    requireEra(E::Recent, "Recently Deleted");
    requireTriggers("Moving a message to Recently Deleted");
    const Body body = readBody(messageRowid);
    std::optional<std::string> partText = body.attributedBody;
    if (!partText && body.text) {
        partText = TypedStreamWriter::attributedBody(*body.text);
    }
    for (int64_t chat : column(db_, kChatsOfMessage, messageRowid)) {
        changeOne(kInsertRecoverable, {chat, messageRowid, deleteDate});
        if (partText) {
            Statement s = prepared(db_, kInsertRecoverablePart);
            s.bindInt64(1, chat);
            s.bindInt64(2, messageRowid);
            s.bindInt64(3, deleteDate);
            bindBlob(s, 4, partText);
            runToEnd(s);
        }
    }
    // The recoverable rows exist first, so the join's trigger keeps the row.
    changeOne(kDeleteJoinsOfMessage, {messageRowid});
}

void ChatStoreWriter::restoreFromRecentlyDeleted(int64_t messageRowid) {
    requireEra(E::Recent, "Recently Deleted");
    requireTriggers("Restoring a message");
    changeOne(kRestoreJoins, {messageRowid});
    changeOne(kDeleteRecoverableParts, {messageRowid});
    changeOne(kDeleteRecoverableJoins, {messageRowid});
}

void ChatStoreWriter::deleteMessage(int64_t messageRowid) {
    requireTriggers("Deleting a message");
    changeOne(kDeleteAttachmentJoins, {messageRowid});
    if (era_ >= E::Recent) {
        changeOne(kDeleteRecoverableParts, {messageRowid});
        changeOne(kDeleteRecoverableJoins, {messageRowid});
    }
    changeOne(kDeleteJoinsOfMessage, {messageRowid});
    changeOne(kDeleteMessage, {messageRowid}); // when no trigger took it already
}

void ChatStoreWriter::moveChatToRecentlyDeleted(int64_t chatRowid, int64_t deleteDate) {
    requireEra(E::Recent, "Recently Deleted");
    requireTriggers("Moving a conversation to Recently Deleted");
    for (int64_t message : column(db_, kMessagesOfChat, chatRowid)) {
        const Body body = readBody(message);
        std::optional<std::string> partText = body.attributedBody;
        if (!partText && body.text) {
            partText = TypedStreamWriter::attributedBody(*body.text);
        }
        changeOne(kInsertRecoverable, {chatRowid, message, deleteDate});
        if (partText) {
            Statement s = prepared(db_, kInsertRecoverablePart);
            s.bindInt64(1, chatRowid);
            s.bindInt64(2, message);
            s.bindInt64(3, deleteDate);
            bindBlob(s, 4, partText);
            runToEnd(s);
        }
        changeOne("DELETE FROM chat_message_join WHERE chat_id = ? AND message_id = ?",
                  {chatRowid, message});
    }
}

void ChatStoreWriter::deleteChat(int64_t chatRowid) {
    requireTriggers("Deleting a conversation");
    if (era_ >= E::Recent) {
        // Messages only in this chat's Recently Deleted go with it, by the
        // recoverable join's trigger.
        changeOne(kDeleteRecoverablePartsOfChat, {chatRowid});
        changeOne(kDeleteRecoverableOfChat, {chatRowid});
    }
    if (era_ >= E::BeforeEdits) {
        Statement s = prepared(db_, kRecordDeletedChat);
        s.bindInt64(1, 0);
        s.bindInt64(2, chatRowid);
        runToEnd(s);
    }
    changeOne(kDeleteMembers, {chatRowid});
    // The chat's trigger removes its joins, and theirs the messages left in
    // no chat.
    changeOne(kDeleteChat, {chatRowid});
}

} // namespace orlune::samplestore
