// The read-only facade: opening the file for reading, and each read handed
// to the table group that owns its tables.

#include "shadow/ShadowDBReader.hpp"

#include "shadow/ShadowSchema.hpp"
#include "sql/StoreConnection.hpp"

namespace orlune::core {

ShadowDBReader::ShadowDBReader(Unopened, std::string path) : connection_(std::move(path)) {}

ShadowDBReader::ShadowDBReader(const std::string& path) : connection_(path) {
    if (pathIsMissing(path)) {
        throw Error(Error::Kind::failedToOpen, "unable to open database file: nothing at " + path);
    }
    if (auto problem = fileProblem(path)) {
        throw Error(Error::Kind::failedToOpen, *problem);
    }
    connection_.open("mode=ro", SQLITE_OPEN_READONLY);
}

ShadowDBReader::~ShadowDBReader() = default;

void ShadowDBReader::close() {
    connection_.close();
}

int ShadowDBReader::storedVersion() {
    return connection_.guarded([&] { return ShadowSchema::storedVersion(handle()); });
}

int64_t ShadowDBReader::messageCount() {
    return messages_.count();
}

ShadowDBReader::Watermark ShadowDBReader::lastSyncWatermark() {
    return sync_.watermark();
}

ShadowDBReader::SyncMarks ShadowDBReader::syncMarks() {
    return sync_.marks();
}

std::vector<ChatParticipant> ShadowDBReader::fetchChatParticipants(const std::string& chatId) {
    return people_.participantsOf(chatId);
}

std::vector<SearchResult> ShadowDBReader::search(const std::string& query, int limit) {
    return search(query, limit, QueryBounds{}).results;
}

ShadowDBReader::SearchOutcome ShadowDBReader::search(const std::string& query, int limit,
                                                     const QueryBounds& bounds) {
    return search(query, MessageScope{}, limit, bounds);
}

ShadowDBReader::SearchOutcome ShadowDBReader::search(const std::string& query,
                                                     const MessageScope& scope, int limit,
                                                     const QueryBounds& bounds) {
    return searchIndex_.search(query, scope, limit, bounds);
}

std::string ShadowDBReader::searchTimeLimitMessage(const QueryBounds& bounds) {
    return ShadowSearchIndex::timeLimitMessage(bounds);
}

std::vector<StoredReaction> ShadowDBReader::reactionsOn(const std::string& guid) {
    return reactionsAndAttachments_.reactionsOn(guid);
}

std::vector<ShadowAttachment> ShadowDBReader::attachmentsOf(const std::string& guid) {
    return reactionsAndAttachments_.attachmentsOf(guid);
}

bool ShadowDBReader::hasTable(std::string_view name) {
    return connection_.hasTable(name);
}

People ShadowDBReader::people() {
    return people_.people();
}

std::vector<ChatTitleRow> ShadowDBReader::chats() {
    return people_.chats();
}

std::vector<std::string> ShadowDBReader::knownHandles() {
    return people_.knownHandles();
}

ShadowPeopleTables::NamedHandles ShadowDBReader::handlesNamed(std::string_view typed,
                                                              const std::string& defaultRegion) {
    return people_.handlesNamed(typed, defaultRegion);
}

People ShadowDBReader::peopleMentionable(std::string_view text) {
    return people_.peopleMentionable(text);
}

std::optional<std::string> ShadowDBReader::nameOfHandle(const std::string& handle) {
    return people_.nameOfHandle(handle);
}

std::map<std::string, ShadowPeopleTables::HandleOwner>
ShadowDBReader::ownersOf(const std::vector<std::string>& handles) {
    return people_.ownersOf(handles);
}

bool ShadowDBReader::hasPeopleTables() {
    return people_.present();
}

ShadowDBReader::MessageContext ShadowDBReader::messageContext(const std::string& guid, int before,
                                                              int after,
                                                              const QueryBounds& bounds) {
    return messages_.context(guid, before, after, bounds);
}

std::vector<SearchResult> ShadowDBReader::messageThread(const std::string& guid, int limit,
                                                        const QueryBounds& bounds) {
    return messages_.thread(guid, limit, bounds);
}

std::optional<std::string> ShadowDBReader::threadOriginatorOf(const std::string& guid) {
    return messages_.threadOriginatorOf(guid);
}

} // namespace orlune::core
