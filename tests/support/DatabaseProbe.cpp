#include "tests/support/DatabaseProbe.hpp"

#include <stdexcept>

namespace orlune::testing {

namespace sqlite = core::sqlite;

DatabaseProbe::DatabaseProbe(const std::string& path) {
    if (db_.open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
        throw std::runtime_error("cannot open " + path + ": " + db_.errorMessage());
    }
}

std::vector<std::vector<std::string>> DatabaseProbe::rows(const std::string& sql) {
    sqlite::Statement statement;
    if (statement.prepare(db_.get(), sql) != SQLITE_OK) {
        throw std::runtime_error(db_.errorMessage());
    }
    std::vector<std::vector<std::string>> result;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < statement.columnCount(); ++i) {
            row.push_back(statement.isNull(i) ? "NULL" : statement.columnText(i));
        }
        result.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
        throw std::runtime_error(db_.errorMessage());
    }
    return result;
}

std::string DatabaseProbe::value(const std::string& sql) {
    auto all = rows(sql);
    return all.empty() ? std::string("<no row>") : all.front().front();
}

void DatabaseProbe::exec(const std::string& sql) {
    std::string error;
    if (sqlite::exec(db_.get(), sql.c_str(), error) != SQLITE_OK) {
        throw std::runtime_error(error);
    }
}

std::string DatabaseProbe::ftsIntegrity() {
    std::string error;
    int rc = sqlite::exec(db_.get(),
                          "INSERT INTO messages_fts(messages_fts, rank) VALUES('integrity-check', 1)",
                          error);
    return rc == SQLITE_OK ? "ok" : error;
}

std::optional<std::string> FakeEnvironment::variable(const std::string& name) const {
    auto found = variables.find(name);
    if (found == variables.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace orlune::testing
