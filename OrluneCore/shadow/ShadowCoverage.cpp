// What the shadow database covers (ShadowDBReader::coverage): counts read
// from the copied tables and from what the sync recorded.

#include "shadow/ShadowDBReader.hpp"
#include "time/StoreTime.hpp"

namespace orlune::core {

namespace {

constexpr std::string_view kFirstDate =
    "SELECT timestamp FROM messages WHERE timestamp > 0 AND deleted_at IS NULL\n"
    "ORDER BY timestamp ASC LIMIT 1";
constexpr std::string_view kLastDate =
    "SELECT timestamp FROM messages WHERE timestamp > 0 AND deleted_at IS NULL\n"
    "ORDER BY timestamp DESC LIMIT 1";
constexpr std::string_view kChats =
    "SELECT COUNT(*) FROM (SELECT DISTINCT chat_id FROM messages WHERE deleted_at IS NULL)";
constexpr std::string_view kChatsExcluded = "SELECT COUNT(*) FROM excluded_chats";
constexpr std::string_view kRecentlyDeleted = "SELECT COUNT(*) FROM recently_deleted";
constexpr std::string_view kAttachmentsNotDownloaded =
    "SELECT COUNT(*) FROM attachments WHERE downloaded = 0 AND hidden = 0";

std::optional<int64_t> firstValue(sqlite::Connection& db, std::string_view sql) {
    sqlite::Statement query = db.prepare(sql);
    if (!query.step() || query.isNull(0)) {
        return std::nullopt;
    }
    return query.columnInt64(0);
}

} // namespace

std::optional<MessageTimeSpan> ShadowDBReader::messageTimeSpan() {
    return connection_.guarded([&]() -> std::optional<MessageTimeSpan> {
        const std::optional<int64_t> first = firstValue(connection_.db(), kFirstDate);
        const std::optional<int64_t> last = firstValue(connection_.db(), kLastDate);
        if (!first || !last) {
            return std::nullopt;
        }
        const std::optional<Instant> from = instantFromStoreDate(*first);
        const std::optional<Instant> to = instantFromStoreDate(*last);
        if (!from || !to) {
            return std::nullopt;
        }
        return MessageTimeSpan{*from, *to};
    });
}

Coverage ShadowDBReader::coverage() {
    Coverage coverage;
    coverage.messages = messageCount();
    coverage.span = messageTimeSpan();
    coverage.leftOut = sync_.marks().leftOut;
    connection_.guarded([&] {
        coverage.chats = firstValue(connection_.db(), kChats).value_or(0);
        if (connection_.hasTable("excluded_chats")) {
            coverage.chatsExcluded = firstValue(connection_.db(), kChatsExcluded).value_or(0);
        }
        if (connection_.hasTable("recently_deleted")) {
            coverage.recentlyDeleted = firstValue(connection_.db(), kRecentlyDeleted).value_or(0);
        }
        if (connection_.hasTable("attachments")) {
            coverage.attachmentsNotDownloaded =
                firstValue(connection_.db(), kAttachmentsNotDownloaded).value_or(0);
        }
    });
    return coverage;
}

} // namespace orlune::core
