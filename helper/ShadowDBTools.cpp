#include "helper/ShadowDBTools.hpp"

#include "OrluneCore/SystemLocale.hpp"

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
        MessageHit hit;
        hit.guid = std::move(result.guid);
        hit.chatId = std::move(result.chatId);
        hit.chatName = std::move(result.chatName);
        hit.sender = std::move(result.sender);
        hit.text = std::move(result.text);
        hit.timestamp = result.timestamp;
        hit.isFromMe = result.isFromMe;
        hit.rank = result.rank;
        hit.senderName = std::move(result.senderName);
        hit.chatTitle = std::move(result.chatTitle);
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
