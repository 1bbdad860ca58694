#include "tests/support/DatabaseProbe.hpp"

#include "shadow/ShadowDBReader.hpp"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace orlune::testing {

namespace sqlite = core::sqlite;

DatabaseProbe::DatabaseProbe(const std::string& path) {
    if (db_.open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
        throw std::runtime_error("cannot open " + path + ": " + db_.errorMessage());
    }
}

std::vector<std::vector<std::string>> DatabaseProbe::rows(const std::string& sql) {
    sqlite::Statement statement = db_.prepare(sql);
    std::vector<std::vector<std::string>> result;
    while (statement.step()) {
        std::vector<std::string> row;
        for (int i = 0; i < statement.columnCount(); ++i) {
            row.push_back(statement.isNull(i) ? "NULL" : statement.columnText(i));
        }
        result.push_back(std::move(row));
    }
    return result;
}

std::string DatabaseProbe::value(const std::string& sql) {
    auto all = rows(sql);
    return all.empty() ? std::string("<no row>") : all.front().front();
}

void DatabaseProbe::exec(const std::string& sql) {
    db_.exec(sql);
}

std::string DatabaseProbe::ftsIntegrity() {
    try {
        db_.exec("INSERT INTO messages_fts(messages_fts, rank) VALUES('integrity-check', 1)");
        return "ok";
    } catch (const sqlite::Error& error) {
        return error.what();
    }
}

std::vector<int64_t> DatabaseProbe::leafPages(const std::string& btree) {
    std::vector<int64_t> pages;
    for (const auto& row : rows("SELECT pageno FROM dbstat WHERE name = '" + btree +
                                "' AND pagetype = 'leaf' ORDER BY pageno")) {
        pages.push_back(std::stoll(row.at(0)));
    }
    return pages;
}

void damagePage(const std::string& path, int64_t page) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char header[18] = {};
    file.read(reinterpret_cast<char*>(header), sizeof header);
    int64_t pageSize = (int64_t{header[16]} << 8) | header[17];
    if (pageSize == 1) {
        pageSize = 65536;
    }
    if (!file || pageSize < 512 || page < 1) {
        throw std::runtime_error("cannot damage page " + std::to_string(page) + " of " + path);
    }
    file.seekp((page - 1) * pageSize);
    const std::string garbage(static_cast<size_t>(pageSize), '\xFF');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    if (!file) {
        throw std::runtime_error("cannot write page " + std::to_string(page) + " of " + path);
    }
}

std::optional<std::string> FakeEnvironment::variable(const std::string& name) const {
    auto found = variables.find(name);
    if (found == variables.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::string> sortedFoundGuids(const std::string& path, const std::string& query,
                                          const core::MessageScope& scope) {
    core::ShadowDBReader reader(path);
    std::vector<std::string> guids;
    for (const core::SearchResult& result :
         reader.search(query, scope, 50, core::QueryBounds{}).results) {
        guids.push_back(result.guid);
    }
    std::sort(guids.begin(), guids.end());
    return guids;
}

} // namespace orlune::testing
