#include "helper/ShadowDBTools.hpp"

#include "answer/AnswerFinder.hpp"
#include "answer/AnswerWindows.hpp"
#include "base/SystemLocale.hpp"
#include "records/AttachmentKind.hpp"

#include <algorithm>
#include <unordered_set>

namespace orlune::helper {

namespace {

nlohmann::json cell(const core::SQLiteValue& value) {
    switch (value.kind()) {
    case core::SQLiteValue::Kind::integer:
        return value.asInteger();
    case core::SQLiteValue::Kind::real:
        return value.asReal();
    case core::SQLiteValue::Kind::text:
        return value.asText();
    case core::SQLiteValue::Kind::blob:
        return "<blob of " + std::to_string(value.asBlob().size()) + " bytes>";
    case core::SQLiteValue::Kind::null:
        break;
    }
    return nullptr;
}

// The hit for `result`, with the reactions standing on it and the kinds of
// its visible attachments read from `db`; a voice message's transcript is
// marked as one (core::kTranscriptMark).
MessageHit hitOf(core::ShadowDBReader& db, core::SearchResult& result) {
    MessageHit hit;
    hit.guid = std::move(result.guid);
    hit.chatId = std::move(result.chatId);
    hit.chatName = std::move(result.chatName);
    hit.sender = std::move(result.sender);
    hit.text = std::move(result.text);
    hit.timestamp = result.timestamp;
    hit.isFromMe = result.isFromMe;
    hit.oneToOne = !result.isGroup;
    hit.rank = result.rank;
    hit.senderName = std::move(result.senderName);
    hit.chatTitle = std::move(result.chatTitle);
    for (const core::StoredReaction& reaction : db.reactionsOn(hit.guid)) {
        hit.reactions.push_back({reaction.kind, reaction.emoji});
    }
    for (const core::ShadowAttachment& attachment : db.attachmentsOf(hit.guid)) {
        if (!attachment.hidden) {
            hit.attachmentKinds.push_back(attachment.kind);
            hit.attachmentNames.push_back(attachment.name.value_or(""));
        }
    }
    if (core::isVoiceTranscript(hit.text, hit.attachmentKinds)) {
        hit.text = std::string(core::kTranscriptMark) + hit.text;
    }
    return hit;
}

} // namespace

ShadowDBTools::ShadowDBTools(const std::string& path)
    : db_(std::make_unique<core::ShadowDBReader>(path)) {}

core::QueryBounds ShadowDBTools::bounds() const {
    core::QueryBounds bounds;
    bounds.timeLimit = kStatementBudget;
    if (deadline_ != Clock::time_point::max()) {
        auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        bounds.timeLimit = std::clamp(remaining, std::chrono::milliseconds(0), kStatementBudget);
    }
    bounds.maxCellBytes = kCellBytes;
    bounds.maxResultBytes = kResultBytes;
    return bounds;
}

QueryTable ShadowDBTools::query(const std::string& sql, int limit) {
    const core::QueryBounds limits = bounds();
    core::ShadowQueryResult result = db_->executeReadOnly(sql, limit, limits);
    QueryTable table;
    table.columns = result.columns;
    table.cut = limits.describeCut(result.cutCells, result.stoppedAtSizeLimit, result.rows.size());
    for (const auto& row : result.rows) {
        std::vector<nlohmann::json> cells;
        cells.reserve(table.columns.size());
        for (const std::string& column : table.columns) {
            auto it = row.find(column);
            cells.push_back(it == row.end() ? nlohmann::json(nullptr) : cell(it->second));
        }
        table.rows.push_back(std::move(cells));
    }
    return table;
}

std::vector<MessageHit> ShadowDBTools::search(const std::string& match, int limit,
                                              const core::SearchFilters& filters) {
    std::vector<MessageHit> hits;
    const core::QueryBounds limits = bounds();
    core::FilteredSearch found;
    try {
        found =
            core::searchMessages(*db_, match, filters, limit, limits, core::TimeContext::system(),
                                 core::systemPhoneRegion(core::Environment::process()));
    } catch (const core::SearchFilterError& error) {
        throw core::ShadowDBError(core::ShadowDBError::Kind::queryFailed, error.what());
    }
    for (core::SearchResult& result : found.outcome.results) {
        hits.push_back(hitOf(*db_, result));
    }
    return hits;
}

std::optional<AnswerHits> ShadowDBTools::findAnswer(std::string_view question, int limit) {
    core::AnswerFinder finder(*db_);
    finder.useSemanticSearch(embeddings_.get());
    core::FoundAnswer found = finder.find(question, core::TimeContext::system(), limit, bounds());
    AnswerHits answer;
    answer.understood = std::move(found.understood);
    answer.widened = found.widened;
    answer.widenedTo = std::move(found.widenedTo);
    answer.outsideCopied = std::move(found.outsideCopied);
    answer.nothingToLookFor = found.reading.empty();
    answer.askedFor = found.reading.askedFor;
    answer.when = found.reading.when;
    for (core::RankedMessage& ranked : found.messages) {
        MessageHit hit = hitOf(*db_, ranked.message);
        hit.sameText = ranked.sameText;
        answer.hits.push_back(std::move(hit));
    }
    return answer;
}

MessageContextHits ShadowDBTools::messageContext(const std::string& guid, int before, int after) {
    core::ShadowDBReader::MessageContext context =
        db_->messageContext(guid, before, after, bounds());
    MessageContextHits hits;
    if (context.message) {
        hits.message = hitOf(*db_, *context.message);
    }
    for (core::SearchResult& result : context.before) {
        hits.before.push_back(hitOf(*db_, result));
    }
    for (core::SearchResult& result : context.after) {
        hits.after.push_back(hitOf(*db_, result));
    }
    return hits;
}

MessageWindowHits ShadowDBTools::conversationWindow(const std::string& guid) {
    const core::QueryBounds limits = bounds();
    core::ShadowDBReader::MessageContext context =
        db_->messageContext(guid, 0, core::kWindowMessages, limits);
    MessageWindowHits window;
    if (!context.message) {
        return window;
    }
    std::unordered_set<std::string> inThread;
    for (core::SearchResult& result : db_->messageThread(guid, core::kThreadMessages, limits)) {
        inThread.insert(result.guid);
        window.thread.push_back(hitOf(*db_, result));
    }
    const size_t length = core::windowLength(*context.message, context.after);
    for (size_t i = 0; i < length; ++i) {
        if (inThread.count(context.after[i].guid) == 0) {
            window.next.push_back(hitOf(*db_, context.after[i]));
        }
    }
    return window;
}

std::vector<std::string> ShadowDBTools::listTables() {
    return db_->listTables();
}

std::vector<TableColumn> ShadowDBTools::describeTable(const std::string& table) {
    std::vector<TableColumn> columns;
    for (const core::ColumnInfo& info : db_->describeTable(table)) {
        columns.push_back({info.name, info.type, info.notNull});
    }
    return columns;
}

} // namespace orlune::helper
