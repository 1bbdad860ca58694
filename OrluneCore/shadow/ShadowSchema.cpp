#include "shadow/ShadowSchema.hpp"

#include "base/EmojiText.hpp"
#include "base/SpacelessText.hpp"
#include "sql/ShadowDBError.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

constexpr std::string_view kSelectVersion = "PRAGMA user_version";
constexpr std::string_view kSelectTables = "SELECT name FROM sqlite_master\n"
                                           "WHERE type = 'table' AND name NOT LIKE 'sqlite_%'\n"
                                           "ORDER BY name";

// The tables every version has; a file with other tables and without these
// belongs to another program.
constexpr std::array<std::string_view, 4> kShadowTables = {"messages", "messages_fts",
                                                           "chat_participants", "sync_state"};

std::vector<std::string_view> originalSchema() {
    std::vector<std::string_view> all(shadow_schema::kStatements.begin(),
                                      shadow_schema::kStatements.end());
    all.insert(all.end(), shadow_schema::kSyncMarksStatements.begin(),
               shadow_schema::kSyncMarksStatements.end());
    return all;
}

constexpr std::string_view kSelectTexts = "SELECT guid, text FROM messages";

// The emoji of every stored message, read from its text.
void fillMessageEmoji(sqlite3* db) {
    sqlite::Statement texts;
    texts.prepare(db, kSelectTexts);
    sqlite::Statement insert;
    insert.prepare(db, shadow_schema::kInsertMessageEmoji);
    while (texts.step()) {
        const std::string guid = texts.columnText(0);
        for (const std::string& emoji : EmojiText::indexKeys(texts.columnText(1))) {
            insert.reset();
            insert.bindText(1, emoji);
            insert.bindText(2, guid);
            insert.run();
        }
    }
}

// The spaced text of every stored message in a script written without
// spaces.
void fillSpacedTexts(sqlite3* db) {
    sqlite::Statement texts;
    texts.prepare(db, kSelectTexts);
    sqlite::Statement insert;
    insert.prepare(db, shadow_schema::kInsertSpacedText);
    while (texts.step()) {
        const std::string text = texts.columnText(1);
        if (SpacelessText::contains(text)) {
            insert.reset();
            insert.bindText(1, SpacelessText::spaced(text));
            insert.bindText(2, texts.columnText(0));
            insert.run();
        }
    }
}

// The thread column of messages and its index, and every message read again
// to fill it, each compared with its copy (reread_all). A database that
// already has the column keeps it.
void addThreads(sqlite3* db) {
    sqlite::Statement has;
    has.prepare(db, shadow_schema::kHasThreadOriginator);
    const bool present = has.step() && has.columnInt(0) > 0;
    has.finalize();
    if (!present) {
        sqlite::exec(db, shadow_schema::kAddThreadOriginator);
    }
    sqlite::exec(db, shadow_schema::kCreateIndexThreadOriginator);
    sqlite::exec(db, shadow_schema::kRereadEverything);
    sqlite::exec(db, shadow_schema::kRereadEverythingMarks);
    sqlite::exec(db, shadow_schema::kSeedStoreDeletions);
}

} // namespace

const std::vector<ShadowSchema::Migration>& ShadowSchema::migrations() {
    // Append new steps at the end; never change a step that has shipped.
    static const std::vector<Migration> steps = {
        {1, "messages, full-text index, chat membership, sync cursor, catch-up marks",
         originalSchema()},
        {2, "the messaging store the database copies", {shadow_schema::kCreateSyncSource}},
        {3,
         "people, their handles, chats and their titles",
         {shadow_schema::kPeopleStatements.begin(), shadow_schema::kPeopleStatements.end()}},
        {4,
         "reactions, attachments, and what deletions are noticed by",
         {shadow_schema::kCreateReactions, shadow_schema::kCreateIndexReactionsGuid,
          shadow_schema::kCreateAttachments, shadow_schema::kCreateAttachmentsFollowTrigger,
          shadow_schema::kCreateRecentlyDeleted, shadow_schema::kCreateStoreDeletions,
          shadow_schema::kSeedStoreDeletions, shadow_schema::kRereadEverything,
          shadow_schema::kRereadEverythingMarks}},
        {5,
         "every chat of a message in several chats",
         {shadow_schema::kMessageChatsStatements.begin(),
          shadow_schema::kMessageChatsStatements.end()}},
        {6,
         "attachments found by their file names",
         {shadow_schema::kAttachmentNamesStatements.begin(),
          shadow_schema::kAttachmentNamesStatements.end()}},
        {7,
         "the emoji of each message",
         {shadow_schema::kMessageEmojiStatements.begin(),
          shadow_schema::kMessageEmojiStatements.end()},
         fillMessageEmoji},
        {8,
         "text in scripts written without spaces, found by its parts",
         {shadow_schema::kSpacedStatements.begin(), shadow_schema::kSpacedStatements.end()},
         fillSpacedTexts},
        {9, "chats left out by the person's choice", {shadow_schema::kCreateExcludedChats}},
        {10,
         "how many of the store's rows were left out, by why",
         {shadow_schema::kLeftOutStatements.begin(), shadow_schema::kLeftOutStatements.end()}},
        {11, "the thread each reply belongs to", {}, addThreads},
        {12,
         "the meaning of each message as a vector",
         {shadow_schema::kVectorStatements.begin(), shadow_schema::kVectorStatements.end()}},
    };
    return steps;
}

int ShadowSchema::latestVersion() {
    return migrations().back().version;
}

int ShadowSchema::storedVersion(sqlite3* db) {
    sqlite::Statement query;
    query.prepare(db, kSelectVersion);
    return query.step() ? query.columnInt(0) : 0;
}

void ShadowSchema::checkCompatible(sqlite3* db, const std::string& path) {
    int version = 0;
    std::vector<std::string> tables;
    try {
        version = storedVersion(db);
        sqlite::Statement query;
        query.prepare(db, kSelectTables);
        while (query.step()) {
            tables.push_back(query.columnText(0));
        }
    } catch (const sqlite::Error& error) {
        if (error.primaryCode() == SQLITE_NOTADB) {
            throw ShadowDBError(ShadowDBError::Kind::failedToOpen,
                                std::string(error.what()) + ": " + path +
                                    " is not a shadow database; it was left as it was");
        }
        throw ShadowDBError::fromSQLite(error, path);
    }
    if (version > latestVersion()) {
        throw ShadowDBError(ShadowDBError::Kind::failedToOpen,
                            path + " was written by a newer version of Orlune (database version " +
                                std::to_string(version) + "; this version knows up to " +
                                std::to_string(latestVersion()) +
                                "). It was left as it was: use the newer version, or delete the "
                                "file and sync again to rebuild it.");
    }
    if (tables.empty()) {
        return;
    }
    const bool shadow = std::all_of(kShadowTables.begin(), kShadowTables.end(), [&](auto name) {
        return std::find(tables.begin(), tables.end(), name) != tables.end();
    });
    if (!shadow) {
        std::string names;
        for (const std::string& table : tables) {
            names += (names.empty() ? "" : ", ") + table;
        }
        throw ShadowDBError(ShadowDBError::Kind::failedToOpen,
                            path + " is not a shadow database (its tables: " + names +
                                "); it was left as it was");
    }
}

void ShadowSchema::migrate(sqlite3* db, const std::vector<Migration>& steps) {
    int current = storedVersion(db);
    for (const Migration& step : steps) {
        if (step.version <= current) {
            continue;
        }
        sqlite::Transaction transaction(db, sqlite::Transaction::Mode::immediate);
        // Read again under the write lock: another process may have upgraded
        // the database meanwhile.
        current = storedVersion(db);
        if (step.version <= current) {
            continue;
        }
        for (std::string_view statement : step.statements) {
            sqlite::exec(db, statement);
        }
        if (step.apply != nullptr) {
            step.apply(db);
        }
        sqlite::exec(db, "PRAGMA user_version = " + std::to_string(step.version));
        transaction.commit();
        current = step.version;
    }
}

} // namespace orlune::core
