#include "OrluneCore/ShadowSync.hpp"

#include "OrluneCore/ChatDBReader.hpp"
#include "OrluneCore/ShadowDB.hpp"

namespace orlune::core {

namespace {

std::string describe(ShadowSyncError::Kind kind, const std::string& message) {
    switch (kind) {
    case ShadowSyncError::Kind::syncFailed:
        return "Sync failed: " + message;
    case ShadowSyncError::Kind::chatDBNotFound:
        return "iMessage database not found. Ensure Full Disk Access is granted.";
    }
    return message;
}

} // namespace

ShadowSyncError::ShadowSyncError(Kind kind, std::string message)
    : kind_(kind), message_(std::move(message)), description_(describe(kind_, message_)) {}

ShadowSync::ShadowSync(const std::optional<std::string>& chatDBPath,
                       const std::optional<std::string>& shadowDBPath,
                       const Environment& environment)
    : chatDBPath_(chatDBPath ? *chatDBPath : ChatDBReader::defaultChatDBPath(environment)),
      shadowDBPath_(shadowDBPath ? *shadowDBPath : ShadowDB::defaultShadowDBPath(environment)) {}

int64_t ShadowSync::performSync(const ProgressCallback& progress) {
    if (!pathExists(chatDBPath_)) {
        throw ShadowSyncError(ShadowSyncError::Kind::chatDBNotFound);
    }

    ShadowDB shadow(shadowDBPath_);
    shadow.createSchemaIfNeeded();
    ChatDBReader reader(chatDBPath_);

    shadow.replaceChatParticipants(reader.fetchChatParticipants());

    ShadowDB::Watermark cursor = shadow.lastSyncWatermark();
    int64_t written = 0;
    int64_t rowsRead = 0;
    // The live message count, read once when the first page arrives and then
    // kept up to date from each batch's growth, instead of counting the whole
    // table after every page (which makes a first sync quadratic).
    std::optional<int64_t> count;

    for (;;) {
        FetchResult page = reader.fetchMessages(cursor.timestamp, cursor.rowid, kBatchSize);
        if (page.rawRowCount < 1) {
            return written;
        }
        if (!count) {
            count = shadow.messageCount();
        }
        cursor.timestamp = page.lastRawTimestamp;
        cursor.rowid = page.lastRawRowid;
        if (!page.messages.empty()) {
            ShadowDB::BatchResult batch = shadow.insertBatchCountingGrowth(page.messages);
            written += batch.written;
            *count += batch.countGrowth;
        }
        shadow.updateSyncState(cursor.timestamp, cursor.rowid, *count);

        rowsRead += page.rawRowCount;
        if (progress) {
            progress(rowsRead);
        }
        if (page.rawRowCount < kBatchSize) {
            return written;
        }
    }
}

int64_t ShadowSync::messageCount() const {
    ShadowDB shadow(shadowDBPath_);
    return shadow.messageCount();
}

} // namespace orlune::core
