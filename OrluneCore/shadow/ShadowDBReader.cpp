#include "shadow/ShadowDBReader.hpp"

#include "base/Environment.hpp"
#include "shadow/ShadowSchema.hpp"
#include "sql/StoreConnection.hpp"

namespace orlune::core {

namespace {

constexpr std::string_view kSelectWatermark =
    "SELECT last_timestamp, last_rowid FROM sync_state WHERE id = 1";

constexpr std::string_view kCountMessages =
    "SELECT COUNT(*) FROM messages WHERE deleted_at IS NULL";

constexpr std::string_view kSelectSyncMarks =
    "SELECT message_rowid, join_rowid, join_message_id, join_chat_id FROM sync_marks WHERE id = 1";

constexpr std::string_view kSelectParticipants = "SELECT chat_id, handle_id, handle, service\n"
                                                 "FROM chat_participants\n"
                                                 "WHERE chat_id = ?\n"
                                                 "ORDER BY handle_id ASC";

} // namespace

ShadowDBReader::ShadowDBReader(Unopened, std::string path) : path_(std::move(path)) {}

ShadowDBReader::ShadowDBReader(const std::string& path) : path_(path) {
    if (pathIsMissing(path_)) {
        throw Error(Error::Kind::failedToOpen, "unable to open database file: nothing at " + path_);
    }
    if (auto problem = fileProblem(path_)) {
        throw Error(Error::Kind::failedToOpen, *problem);
    }
    openConnection("mode=ro", SQLITE_OPEN_READONLY);
}

void ShadowDBReader::openConnection(std::string_view query, int flags) {
    if (db_.open(fileUri(path_, query), flags | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX) !=
        SQLITE_OK) {
        const std::string message = db_.errorMessage();
        db_.close();
        throw Error(Error::Kind::failedToOpen, message);
    }
    sqlite3_extended_result_codes(handle(), 1);
    sqlite3_busy_timeout(handle(), static_cast<int>(kBusyTimeout.count()));
    ShadowSchema::checkCompatible(handle(), path_);
}

ShadowDBReader::~ShadowDBReader() = default;

void ShadowDBReader::close() {
    db_.close();
}

int ShadowDBReader::storedVersion() {
    return guarded([&] { return ShadowSchema::storedVersion(handle()); });
}

int64_t ShadowDBReader::messageCount() {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kCountMessages);
        return query.step() ? query.columnInt64(0) : 0;
    });
}

ShadowDBReader::Watermark ShadowDBReader::lastSyncWatermark() {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kSelectWatermark);
        Watermark watermark;
        if (query.step()) {
            watermark.timestamp = query.columnInt64(0);
            watermark.rowid = query.columnInt64(1);
        }
        return watermark;
    });
}

ShadowDBReader::SyncMarks ShadowDBReader::syncMarks() {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kSelectSyncMarks);
        SyncMarks marks;
        if (query.step()) {
            marks.messageRowid = query.columnInt64(0);
            marks.joinRowid = query.columnInt64(1);
            marks.joinMessageId = query.columnInt64(2);
            marks.joinChatId = query.columnInt64(3);
        }
        return marks;
    });
}

std::vector<ChatParticipant> ShadowDBReader::fetchChatParticipants(const std::string& chatId) {
    return guarded([&] {
        sqlite::Statement query = db_.prepare(kSelectParticipants);
        query.bindText(1, chatId);
        std::vector<ChatParticipant> participants;
        while (query.step()) {
            // Braces: clang before 16 has no parenthesized aggregate
            // initialisation.
            participants.push_back(ChatParticipant{query.columnText(0), query.columnInt64(1),
                                                   query.columnText(2),
                                                   query.columnOptionalText(3)});
        }
        return participants;
    });
}

} // namespace orlune::core
