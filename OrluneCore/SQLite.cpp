#include "OrluneCore/SQLite.hpp"

#include "OrluneCore/Utf8.hpp"

#include <cstring>

namespace orlune::core::sqlite {

std::string errorMessage(sqlite3* db) {
    if (db == nullptr) {
        return "Unknown error";
    }
    const char* message = sqlite3_errmsg(db);
    if (message == nullptr || *message == '\0') {
        return "Unknown error";
    }
    return message;
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        db_ = other.release();
    }
    return *this;
}

int Connection::open(const std::string& filename, int flags) {
    close();
    return sqlite3_open_v2(filename.c_str(), &db_, flags, nullptr);
}

void Connection::close() {
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        finalize();
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

int Statement::prepare(sqlite3* db, std::string_view sql, size_t* tail) {
    finalize();
    const char* end = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, &end);
    if (rc != SQLITE_OK) {
        finalize();
    }
    if (tail != nullptr) {
        *tail = end == nullptr ? 0 : sql.size() - static_cast<size_t>(end - sql.data());
    }
    return rc;
}

void Statement::finalize() {
    if (stmt_ != nullptr) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

void Statement::bindText(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void Statement::bindOptionalText(int index, const std::optional<std::string>& text) {
    if (text) {
        bindText(index, *text);
    } else {
        bindNull(index);
    }
}

std::string Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr) {
        return {};
    }
    return utf8::sanitize(std::string_view(text, std::strlen(text)));
}

std::optional<std::string> Statement::columnOptionalText(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return columnText(column);
}

std::string Statement::columnBytes(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    if (data == nullptr || size <= 0) {
        return {};
    }
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

std::string Statement::columnName(int column) const {
    const char* name = sqlite3_column_name(stmt_, column);
    return name == nullptr ? std::string() : std::string(name);
}

int exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        error = (message != nullptr && *message != '\0') ? message : "Unknown error";
    }
    sqlite3_free(message);
    return rc;
}

} // namespace orlune::core::sqlite
