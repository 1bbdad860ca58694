#include "helper/ShadowDBTools.hpp"

#include <algorithm>

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

std::vector<MessageHit> ShadowDBTools::search(const std::string& match, int limit) {
    std::vector<MessageHit> hits;
    const core::QueryBounds limits = bounds();
    for (core::SearchResult& result : db_->search(match, limit, limits).results) {
        MessageHit hit;
        hit.guid = std::move(result.guid);
        hit.chatId = std::move(result.chatId);
        hit.chatName = std::move(result.chatName);
        hit.sender = std::move(result.sender);
        hit.text = std::move(result.text);
        hit.timestamp = result.timestamp;
        hit.isFromMe = result.isFromMe;
        hit.rank = result.rank;
        for (const core::StoredReaction& reaction : db_->reactionsOn(hit.guid)) {
            hit.reactions.push_back({reaction.kind, reaction.emoji});
        }
        for (const core::ShadowAttachment& attachment : db_->attachmentsOf(hit.guid)) {
            if (!attachment.hidden) {
                hit.attachmentKinds.push_back(attachment.kind);
            }
        }
        hits.push_back(std::move(hit));
    }
    return hits;
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
